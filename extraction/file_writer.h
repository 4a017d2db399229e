// The file writer: one payload entry out to its file below the staging
// folder. The file is written under a name of its own and gets its path
// only when all of it is there (and, streamed, its checksum has been
// found right), so that no damaged or partial file ever stands under an
// entry's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "payload/progress_sink.h"
#include "platform/platform.h"

namespace lumo {

// The names that the payload's entries take in the staging folder itself
// (each entry's name up to its first separator) and that a temporary name
// could take: those that begin with temporary_name_prefix, in any case. A
// file is written under a temporary name none of them has, so that no
// entry's path holds a file before its checksum has been found right.
class NamesAtTop {
public:
    // An entry's stored name (Windows-1252, backslashes between folders),
    // which must stay where it is while the names are used: the directory's
    // bytes.
    void add(std::string_view entry_name);
    // Once all are added.
    TakenNames taken();

private:
    std::vector<std::string_view> names_;  // sorted once taken() is asked for
};

// Files go out in chunks of at most this many bytes; the meter hears of each.
inline constexpr uint32_t write_chunk_size = 65536;

class EntryFileWriter {
public:
    // Creates the file for `full_path`, below `staging_folder`.
    EntryFileWriter(Platform& platform, const std::string& staging_folder, const std::string& full_path,
                    ProgressSink& meter, const TakenNames& taken);

    // Writes the next bytes, in chunks. False once anything failed: the
    // file could not be created or a chunk was not written in full; later
    // writes then do nothing.
    bool write(const uint8_t* data, size_t size);
    bool failed() const { return file_ == nullptr; }

    // Gives the file its path. Missing folders are created one per pass,
    // from the outermost missing one inwards, never above the staging
    // folder itself. False when the file failed or cannot be given its path;
    // the file is then removed.
    bool finish();

private:
    Platform& platform_;
    const std::string& staging_folder_;
    const std::string& full_path_;
    ProgressSink& meter_;
    std::unique_ptr<OutputFile> file_;
};

// The whole file at once: created, written and given its path.
bool write_file(Platform& platform, const std::string& staging_folder, const std::string& full_path,
                const uint8_t* data, uint32_t size, ProgressSink& meter, const TakenNames& taken);

}  // namespace lumo
