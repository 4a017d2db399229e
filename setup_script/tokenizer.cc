#include "setup_script/tokenizer.h"

#include <utility>

namespace lumo {
namespace {

constexpr int end_of_script = -1;
constexpr int line_feed = 0x0A;
constexpr int comment_mark = '#';
constexpr int quote = '"';

// tolower of the "C" locale: only A-Z fold.
char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::optional<ScriptError> next_token(ScriptReader& reader, std::optional<Token>& token, StorageProbe probe) {
    token.reset();
    Token read;
    bool started = false;
    bool in_comment = false;
    for (;;) {
        int c = reader.next_char();
        // Format note: a comment is cut out of the character stream, from the
        // "#" through the line feed that ends it. It neither ends a token nor
        // adds to it, also inside quotes: abc#note<LF>def is the one token abcdef.
        if (in_comment) {
            if (c == line_feed || c == end_of_script) in_comment = false;
            if (c != end_of_script) continue;
        }
        if (c == end_of_script) break;
        if (c == comment_mark) {
            in_comment = true;
            continue;
        }
        if (is_script_whitespace(c) && !read.quoted) {
            if (!started) continue;
            token = std::move(read);
            return std::nullopt;
        }
        if (c == quote) {
            // Format note: a quote in the middle of a bare word opens quoting
            // there; the closing quote ends the token at once.
            if (read.quoted) {
                token = std::move(read);
                return std::nullopt;
            }
            if (!started) read.line = reader.line();
            read.quoted = true;
            started = true;
            continue;
        }
        if (!started) read.line = reader.line();
        if (!make_room_for_one_more(read.text, probe)) return ScriptError{script_message::mem, reader.line()};
        read.text.push_back(static_cast<char>(c));
        started = true;
    }
    if (read.quoted) return ScriptError{script_message::unterminated_string, read.line};
    if (started) token = std::move(read);
    return std::nullopt;
}

bool keyword_equals(std::string_view text, std::string_view keyword) {
    if (text.size() != keyword.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (lower_ascii(text[i]) != lower_ascii(keyword[i])) return false;
    }
    return true;
}

}  // namespace lumo
