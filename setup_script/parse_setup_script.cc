#include "setup_script/parse_setup_script.h"

#include <array>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "setup_script/hex_number.h"
#include "setup_script/script_error.h"
#include "setup_script/tokenizer.h"

namespace lumo {
namespace {

enum class Keyword {
    update_covereditor,
    check_language,
    no_reboot,
    mp3_install,
    mp3pro_install,
    mpeg2_install,
    no_regentries,
    version_lo,
    version_hi,
    product_name,
    product_title,
    use_subdir,
    set_reg_str,
    set_reg_dw,
};

struct KeywordName {
    std::string_view text;
    Keyword keyword;
};

// Looked up in this order, before the flag words.
constexpr std::array<KeywordName, 14> keywords{{
    {"UPDATE_COVEREDITOR", Keyword::update_covereditor},
    {"CHECK_LANGUAGE", Keyword::check_language},
    {"NO_REBOOT", Keyword::no_reboot},
    {"MP3_INSTALL", Keyword::mp3_install},
    {"MP3PRO_INSTALL", Keyword::mp3pro_install},
    {"MPEG2_INSTALL", Keyword::mpeg2_install},
    {"NO_REGENTRIES", Keyword::no_regentries},
    {"VERSION_LO", Keyword::version_lo},
    {"VERSION_HI", Keyword::version_hi},
    {"PRODUCT_NAME", Keyword::product_name},
    {"PRODUCT_TITLE", Keyword::product_title},
    {"USE_SUBDIR", Keyword::use_subdir},
    {"SET_REG_STR", Keyword::set_reg_str},
    {"SET_REG_DW", Keyword::set_reg_dw},
}};

struct FlagWord {
    std::string_view text;
    uint32_t bit;
};

// Looked up in this order; COVERDESIGNERDIR comes before CDIDIR.
constexpr std::array<FlagWord, 15> flag_words{{
    {"WIN95", entry_flag::win95},
    {"WINNT", entry_flag::winnt},
    {"WIN31", entry_flag::win31},
    {"WIN2000", entry_flag::win2000},
    {"DRIVERDIR", entry_flag::driverdir},
    {"WINDOWSDIR", entry_flag::windowsdir},
    {"SYSTEMDIR", entry_flag::systemdir},
    {"COVERDIR", entry_flag::coverdir},
    {"COVERDESIGNERDIR", entry_flag::coverdesignerdir},
    {"CDIDIR", entry_flag::cdidir},
    {"ONLY_IF_EXISTS", entry_flag::only_if_exists},
    {"ONLY_IF_AVAILABLE", entry_flag::only_if_available},
    {"RENAME_OLD", entry_flag::rename_old},
    {"DELETE", entry_flag::delete_file},
    {"REGDELETE", entry_flag::regdelete},
}};

std::optional<Keyword> find_keyword(std::string_view text) {
    for (const auto& k : keywords) {
        if (keyword_equals(text, k.text)) return k.keyword;
    }
    return std::nullopt;
}

std::optional<uint32_t> find_flag_word(std::string_view text) {
    for (const auto& f : flag_words) {
        if (keyword_equals(text, f.text)) return f.bit;
    }
    return std::nullopt;
}

void set_defaults(SetupRecord& record) {
    // `entries` is left alone: only a parse that reaches the end sets it.
    record.version_lo = 0;
    record.version_hi = 0xFFFFFFFFu;
    record.product_name.reset();
    record.update_flags = 1;
    record.check_language = 0;
    record.product_title.reset();
    record.no_reboot = 0;
    record.mp3_install = 0;
    record.mp3pro_install = 0;
    record.mpeg2_install = 0;
    record.no_regentries = 0;
}

// One parse: the reader, the entries read so far and what the flag words
// before the next entry have gathered. Every step answers with the failure
// that ends the parse, or std::nullopt.
class Parser {
public:
    Parser(SetupRecord& record, ByteSource& source, StorageProbe probe)
        : record_(record), reader_(source), probe_(probe) {}

    std::optional<ScriptError> run() {
        for (;;) {
            std::optional<Token> token;
            if (auto error = next_token(reader_, token, probe_)) return error;
            if (!token) break;
            if (auto error = statement(std::move(*token))) return error;
        }
        if (pending_flags_ != 0) return ScriptError{script_message::flags_without_filename, pending_line_};
        record_.entries = std::move(entries_);
        return std::nullopt;
    }

private:
    // The statement's last token so far: the quoting rule looks at it alone.
    struct Last {
        bool quoted;
        int line;
    };

    std::optional<ScriptError> statement(Token first) {
        last_ = {first.quoted, first.line};
        keyword_line_ = first.line;
        bool string_expected = false;
        bool flags_allowed = true;
        if (auto keyword = find_keyword(first.text)) {
            if (auto error = record_statement(*keyword, string_expected, flags_allowed)) return error;
        } else if (auto bit = find_flag_word(first.text)) {
            add_pending(*bit);
        } else {
            if (auto error = add_file_entry(std::move(first.text))) return error;
            string_expected = true;
        }
        if (!flags_allowed && pending_flags_ != 0) {
            return ScriptError{script_message::flags_without_filename, keyword_line_};
        }
        if (last_.quoted && !string_expected) return ScriptError{script_message::keyword_quoted, last_.line};
        if (!last_.quoted && string_expected) return ScriptError{script_message::string_not_quoted, last_.line};
        return std::nullopt;
    }

    // Carries out a keyword statement, and tells whether its last token must
    // be quoted and whether pending flags may stand before it.
    std::optional<ScriptError> record_statement(Keyword keyword, bool& string_expected, bool& flags_allowed) {
        std::string text;
        std::string second;
        flags_allowed = false;
        switch (keyword) {
        case Keyword::update_covereditor: record_.update_flags |= 2; break;
        case Keyword::check_language: record_.check_language = 1; break;
        case Keyword::no_reboot: record_.no_reboot = 1; break;
        case Keyword::mp3_install: record_.mp3_install = 1; break;
        case Keyword::mp3pro_install: record_.mp3pro_install = 1; break;
        case Keyword::mpeg2_install: record_.mpeg2_install = 1; break;
        case Keyword::no_regentries: record_.no_regentries = 1; break;
        case Keyword::version_lo:
            if (auto error = argument(script_message::no_argument_version_lo, text)) return error;
            read_hex_number(text, record_.version_lo);
            break;
        case Keyword::version_hi:
            if (auto error = argument(script_message::no_argument_version_hi, text)) return error;
            read_hex_number(text, record_.version_hi);
            break;
        case Keyword::product_name:
            if (auto error = argument(script_message::no_argument_product_name, text)) return error;
            record_.product_name = std::move(text);
            string_expected = true;
            break;
        case Keyword::product_title:
            if (auto error = argument(script_message::no_argument_product_title, text)) return error;
            record_.product_title = std::move(text);
            string_expected = true;
            break;
        case Keyword::use_subdir:
            if (auto error = argument(script_message::no_argument_use_subdir, text)) return error;
            pending_subdir_ = std::move(text);
            add_pending(entry_flag::use_subdir);
            string_expected = true;
            flags_allowed = true;
            break;
        case Keyword::set_reg_str: {
            if (auto error = argument(script_message::no_argument_set_reg_str, text)) return error;
            if (auto error = argument(script_message::no_2nd_argument_set_reg_str, second)) return error;
            SetupEntry entry;
            entry.name = std::move(text);
            entry.reg_string = std::move(second);
            string_expected = true;
            flags_allowed = true;
            return add_registry_entry(std::move(entry), entry_flag::set_reg_str);
        }
        case Keyword::set_reg_dw: {
            if (auto error = argument(script_message::no_argument_set_reg_dw, text)) return error;
            if (auto error = argument(script_message::no_2nd_argument_set_reg_dw, second)) return error;
            SetupEntry entry;
            entry.name = std::move(text);
            // Without a leading hexadecimal number the value stays 0.
            read_hex_number(second, entry.reg_dword);
            flags_allowed = true;
            return add_registry_entry(std::move(entry), entry_flag::set_reg_dw);
        }
        }
        return std::nullopt;
    }

    // The next token, whatever it holds: an argument is never a keyword.
    std::optional<ScriptError> argument(const char* missing_message, std::string& text) {
        std::optional<Token> token;
        if (auto error = next_token(reader_, token, probe_)) return error;
        if (!token) return ScriptError{missing_message, keyword_line_};
        last_ = {token->quoted, token->line};
        text = std::move(token->text);
        return std::nullopt;
    }

    void add_pending(uint32_t bit) {
        pending_flags_ |= bit;
        pending_line_ = keyword_line_;
    }

    std::optional<ScriptError> add_file_entry(std::string name) {
        SetupEntry entry;
        entry.flags = pending_flags_;
        entry.name = std::move(name);
        if (entry.flags & entry_flag::use_subdir) entry.subdir = std::move(pending_subdir_);
        pending_subdir_.clear();
        pending_flags_ = 0;
        return add_entry(std::move(entry));
    }

    // A registry statement takes the pending flags, but not a pending
    // subdirectory: that text goes with the cleared flags.
    std::optional<ScriptError> add_registry_entry(SetupEntry entry, uint32_t kind) {
        entry.flags = pending_flags_ | kind;
        pending_flags_ = 0;
        pending_subdir_.clear();
        return add_entry(std::move(entry));
    }

    std::optional<ScriptError> add_entry(SetupEntry entry) {
        if (!make_room_for_one_more(entries_, probe_)) return ScriptError{script_message::mem, keyword_line_};
        entries_.push_back(std::move(entry));
        return std::nullopt;
    }

    SetupRecord& record_;
    ScriptReader reader_;
    StorageProbe probe_;
    std::vector<SetupEntry> entries_;  // in statement order, moved into the record at the end
    uint32_t pending_flags_ = 0;       // flag words and USE_SUBDIR since the last entry
    int pending_line_ = 0;             // where the last of them stood
    std::string pending_subdir_;       // the last USE_SUBDIR, until a file entry takes it
    Last last_{false, 0};
    int keyword_line_ = 0;             // line of the token that began the statement
};

}  // namespace

ScriptOutcome read_setup_script(SetupRecord& record, ByteSource& script, StorageProbe probe) {
    set_defaults(record);
    ScriptOutcome outcome;
    if (auto error = Parser(record, script, probe).run()) {
        outcome.message = error->message;
        outcome.line = error->line;
    } else {
        outcome.ok = true;
    }
    return outcome;
}

ScriptOutcome read_setup_script(SetupRecord& record, std::FILE* script) {
    if (!script) {
        set_defaults(record);
        ScriptOutcome outcome;
        outcome.message = script_message::open_config_file;
        return outcome;
    }
    FileByteSource source(script);
    ScriptOutcome outcome = read_setup_script(record, source);
    std::fclose(script);
    return outcome;
}

bool parse_setup_script(SetupRecord& record, std::FILE* script) {
    ScriptOutcome outcome = read_setup_script(record, script);
    if (!outcome.ok) std::fputs(outcome.message.c_str(), stderr);
    return outcome.ok;
}

bool parse_setup_script(SetupRecord& record, const std::string& path) {
    return parse_setup_script(record, std::fopen(path.c_str(), "rb"));
}

}  // namespace lumo
