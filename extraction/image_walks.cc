#include "extraction/image_walks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "extraction/file_writer.h"
#include "payload/checksum.h"
#include "payload/container.h"
#include "payload/entry_name.h"

namespace lumo {
namespace {

// The directory's bytes as the streamed walk holds them: grown as they are
// read, so that memory follows what the stream really holds, whatever the
// header claims, and a claim that cannot be held is refused rather than
// ending the run. Only the entries up to the terminating one are kept: the
// walk reads nothing past its name area length, so the bytes behind it (a
// directory of zeros ends at once) cost the checksum and no memory.
class HeldDirectory {
public:
    HeldDirectory() = default;
    ~HeldDirectory() { std::free(bytes_); }
    HeldDirectory(const HeldDirectory&) = delete;
    HeldDirectory& operator=(const HeldDirectory&) = delete;

    bool append(const uint8_t* data, size_t n) {
        while (n > 0 && !ended_) {
            // Up to the next entry's name area length, which tells where
            // the entry after it begins.
            const size_t take = size_t(std::min<uint64_t>(n, next_entry_ + 4 - size_));
            if (!hold(data, take)) return false;
            data += take;
            n -= take;
            if (size_ == next_entry_ + 4) {
                const uint8_t* length = bytes_ + next_entry_;
                const uint32_t name_length = uint32_t(length[0]) | uint32_t(length[1]) << 8 |
                                             uint32_t(length[2]) << 16 | uint32_t(length[3]) << 24;
                ended_ = name_length == 0;
                next_entry_ += directory_entry_size + uint64_t(name_length);
            }
        }
        return true;
    }
    std::span<const uint8_t> bytes() const { return {bytes_, size_}; }

private:
    bool hold(const uint8_t* data, size_t n) {
        if (n > capacity_ - size_) {
            size_t capacity = capacity_ < 4096 ? 4096 : capacity_;
            while (capacity - size_ < n) capacity = capacity > SIZE_MAX / 2 ? SIZE_MAX : capacity * 2;
            auto* grown = static_cast<uint8_t*>(std::realloc(bytes_, capacity));
            if (!grown) return false;
            bytes_ = grown;
            capacity_ = capacity;
        }
        std::memcpy(bytes_ + size_, data, n);
        size_ += n;
        return true;
    }

    uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    uint64_t next_entry_ = 0;  // where the next entry's fixed part begins
    bool ended_ = false;       // the terminating entry is held
};

// Where the directory's bytes past the decoder's output are zeros, only a
// few of them are held: the walk meets a terminating entry there, or an
// entry whose name runs past what is held, and past it nothing is read.
// The checksum still runs over all of them.
constexpr size_t zeros_held = directory_entry_size + 8;

enum class ReadDirectory { read, corrupt, no_memory };

ReadDirectory read_directory(ImageStream& image, const ImageHeader& header, HeldDirectory& directory) {
    uint32_t checksum = checksum_seed;
    uint64_t left = header.directory_length;
    size_t zeros = 0;
    while (left > 0) {
        const auto piece = image.next(left);
        checksum = container_checksum(piece.data(), piece.size(), checksum);
        left -= piece.size();
        size_t keep = piece.size();
        if (image.only_zeros_left()) {
            keep = std::min(keep, zeros_held - zeros);
            zeros += keep;
        }
        if (keep > 0 && !directory.append(piece.data(), keep)) return ReadDirectory::no_memory;
    }
    return checksum == header.directory_checksum ? ReadDirectory::read : ReadDirectory::corrupt;
}

// Whether the entries can be written as their data comes: each entry's
// data lies behind the directory and behind the data before it. Entries
// past one that will be found corrupt (by its name or its range) do not
// count, nor do empty ones, whose data is never read.
bool entries_in_order(ExtractionRun& run, std::span<const uint8_t> directory, const ImageHeader& header,
                      uint64_t image_size) {
    DirectoryWalker walker(directory);
    uint64_t read_up_to = uint64_t(header.directory_offset) + header.directory_length;
    DirectoryEntry entry;
    for (;;) {
        switch (walker.next(entry)) {
            case DirectoryWalker::Step::end: return true;
            // Entries past the directory's bytes lie elsewhere in the image.
            case DirectoryWalker::Step::corrupt: return false;
            case DirectoryWalker::Step::entry: break;
        }
        if (full_path_of(run, entry.name).empty() || !entry_data_in_bounds(image_size, header, entry)) return true;
        if (entry.data_size == 0) continue;
        if (entry.data_offset < read_up_to) return false;
        read_up_to = uint64_t(entry.data_offset) + entry.data_size;
    }
}

// The names the directory's entries take in the staging folder itself, as
// far as a temporary name could take them.
TakenNames names_at_top(DirectoryWalker walker, NamesAtTop& names) {
    DirectoryEntry entry;
    while (walker.next(entry) == DirectoryWalker::Step::entry) names.add(entry.name);
    return names.taken();
}

// The entry hook's answer for a file just written.
bool stop_after(ExtractionRun& run, const DirectoryEntry& entry, const std::string& full_path) {
    return run.entry_hook.entry_written(std::string(entry.name), full_path) == AfterEntry::stop_early;
}

}  // namespace

std::string full_path_of(ExtractionRun& run, std::string_view entry_name) {
    if (!is_safe_entry_name(entry_name)) return "";
    std::string full_path = run.staging_folder + run.platform.native_entry_name(std::string(entry_name));
    if (full_path.size() > max_full_path_length) return "";
    return full_path;
}

WalkOutcome walk_streamed_image(ExtractionRun& run, ImageStream& image, uint64_t image_size, uint64_t stream_can_fill,
                                ProgressMeter& meter, std::string& failed_path) {
    uint8_t header_bytes[image_header_size];
    ImageHeader header;
    if (!image.read(header_bytes, image_header_size) ||
        !read_image_header(std::span<const uint8_t, image_header_size>(header_bytes), image_size, header))
        return WalkOutcome::corrupt;
    if (header.directory_offset < image_header_size) return WalkOutcome::other_layout;
    if (header.directory_length > stream_can_fill) return WalkOutcome::corrupt;

    HeldDirectory directory;
    image.skip_to(header.directory_offset);
    switch (read_directory(image, header, directory)) {
        case ReadDirectory::read: break;
        case ReadDirectory::corrupt: return WalkOutcome::corrupt;
        case ReadDirectory::no_memory: return WalkOutcome::no_memory;
    }
    if (!entries_in_order(run, directory.bytes(), header, image_size)) return WalkOutcome::other_layout;

    NamesAtTop names;
    const TakenNames taken = names_at_top(DirectoryWalker(directory.bytes()), names);
    DirectoryWalker walker(directory.bytes());
    DirectoryEntry entry;
    for (;;) {
        const DirectoryWalker::Step step = walker.next(entry);
        if (step == DirectoryWalker::Step::corrupt) return WalkOutcome::corrupt;
        if (step == DirectoryWalker::Step::end) return WalkOutcome::all_written;

        const std::string full_path = full_path_of(run, entry.name);
        if (full_path.empty() || !entry_data_in_bounds(image_size, header, entry)) return WalkOutcome::corrupt;
        if (entry.data_size > 0) image.skip_to(entry.data_offset);

        // Written as it comes, and checked before it gets its name. A write
        // that fails does not end the reading: a checksum that does not
        // match is reported first, as when the data is checked before it
        // is written.
        EntryFileWriter file(run.platform, run.staging_folder, full_path, meter, taken);
        uint32_t checksum = checksum_seed;
        for (uint64_t left = entry.data_size; left > 0;) {
            const auto piece = image.next(left);
            checksum = container_checksum(piece.data(), piece.size(), checksum);
            file.write(piece.data(), piece.size());
            left -= piece.size();
        }
        if (checksum != entry.data_checksum) return WalkOutcome::corrupt;
        if (!file.finish()) {
            failed_path = full_path;
            return WalkOutcome::copy_error;
        }
        if (stop_after(run, entry, full_path)) return WalkOutcome::stopped_early;
    }
}

WalkOutcome walk_whole_image(ExtractionRun& run, std::span<const uint8_t> image, ProgressMeter& meter,
                             std::string& failed_path) {
    ImageHeader header;
    if (!validate_image_header(image, header)) return WalkOutcome::corrupt;

    NamesAtTop names;
    const TakenNames taken = names_at_top(DirectoryWalker(image, header), names);
    DirectoryWalker walker(image, header);
    DirectoryEntry entry;
    for (;;) {
        const DirectoryWalker::Step step = walker.next(entry);
        if (step == DirectoryWalker::Step::corrupt) return WalkOutcome::corrupt;
        if (step == DirectoryWalker::Step::end) return WalkOutcome::all_written;

        const std::string full_path = full_path_of(run, entry.name);
        if (full_path.empty() || !check_entry_data(image, header, entry)) return WalkOutcome::corrupt;
        if (!write_file(run.platform, run.staging_folder, full_path, entry.data.data(), entry.data_size, meter, taken)) {
            failed_path = full_path;
            return WalkOutcome::copy_error;
        }
        if (stop_after(run, entry, full_path)) return WalkOutcome::stopped_early;
    }
}

}  // namespace lumo
