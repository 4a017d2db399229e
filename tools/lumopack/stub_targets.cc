#include "tools/lumopack/stub_targets.h"

#include <system_error>

#include "tools/lumopack/pack_error.h"

// The build names its own program and the stub of each target it knows of
// (an empty text for a target it has none for).
#ifndef LUMO_BUILD_TREE_PROGRAM
#define LUMO_BUILD_TREE_PROGRAM ""
#endif
#ifndef LUMO_BUILD_STUB_WINDOWS_X86
#define LUMO_BUILD_STUB_WINDOWS_X86 ""
#endif
#ifndef LUMO_BUILD_STUB_WINDOWS_X64
#define LUMO_BUILD_STUB_WINDOWS_X64 ""
#endif
#ifndef LUMO_BUILD_STUB_POSIX
#define LUMO_BUILD_STUB_POSIX ""
#endif

namespace lumo {
namespace fs = std::filesystem;
namespace {

constexpr StubTarget targets[] = {
    {"windows-x86", "lumo-stub-windows-x86.exe", "Windows, 32-bit: runs on 32- and 64-bit Windows", StubKind::pe_i386},
    {"windows-x64", "lumo-stub-windows-x64.exe", "Windows, 64-bit only", StubKind::pe_x86_64},
    {"posix", "lumo-stub-posix", "this kind of system, the dialog drawn on a terminal", StubKind::elf},
};

const char* build_tree_stub(const StubTarget& target) {
    switch (target.kind) {
        case StubKind::pe_i386: return LUMO_BUILD_STUB_WINDOWS_X86;
        case StubKind::pe_x86_64: return LUMO_BUILD_STUB_WINDOWS_X64;
        case StubKind::elf: return LUMO_BUILD_STUB_POSIX;
    }
    return "";
}

uint32_t little_endian(std::span<const uint8_t> bytes, size_t at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[at + i];
    return value;
}

// The machine field of a PE file's COFF header; 0 when `bytes` do not
// begin a PE file.
uint32_t pe_machine(std::span<const uint8_t> bytes) {
    if (bytes.size() < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return 0;
    const size_t header = little_endian(bytes, 0x3C, 4);
    if (header > bytes.size() || bytes.size() - header < 6) return 0;
    if (little_endian(bytes, header, 4) != 0x4550) return 0;  // "PE\0\0"
    return little_endian(bytes, header + 4, 2);
}

}  // namespace

std::span<const StubTarget> stub_targets() { return targets; }

bool runs_from_build_tree(const fs::path& program) {
    std::error_code error;
    const fs::path built = LUMO_BUILD_TREE_PROGRAM;
    return !built.empty() && fs::equivalent(program, built, error);
}

const StubTarget* find_stub_target(std::string_view name) {
    for (const auto& target : targets)
        if (target.name == name) return &target;
    return nullptr;
}

fs::path stub_location(const StubTarget& target, const fs::path& program) {
    if (runs_from_build_tree(program)) return build_tree_stub(target);
    // Not knowing where it runs from, it takes nothing from the current folder.
    if (program.empty()) return {};
    return installed_stub_folder(program) / target.file_name;
}

FoundStub find_stub(const StubTarget& target, const fs::path& program) {
    FoundStub found{stub_location(target, program), HeldFile(), ""};
    if (found.path.empty()) return found;
    if (!runs_from_build_tree(program)) {
        found.file = open_installed_file(found.path, found.refusal);
        return found;
    }
    // The build's own files, wherever the build tree lies.
    std::error_code error;
    if (fs::is_regular_file(found.path, error)) found.file = open_to_read(found.path);
    return found;
}

void check_stub_kind(const StubTarget& target, std::span<const uint8_t> stub, const std::string& shown) {
    bool fits = false;
    switch (target.kind) {
        case StubKind::pe_i386: fits = pe_machine(stub) == 0x014C; break;
        case StubKind::pe_x86_64: fits = pe_machine(stub) == 0x8664; break;
        case StubKind::elf: fits = stub.size() >= 4 && stub[0] == 0x7F && stub[1] == 'E' && stub[2] == 'L' && stub[3] == 'F'; break;
    }
    if (!fits)
        throw PackError(shown + ": not a stub for the target " + std::string(target.name) + " (" +
                        std::string(target.summary) + ")");
}

}  // namespace lumo
