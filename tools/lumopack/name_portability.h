// Entry names that every Windows writes alike.
//
// The installer creates its files through the system's ANSI code page, as
// it must for an installer built anywhere, and the names are stored in
// Windows-1252. A byte outside ASCII is therefore the intended character
// only where that code page is 1252: elsewhere it becomes another character
// (1251, 1253), or the lead byte of a double-byte one that swallows the
// character after it (932, 936, 949, 950), and the setup program then does
// not find its files.
//
// A name may also be taken for another's short name: Windows gives a long
// name ("Readme-first.txt") an 8.3 alias ("README~1.TXT" on NTFS,
// "READ~DL5.TXT" under Wine), and an entry named like that alias beside it
// then opens the other file, or cannot be created.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

// One warning for each stored name that holds a byte outside ASCII, and for
// each that may be another's short name, naming the entry; with `strict`, a
// PackError naming them all instead.
void check_name_portability(std::span<const std::string> stored_names, bool strict,
                            std::vector<std::string>& warnings);

// The first of `others` (names in the same folder) whose short name `name`
// could be: `name` is an 8.3 name of an alias's form (NTFS's "README~1",
// Wine's "READ~DL5"), what comes before the "~" begins the other's base as
// Windows shortens it, and its extension is the other's first three
// characters of extension. Nothing for a name without "~", and for others
// that are 8.3 names themselves (they get no alias).
std::optional<std::string> aliased_long_name(std::string_view name, std::span<const std::string> others);

}  // namespace lumo
