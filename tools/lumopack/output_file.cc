#include "tools/lumopack/output_file.h"

#include <random>
#include <string>
#include <system_error>

#include "tools/lumopack/pack_error.h"

namespace lumo {
namespace fs = std::filesystem;

OutputFile::OutputFile(const fs::path& path) : path_(path) {
    std::random_device random;
    // Beside the output, so that the rename stays on one file system. The
    // name is appended to the path itself: a narrow copy of a Windows path
    // could lose characters outside the ANSI code page.
    temporary_ = path;
    temporary_ += ".partial-" + std::to_string(random() % 1000000);
    out_.open(temporary_, std::ios::binary | std::ios::trunc);
    if (!out_) throw PackError(shown(path) + ": cannot be created");
}

OutputFile::~OutputFile() {
    if (committed_) return;
    if (out_.is_open()) out_.close();
    std::error_code ignored;
    fs::remove(temporary_, ignored);
}

void OutputFile::write(std::span<const uint8_t> bytes) {
    out_.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out_) throw PackError(shown(path_) + ": cannot be written (is the disk full?)");
    size_ += bytes.size();
}

void OutputFile::write_at(uint64_t offset, std::span<const uint8_t> bytes) {
    out_.seekp(std::streamoff(offset));
    out_.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out_.seekp(0, std::ios::end);
    if (!out_) throw PackError(shown(path_) + ": cannot be written (is the disk full?)");
}

void OutputFile::close() {
    out_.close();
    if (!out_) throw PackError(shown(path_) + ": cannot be written (is the disk full?)");
}

void OutputFile::commit(const fs::path& like) {
    if (out_.is_open()) close();
    std::error_code error;
    if (!like.empty()) {
        const auto permissions = fs::status(like, error).permissions();
        if (!error) fs::permissions(temporary_, permissions, error);
    }
    fs::rename(temporary_, path_, error);
    if (error) throw PackError(shown(path_) + ": " + error.message());
    committed_ = true;
}

}  // namespace lumo
