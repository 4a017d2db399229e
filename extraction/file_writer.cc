#include "extraction/file_writer.h"

#include <algorithm>

namespace lumo {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Ordered without regard to ASCII case.
bool before(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (lower(a[i]) != lower(b[i])) return lower(a[i]) < lower(b[i]);
    return a.size() < b.size();
}

}  // namespace

void NamesAtTop::add(std::string_view entry_name) {
    const std::string_view top = entry_name.substr(0, entry_name.find_first_of("\\/"));
    // Temporary names are ASCII, and the platforms keep ASCII as it is.
    const std::string_view prefix = top.substr(0, temporary_name_prefix.size());
    if (!before(prefix, temporary_name_prefix) && !before(temporary_name_prefix, prefix)) names_.push_back(top);
}

TakenNames NamesAtTop::taken() {
    if (names_.empty()) return {};
    std::sort(names_.begin(), names_.end(), before);
    return [this](std::string_view name) { return std::binary_search(names_.begin(), names_.end(), name, before); };
}

EntryFileWriter::EntryFileWriter(Platform& platform, const std::string& staging_folder,
                                 const std::string& full_path, ProgressSink& meter, const TakenNames& taken)
    : platform_(platform), staging_folder_(staging_folder), full_path_(full_path), meter_(meter),
      file_(platform.create_file(full_path, taken)) {}

bool EntryFileWriter::write(const uint8_t* data, size_t size) {
    while (file_ && size > 0) {
        const uint32_t chunk = uint32_t(std::min<size_t>(write_chunk_size, size));
        uint32_t written = 0;
        if (!file_->write(data, chunk, written) || written != chunk) {
            file_.reset();
            break;
        }
        meter_.report_progress(chunk);
        data += chunk;
        size -= chunk;
    }
    return file_ != nullptr;
}

bool EntryFileWriter::finish() {
    if (!file_) return false;
    const char separator = platform_.separator();
    // The staging folder ends in a separator; cutting there names the
    // staging folder itself, the outermost folder the writer may create.
    const size_t shortest_cut = staging_folder_.empty() ? 0 : staging_folder_.size() - 1;
    std::string working = full_path_;
    while (!file_->finish()) {
        const size_t cut = working.rfind(separator);
        if (cut == std::string::npos || cut < shortest_cut) {
            file_.reset();
            return false;
        }
        working.resize(cut);
        // A folder created: try the file again from the full path. Not
        // created: it is missing its own parent, so go one level further out.
        if (platform_.create_directory(working)) working = full_path_;
    }
    file_.reset();
    return true;
}

bool write_file(Platform& platform, const std::string& staging_folder, const std::string& full_path,
                const uint8_t* data, uint32_t size, ProgressSink& meter, const TakenNames& taken) {
    EntryFileWriter file(platform, staging_folder, full_path, meter, taken);
    return file.write(data, size) && file.finish();
}

}  // namespace lumo
