// Texts between the core's ANSI code page and the system's UTF-16.
#pragma once

#include <string>

namespace lumo {

// `text` (ANSI code page) in UTF-16, as the "A" calls convert it.
std::wstring to_wide(const std::string& text);

// `text` in the ANSI code page, and whether every character had a form
// there (no replacement, no look-alike). The characters without one become
// '?', as in what the "A" calls report.
bool to_ansi(const std::wstring& text, std::string& ansi);

}  // namespace lumo
