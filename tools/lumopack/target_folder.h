// The folder that lumopack extract writes into, and nothing outside it.
//
// The folder is held open for the whole run, and every folder on an entry's
// way is opened from the one before it and held while the entry is written,
// so that nothing done after a check depends on a path that someone else
// can change: a link or junction found on the way (or swapped in while the
// run goes on) is never followed. An existing file is replaced, never
// rewritten in place, so that another name of it (a hard link whose other
// name lies outside the folder) keeps its contents, and a link in the
// file's place is replaced itself, never written through.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace lumo {

class ProgressBar;

class TargetFolder {
public:
    // Creates `path` and its parents when missing and holds it. The path
    // itself is the user's to name: a link there is followed, as with any
    // path given on the command line. Throws PackError.
    explicit TargetFolder(const std::filesystem::path& path);
    ~TargetFolder();
    TargetFolder(const TargetFolder&) = delete;
    TargetFolder& operator=(const TargetFolder&) = delete;

    // Writes `data` as a file below the folder: `parts` are the names (UTF-8)
    // of the folders on its way, each created when missing, and last of the
    // file. Each part is a plain name (the entry passed the installer's name
    // rule). Throws PackError, starting with `shown`, when a folder on the
    // way is a link or a file, a folder stands in the file's place, or the
    // file cannot be written; a file that cannot be written whole is removed.
    void write_file(const std::vector<std::string>& parts, std::span<const uint8_t> data, const std::string& shown,
                    ProgressBar& progress);

private:
    struct Held;
    std::unique_ptr<Held> held_;
};

}  // namespace lumo
