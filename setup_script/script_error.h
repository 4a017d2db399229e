// The one kind of failure inside the script parser, and every text it reports.
#pragma once

namespace lumo {

// Every message the parser can report, written to the standard error stream
// as they stand (no line break added).
namespace script_message {
inline constexpr const char* open_config_file = "open config file";
inline constexpr const char* mem = "mem";
inline constexpr const char* unterminated_string = "unterminated string";
inline constexpr const char* no_argument_version_lo = "no argument for VERSION_LO";
inline constexpr const char* no_argument_version_hi = "no argument for VERSION_HI";
inline constexpr const char* no_argument_product_name = "no argument for PRODUCT_NAME";
inline constexpr const char* no_argument_product_title = "no argument for PRODUCT_TITLE";
inline constexpr const char* no_argument_use_subdir = "no argument for USE_SUBDIR";
inline constexpr const char* no_argument_set_reg_str = "no argument for SET_REG_STR";
inline constexpr const char* no_2nd_argument_set_reg_str = "no 2nd argument for SET_REG_STR";
inline constexpr const char* no_argument_set_reg_dw = "no argument for SET_REG_DW";
inline constexpr const char* no_2nd_argument_set_reg_dw = "no 2nd argument for SET_REG_DW";
inline constexpr const char* flags_without_filename = "file flags without filename";
inline constexpr const char* keyword_quoted =
    "A keyword was quoted as if it was a filename.\nSorry, no file can have the name of a keyword.";
inline constexpr const char* string_not_quoted = "A string was not quoted: might be a misspelled keyword.";
}  // namespace script_message

// The one kind of failure inside the parser and its tokenizer. Each step
// that can fail answers with it (std::nullopt when it went well), and the
// first one ends the parse: the parser's edge turns it into the outcome.
// `line` is the script line of the token at fault (0 when there is none, as
// for a file that cannot be opened).
struct ScriptError {
    const char* message;
    int line = 0;
};

}  // namespace lumo
