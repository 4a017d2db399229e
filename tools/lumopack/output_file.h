// A file written through a temporary file beside it and renamed into place
// only when it is finished, so that a failure leaves no partial file behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>

namespace lumo {

class OutputFile {
public:
    // Creates the temporary file; throws PackError.
    explicit OutputFile(const std::filesystem::path& path);
    // Removes the temporary file unless it was committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(std::span<const uint8_t> bytes);
    // Writes over bytes already written.
    void write_at(uint64_t offset, std::span<const uint8_t> bytes);
    uint64_t size() const { return size_; }

    // Closes the temporary file, whose bytes can then be read back from
    // temporary(); throws PackError when they could not all be written.
    void close();
    const std::filesystem::path& temporary() const { return temporary_; }

    // Gives the closed file the permissions of `like` (when named) and
    // renames it into place.
    void commit(const std::filesystem::path& like = {});

private:
    std::filesystem::path path_;
    std::filesystem::path temporary_;
    std::ofstream out_;
    uint64_t size_ = 0;
    bool committed_ = false;
};

}  // namespace lumo
