// The installer stubs lumopack builds with, each chosen by a target name.
//
// An installed lumopack takes them only from where it was installed
// (installed_stub_folder: "../lib/lumopack/" from the real program on POSIX,
// its own folder on Windows), and only files that nobody but the
// administrator and the user running it could have put there
// (open_installed_file): a stub is the code of every installer built with
// it. Run from its build tree, it takes that build's own stub and the
// Windows builds' stubs it was configured with (LUMO_STUB_WINDOWS_X86,
// LUMO_STUB_WINDOWS_X64), and nothing installed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/lumopack/system/system.h"

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

// True when `program` is the file the build made, not an installed copy: a
// copy must never reach back into a build tree that may have moved on.
bool runs_from_build_tree(const std::filesystem::path& program);

// Where the target's stub lies for the program at `program`; empty when
// the program's place is not known.
std::filesystem::path stub_location(const StubTarget& target, const std::filesystem::path& program);

// The stub at stub_location, held open: `file` is empty when there is none,
// and `refusal` then says why when one is there but not taken.
struct FoundStub {
    std::filesystem::path path;
    HeldFile file;
    std::string refusal;
};
FoundStub find_stub(const StubTarget& target, const std::filesystem::path& program);

// Throws PackError naming `shown` when `stub`'s first bytes are not those of
// a program of the target's kind.
void check_stub_kind(const StubTarget& target, std::span<const uint8_t> stub, const std::string& shown);

}  // namespace lumo
