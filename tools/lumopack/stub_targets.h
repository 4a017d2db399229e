// The installer stubs lumopack builds with, each chosen by a target name.
//
// An installed lumopack finds them in "../lib/lumopack/" from its own
// folder (/usr/bin/lumopack and /usr/lib/lumopack/ in the Debian package),
// then in its own folder (the Windows zip holds lumopack.exe and the stubs
// side by side). Run from its build tree, it takes that build's own stub and
// the Windows builds' stubs it was configured with (LUMO_STUB_WINDOWS_X86,
// LUMO_STUB_WINDOWS_X64), and nothing installed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

// What a stub must be to run where its target says; checked before packing,
// since a file installed under the wrong name makes installers that never
// start.
enum class StubKind { pe_i386, pe_x86_64, elf };

struct StubTarget {
    std::string_view name;       // what --target takes
    std::string_view file_name;  // the installed stub
    std::string_view summary;    // one line for --help
    StubKind kind;
};

// The add-ons are for a Windows product, and the 32-bit installer runs on
// every Windows it supports.
inline constexpr std::string_view default_stub_target = "windows-x86";

std::span<const StubTarget> stub_targets();

// Nothing when no target has that name.
const StubTarget* find_stub_target(std::string_view name);

// Where the target's stub may lie for the program at `program`, in the order
// tried.
std::vector<std::filesystem::path> stub_candidates(const StubTarget& target, const std::filesystem::path& program);

// The first candidate that is a regular file; empty when there is none.
std::filesystem::path find_stub(const StubTarget& target, const std::filesystem::path& program);

// Throws PackError naming `shown` when `stub`'s first bytes are not those of
// a program of the target's kind.
void check_stub_kind(const StubTarget& target, std::span<const uint8_t> stub, const std::string& shown);

}  // namespace lumo
