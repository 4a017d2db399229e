#include "extraction/file_writer.h"

#include <algorithm>

namespace lumo {

bool write_file(Platform& platform, const std::string& staging_folder, const std::string& full_path,
                const uint8_t* data, uint32_t size, ProgressSink& meter) {
    const char separator = platform.separator();
    // The staging folder ends in a separator; cutting there names the
    // staging folder itself, the outermost folder the writer may create.
    const size_t shortest_cut = staging_folder.empty() ? 0 : staging_folder.size() - 1;

    std::string working = full_path;
    std::unique_ptr<OutputFile> file;
    while (!(file = platform.create_file(full_path))) {
        size_t cut = working.rfind(separator);
        if (cut == std::string::npos || cut < shortest_cut) return false;
        working.resize(cut);
        // A folder created: try the file again from the full path. Not
        // created: it is missing its own parent, so go one level further out.
        if (platform.create_directory(working)) working = full_path;
    }

    for (uint32_t offset = 0; offset < size;) {
        uint32_t chunk = std::min(write_chunk_size, size - offset);
        uint32_t written = 0;
        if (!file->write(data + offset, chunk, written) || written != chunk) return false;
        meter.report_progress(chunk);
        offset += chunk;
    }
    return true;
}

}  // namespace lumo
