#include "platform/fake/fake_platform.h"
#include "platform/std_threads.h"

#include <algorithm>
#include <cstdio>

#include "resources/resource_ids.h"
#include "resources/strings.h"

namespace lumo {
namespace {

class FakeSearch final : public FolderSearch {
public:
    explicit FakeSearch(std::vector<FoundEntry> entries) : entries_(std::move(entries)) {}
    bool next(FoundEntry& entry) override {
        if (index_ >= entries_.size()) return false;
        entry = entries_[index_++];
        return true;
    }

private:
    std::vector<FoundEntry> entries_;
    size_t index_ = 0;
};

}  // namespace

// A file's bytes lie under its temporary name in the staging folder until
// it is finished; only then do they appear under its path.
class FakeOutputFile final : public OutputFile {
public:
    FakeOutputFile(FakePlatform& platform, std::string path, std::string temporary)
        : platform_(platform), path_(std::move(path)), temporary_(std::move(temporary)) {
        platform_.files[temporary_];
    }
    ~FakeOutputFile() override {
        if (!finished_) {  // the unfinished file is removed
            platform_.disk_space += platform_.files[temporary_].size();
            platform_.files.erase(temporary_);
        }
        platform_.record("close " + path_);
    }

    bool write(const uint8_t* data, uint32_t size, uint32_t& written) override {
        uint32_t room = uint32_t(std::min<uint64_t>(size, platform_.disk_space));
        platform_.files[temporary_].append(reinterpret_cast<const char*>(data), room);
        platform_.disk_space -= room;
        written = room;
        platform_.record("write " + path_ + " " + std::to_string(room));
        if (platform_.after_write) platform_.after_write();
        return room == size;
    }

    bool finish() override {
        // A link in the file's place is not written through.
        const bool ok = platform_.directories.count(platform_.parent_of(path_)) && !platform_.directories.count(path_) &&
                        !platform_.read_only.count(path_) && !platform_.links.count(path_) &&
                        !platform_.beyond_reach(path_);
        platform_.record("finish " + path_ + (ok ? "" : " failed"));
        if (ok) {
            auto content = std::move(platform_.files[temporary_]);
            platform_.files.erase(temporary_);
            platform_.files[path_] = std::move(content);
            finished_ = true;
        }
        return ok;
    }

private:
    FakePlatform& platform_;
    std::string path_;
    std::string temporary_;
    bool finished_ = false;
};

FakePlatform::FakePlatform(char separator) : sep_(separator) { add_directory("/tmp"); }

void FakePlatform::record(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    log.push_back(line);
}

bool FakePlatform::logged(const std::string& line) const {
    return std::find(log.begin(), log.end(), line) != log.end();
}

int FakePlatform::log_index(const std::string& prefix) const {
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i].compare(0, prefix.size(), prefix) == 0) return int(i);
    return -1;
}

std::string FakePlatform::trimmed(const std::string& path) const {
    std::string p = path;
    while (p.size() > 1 && p.back() == sep_) p.pop_back();
    return p;
}

std::string FakePlatform::parent_of(const std::string& path) const {
    std::string p = trimmed(path);
    size_t cut = p.rfind(sep_);
    if (cut == std::string::npos) return "";
    return cut == 0 ? std::string(1, sep_) : p.substr(0, cut);
}

void FakePlatform::add_directory(const std::string& path) {
    std::string p = trimmed(path);
    while (!p.empty() && p != std::string(1, sep_)) {
        directories.insert(p);
        p = parent_of(p);
    }
}

std::string FakePlatform::native_entry_name(const std::string& entry_name) const {
    std::string name = entry_name;
    std::replace(name.begin(), name.end(), '\\', sep_);
    return name;
}

bool FakePlatform::create_directory(const std::string& path) {
    std::string p = trimmed(path);
    std::string parent = parent_of(p);
    bool parent_ok = parent.empty() || parent == std::string(1, sep_) || directories.count(parent);
    bool ok = parent_ok && !directories.count(p) && !files.count(p) && !beyond_reach(p);
    if (ok) directories.insert(p);
    record(std::string("create_directory ") + p + (ok ? "" : " failed"));
    return ok;
}

StagingCheck FakePlatform::prepare_staging_folder(const std::string& folder) {
    record("prepare_staging_folder " + folder);
    unusable_staging_ = staging_check == StagingCheck::ready ? "" : trimmed(folder);
    return staging_check;
}

bool FakePlatform::beyond_reach(const std::string& path) const {
    if (unusable_staging_.empty()) return false;
    const std::string p = trimmed(path);
    return p == unusable_staging_ || p.compare(0, unusable_staging_.size() + 1, unusable_staging_ + sep_) == 0;
}

bool FakePlatform::start_program(const std::string& command_line, const std::string&,
                                 const std::string& current_folder, std::string& failure) {
    record("start_program " + command_line + " in " + current_folder);
    failure = start_failure;
    return start_failure.empty();
}

std::unique_ptr<FolderSearch> FakePlatform::find_first(const std::string& pattern, FoundEntry& first) {
    std::string folder = parent_of(pattern);
    if (!directories.count(folder) || unreadable_folders.count(folder) || beyond_reach(folder)) return nullptr;
    std::vector<FoundEntry> entries = {{".", true, false}, {"..", true, false}};
    std::string prefix = folder + sep_;
    auto child_name = [&](const std::string& path) -> std::string {
        if (path.compare(0, prefix.size(), prefix) != 0) return "";
        std::string rest = path.substr(prefix.size());
        return rest.find(sep_) == std::string::npos ? rest : "";
    };
    for (const auto& d : directories)
        if (auto name = child_name(d); !name.empty()) entries.push_back({name, true, links.count(d) > 0});
    for (const auto& [path, content] : files)
        if (auto name = child_name(path); !name.empty()) entries.push_back({name, false, links.count(path) > 0});
    first = entries[0];
    return std::make_unique<FakeSearch>(std::vector<FoundEntry>(entries.begin() + 1, entries.end()));
}

bool FakePlatform::delete_file(const std::string& path) {
    bool ok = files.count(path) && !read_only.count(path) && !beyond_reach(path);
    if (ok) files.erase(path);
    record(std::string("delete_file ") + path + (ok ? "" : " failed"));
    return ok;
}

bool FakePlatform::remove_directory(const std::string& path) {
    std::string p = trimmed(path);
    std::string prefix = p + sep_;
    bool empty = true;
    for (const auto& d : directories)
        if (d.compare(0, prefix.size(), prefix) == 0) empty = false;
    for (const auto& [f, content] : files)
        if (f.compare(0, prefix.size(), prefix) == 0) empty = false;
    // A link to a folder is removed as the link itself, whatever it points to.
    bool ok = directories.count(p) && (empty || links.count(p)) && !beyond_reach(p);
    if (ok) directories.erase(p);
    record(std::string("remove_directory ") + p + (ok ? "" : " failed"));
    return ok;
}

std::unique_ptr<OutputFile> FakePlatform::create_file(const std::string& path, const TakenNames& taken) {
    // Made apart in the staging folder, which must be usable, under a name
    // as the POSIX platform picks it.
    const bool ok = !beyond_reach(path);
    record(std::string("create_file ") + path + (ok ? "" : " failed"));
    if (!ok) return nullptr;
    std::string temporary;
    do {
        char name[32];
        std::snprintf(name, sizeof name, "%.*s%08x.partial", int(temporary_name_prefix.size()),
                      temporary_name_prefix.data(), ++temporary_count_);
        temporary = name;
    } while ((taken && taken(temporary)) || files.count(temp + "Lumo.40" + sep_ + temporary));
    return std::make_unique<FakeOutputFile>(*this, path, temp + "Lumo.40" + sep_ + temporary);
}

uint64_t FakePlatform::installer_size() { return image.size(); }

bool FakePlatform::read_installer(uint64_t offset, uint8_t* destination, size_t size) {
    if (offset > image.size() || size > image.size() - offset) return false;
    std::copy_n(image.data() + offset, size, destination);
    return true;
}

std::unique_ptr<JoinableThread> FakePlatform::start_joinable_thread(std::function<void()> body) {
    return std::make_unique<StdThread>(std::move(body));
}

std::unique_ptr<Signal> FakePlatform::create_signal() { return std::make_unique<StdSignal>(); }

bool FakePlatform::path_exists(const std::string& path) {
    return files.count(path) || directories.count(trimmed(path)) || existing_paths.count(path);
}

std::FILE* FakePlatform::open_for_reading(const std::string& path) {
    auto it = files.find(path);
    if (it == files.end() || beyond_reach(path)) return nullptr;
    std::FILE* f = std::tmpfile();
    if (!f) return nullptr;
    std::fwrite(it->second.data(), 1, it->second.size(), f);
    std::rewind(f);
    return f;
}

std::string FakePlatform::load_string(int id) {
    switch (id) {
        case IDS_CORRUPT_PAYLOAD: return german ? LUMO_STR2_DE : LUMO_STR2_EN;
        case IDS_COPY_ERROR_HEAD: return german ? LUMO_STR3_DE : LUMO_STR3_EN;
        case IDS_COPY_ERROR_TAIL: return german ? LUMO_STR4_DE : LUMO_STR4_EN;
        case IDS_DECOMPRESS_FAILED: return german ? LUMO_STR5_DE : LUMO_STR5_EN;
        case IDS_UNSAFE_STAGING_HEAD: return german ? LUMO_STR6_DE : LUMO_STR6_EN;
        case IDS_UNSAFE_STAGING_TAIL: return german ? LUMO_STR7_DE : LUMO_STR7_EN;
        case IDS_NO_MEMORY: return german ? LUMO_STR8_DE : LUMO_STR8_EN;
        case IDS_START_FAILED_HEAD: return german ? LUMO_STR9_DE : LUMO_STR9_EN;
        case IDS_START_FAILED_TAIL: return german ? LUMO_STR10_DE : LUMO_STR10_EN;
        default: return "";
    }
}

void FakePlatform::run_progress_dialog(const std::string& staging_folder, const std::function<void()>& on_open) {
    record("dialog_open " + staging_folder);
    on_open();
    record("dialog_closed");
}

void FakePlatform::set_progress(uint32_t percentage) { record("progress " + std::to_string(percentage)); }

void FakePlatform::message_box(const std::string& text, bool owned_by_dialog) {
    record(std::string(owned_by_dialog ? "message_box dialog " : "message_box none ") + text);
}

void FakePlatform::end_dialog() { record("end_dialog"); }
void FakePlatform::post_close() { record("post_close"); }

std::unique_ptr<JoinableThread> FakePlatform::start_thread(std::function<void()> body) {
    record("start_thread");
    body();
    return std::make_unique<JoinableThread>();  // ended already
}

std::string FakePlatform::read_profile_string(const std::string& section, const std::string& key,
                                              uint32_t capacity, const std::string& file) {
    auto it = profile.find(file + "|" + section + "|" + key);
    if (it == profile.end() || capacity == 0) return "";
    return it->second.substr(0, capacity - 1);
}

bool FakePlatform::read_registry_value(const std::string& subkey, const std::string& value_name,
                                       uint32_t buffer_size, std::vector<uint8_t>& data) {
    std::string key = subkey + "|" + value_name;
    registry_reads.push_back(key);
    auto it = registry.find(key);
    if (it == registry.end() || it->second.size() > buffer_size) return false;
    data = it->second;
    return true;
}

uint32_t FakePlatform::version_info_size(const std::string& path) {
    version_reads.push_back(path);
    auto it = version_infos.find(path);
    return it == version_infos.end() ? 0 : 1024;
}

bool FakePlatform::read_version_info(const std::string& path, uint32_t, VersionInfo& info) {
    auto it = version_infos.find(path);
    if (it == version_infos.end()) return false;
    info = it->second;
    return true;
}

}  // namespace lumo
