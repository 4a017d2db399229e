// The tokenizer of "Setup.cfg": bare words and quoted texts, with comments
// and whitespace removed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "setup_script/script_error.h"
#include "setup_script/script_reader.h"
#include "setup_script/script_storage.h"

namespace lumo {

struct Token {
    std::string text;
    bool quoted = false;  // a quote character opened quoting anywhere in the token
    int line = 0;         // the line on which the token began
};

// Reads the next token into `token`, or leaves `token` empty when the script
// has ended. Fails with "unterminated string", or with "mem" when `probe`
// finds no storage for the growing text.
[[nodiscard]] std::optional<ScriptError> next_token(ScriptReader& reader, std::optional<Token>& token,
                                                    StorageProbe probe = storage_available);

// Same length and the same characters once A-Z are lowered ("C" locale).
bool keyword_equals(std::string_view text, std::string_view keyword);

}  // namespace lumo
