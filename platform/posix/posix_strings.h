// The user's language and the texts of the installer on POSIX systems.
#pragma once

#include <string>

namespace lumo {

// German when the first of LC_ALL, LC_MESSAGES and LANG that is set names a
// German locale ("de", "de_DE.UTF-8", "de_AT@euro", ...); English otherwise.
bool user_language_is_german();

// The decision above for one locale name, for the tests.
bool locale_is_german(const std::string& locale_name);

// A message as the terminal shows it: the CR of each CR LF dropped.
std::string terminal_text(const std::string& text);

// A text of resources/strings.h (Windows-1252) in the user's language, as UTF-8.
std::string dialog_title();
std::string dialog_prompt();

}  // namespace lumo
