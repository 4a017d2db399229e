// Which entry names may be written below the staging folder.
//
// An entry name is a path relative to the target folder, in Windows-1252,
// with backslashes (or slashes, which Windows treats alike) between folders.
// The installer and `lumopack extract` write an entry only when its name
// passes check_entry_name: it can then name nothing outside the target
// folder, no device and no alternate data stream, and Windows can create it.
// The packer refuses at build time what the installer would refuse, plus
// names that a Windows path could not hold.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

namespace lumo {

enum class EntryNameFault {
    none,
    empty,                  // no name at all
    absolute,               // begins with a separator
    colon,                  // drive letter or alternate data stream
    empty_component,        // two separators in a row, or a trailing one
    dot_component,          // "." or ".." between separators
    reserved_device,        // CON, PRN, AUX, NUL, COM0-9, LPT0-9, with any extension
    forbidden_character,    // one of < > " | ? * or a NUL byte
    control_character,      // a byte from 1 to 31
    trailing_dot_or_space,  // a folder or file name that ends in '.' or ' '
    too_long,               // longer than the installer's path can hold
    not_representable,      // the host's name has no Windows-1252 form
};

// The longest name the installer accepts: its path buffer of 512 bytes holds
// a staging folder of up to 255 bytes, the name and the terminating zero.
inline constexpr size_t max_entry_name_length = 256;

// The longest name the packer stores. Windows paths hold 259 characters;
// this leaves 99 for the staging folder (the usual one below the user's
// profile, some 50 characters long, ends in AppData, Local, Temp, Lumo.40),
// so that every file of an installer can be created wherever the temporary
// folder lies.
inline constexpr size_t max_packed_name_length = 160;

// The installer's rule, for a stored (Windows-1252) name.
EntryNameFault check_entry_name(std::string_view name);

inline bool is_safe_entry_name(std::string_view name) { return check_entry_name(name) == EntryNameFault::none; }

// The packer's rule, for a host name (UTF-8, folders joined with
// backslashes): the stored Windows-1252 name, or why it cannot be stored.
std::variant<std::string, EntryNameFault> stored_entry_name(std::string_view host_name);

// A short English description of a fault, for the packer's messages.
const char* describe(EntryNameFault fault);

}  // namespace lumo
