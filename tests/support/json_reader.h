// A strict reader of one JSON text, for tests that hold lumopack's JSON to
// what it means rather than to its spelling.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumo::test {

struct JsonValue {
    enum class Kind { null, boolean, number, string, array, object };
    Kind kind = Kind::null;
    bool boolean = false;
    double number = 0;
    std::string string;  // UTF-8, escapes resolved
    std::vector<JsonValue> array;
    std::vector<std::pair<std::string, JsonValue>> object;  // in the text's order

    // Defined below the class: the members' pairs need the whole type first,
    // which clang asks for as soon as a destructor is defined in the class.
    JsonValue() = default;
    JsonValue(const JsonValue&) = default;
    JsonValue(JsonValue&&) = default;
    JsonValue& operator=(const JsonValue&) = default;
    JsonValue& operator=(JsonValue&&) = default;
    ~JsonValue();

    bool has(std::string_view key) const {
        for (const auto& [name, value] : object)
            if (name == key) return true;
        return false;
    }
    // Throws when this is not an object with `key`.
    const JsonValue& operator[](std::string_view key) const {
        for (const auto& [name, value] : object)
            if (name == key) return value;
        throw std::runtime_error("no member \"" + std::string(key) + "\"");
    }
    std::vector<std::string> keys() const {
        std::vector<std::string> names;
        for (const auto& member : object) names.push_back(member.first);
        return names;
    }
};

inline JsonValue::~JsonValue() = default;

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    // The one value the text holds; throws std::runtime_error at the first
    // fault, bytes after the value included (blanks and a line break aside).
    JsonValue read() {
        JsonValue value = read_value();
        skip_blanks();
        if (at_ != text_.size()) fail("bytes after the value");
        return value;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("JSON: " + what + " at byte " + std::to_string(at_));
    }
    void skip_blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t'))
            ++at_;
    }
    bool take(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }
    void expect(char c) {
        skip_blanks();
        if (at_ >= text_.size() || text_[at_] != c) fail(std::string("expected '") + c + "'");
        ++at_;
    }

    JsonValue read_value() {
        skip_blanks();
        if (at_ >= text_.size()) fail("no value");
        JsonValue value;
        const char c = text_[at_];
        if (c == '{') {
            value.kind = JsonValue::Kind::object;
            ++at_;
            skip_blanks();
            if (take("}")) return value;
            do {
                skip_blanks();
                if (at_ >= text_.size() || text_[at_] != '"') fail("expected a member name");
                std::string name = read_string();
                expect(':');
                value.object.emplace_back(std::move(name), read_value());
                skip_blanks();
            } while (take(","));
            expect('}');
        } else if (c == '[') {
            value.kind = JsonValue::Kind::array;
            ++at_;
            skip_blanks();
            if (take("]")) return value;
            do value.array.push_back(read_value());
            while ((skip_blanks(), take(",")));
            expect(']');
        } else if (c == '"') {
            value.kind = JsonValue::Kind::string;
            value.string = read_string();
        } else if (take("true")) {
            value.kind = JsonValue::Kind::boolean;
            value.boolean = true;
        } else if (take("false")) {
            value.kind = JsonValue::Kind::boolean;
        } else if (take("null")) {
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            value.kind = JsonValue::Kind::number;
            const size_t start = at_;
            while (at_ < text_.size() && std::string_view("+-.eE0123456789").find(text_[at_]) != std::string_view::npos)
                ++at_;
            size_t used = 0;
            value.number = std::stod(std::string(text_.substr(start, at_ - start)), &used);
            if (used != at_ - start) fail("a malformed number");
        } else {
            fail("an unexpected byte");
        }
        return value;
    }

    uint32_t read_hex4() {
        if (text_.size() - at_ < 4) fail("a cut \\u escape");
        uint32_t unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = text_[at_++];
            unit <<= 4;
            if (h >= '0' && h <= '9') unit |= uint32_t(h - '0');
            else if (h >= 'a' && h <= 'f') unit |= uint32_t(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') unit |= uint32_t(h - 'A' + 10);
            else fail("a bad hex digit");
        }
        return unit;
    }

    static void put_utf8(std::string& out, uint32_t code) {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | code >> 6);
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | code >> 12);
            out += char(0x80 | (code >> 6 & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | code >> 18);
            out += char(0x80 | (code >> 12 & 0x3F));
            out += char(0x80 | (code >> 6 & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }

    std::string read_string() {
        ++at_;  // the opening quote
        std::string out;
        for (;;) {
            if (at_ >= text_.size()) fail("an unterminated string");
            const char c = text_[at_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) fail("a raw control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) fail("a cut escape");
            switch (const char e = text_[at_++]) {
                case '"': case '\\': case '/': out += e; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    uint32_t code = read_hex4();
                    if (code >= 0xDC00 && code <= 0xDFFF) fail("a lone low surrogate");
                    if (code >= 0xD800 && code <= 0xDBFF) {
                        if (!take("\\u")) fail("a lone high surrogate");
                        const uint32_t low = read_hex4();
                        if (low < 0xDC00 || low > 0xDFFF) fail("a high surrogate without its low one");
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    }
                    put_utf8(out, code);
                    break;
                }
                default: fail("an unknown escape");
            }
        }
    }

    std::string_view text_;
    size_t at_ = 0;
};

inline JsonValue parse_json(std::string_view text) { return JsonReader(text).read(); }

}  // namespace lumo::test
