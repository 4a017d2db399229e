// Entry names that every Windows writes alike.
//
// The installer creates its files through the system's ANSI code page, as
// it must for an installer built anywhere, and the names are stored in
// Windows-1252. A byte outside ASCII is therefore the intended character
// only where that code page is 1252: elsewhere it becomes another character
// (1251, 1253), or the lead byte of a double-byte one that swallows the
// character after it (932, 936, 949, 950), and the setup program then does
// not find its files.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace lumo {

// One warning for each stored name that holds a byte outside ASCII, naming
// the entry; with `strict`, a PackError naming them all instead.
void check_name_portability(std::span<const std::string> stored_names, bool strict,
                            std::vector<std::string>& warnings);

}  // namespace lumo
