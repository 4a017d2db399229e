// The setup record: what "Setup.cfg" says, as parse_setup_script leaves it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumo {

// Entry flag bits. The flag words set the bits; nothing in the installer acts
// on them, the record only stores them.
namespace entry_flag {
inline constexpr uint32_t win95 = 0x1;
inline constexpr uint32_t winnt = 0x2;
inline constexpr uint32_t win31 = 0x4;
inline constexpr uint32_t win2000 = 0x8;
inline constexpr uint32_t driverdir = 0x10;
inline constexpr uint32_t windowsdir = 0x20;
inline constexpr uint32_t systemdir = 0x40;
inline constexpr uint32_t coverdir = 0x80;
inline constexpr uint32_t cdidir = 0x100;
inline constexpr uint32_t coverdesignerdir = 0x200;
inline constexpr uint32_t use_subdir = 0x400;
inline constexpr uint32_t only_if_exists = 0x1000;
inline constexpr uint32_t only_if_available = 0x2000;
inline constexpr uint32_t rename_old = 0x4000;
inline constexpr uint32_t delete_file = 0x8000;
inline constexpr uint32_t regdelete = 0x10000;
inline constexpr uint32_t set_reg_dw = 0x20000;
inline constexpr uint32_t set_reg_str = 0x40000;
}  // namespace entry_flag

// One file statement or registry statement of the script.
struct SetupEntry {
    uint32_t flags = 0;
    std::string name;        // never null in a stored entry
    std::string subdir;      // meaningful only with entry_flag::use_subdir
    std::string reg_string;  // meaningful only with entry_flag::set_reg_str
    uint32_t reg_dword = 0;  // meaningful only with entry_flag::set_reg_dw
};

// One record for the whole run. It starts zero; every parse first sets the
// defaults, then changes fields statement by statement.
struct SetupRecord {
    // Set only by a parse that reaches the end of the script; absent (null)
    // in a fresh record. The array's terminating entry is implicit.
    std::optional<std::vector<SetupEntry>> entries;
    uint32_t version_lo = 0;  // one byte a version part, the first part highest
    uint32_t version_hi = 0;
    std::optional<std::string> product_name;
    uint32_t update_flags = 0;
    int32_t check_language = 0;
    std::optional<std::string> product_title;
    int32_t no_reboot = 0;
    int32_t mp3_install = 0;
    int32_t mp3pro_install = 0;
    int32_t mpeg2_install = 0;
    int32_t no_regentries = 0;
};

}  // namespace lumo
