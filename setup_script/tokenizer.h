// The tokenizer of "Setup.cfg": bare words and quoted texts, with comments
// and whitespace removed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "setup_script/script_error.h"
#include "setup_script/script_reader.h"

namespace lumo {

// One token, or nothing when the script has ended. `quoted` is set to false
// on entry and to true when a quote character opened quoting anywhere in the
// token. `line`, when given, receives the line on which the token began.
// Raises ScriptError with "unterminated string" or "mem".
std::optional<std::string> next_token(ScriptReader& reader, bool& quoted, int* line = nullptr);

// Same length and the same characters once A-Z are lowered ("C" locale).
bool keyword_equals(std::string_view text, std::string_view keyword);

}  // namespace lumo
