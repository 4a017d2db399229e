// What the worker asks after each file it has written: go on, or stop early.
#pragma once

#include <string>

namespace lumo {

enum class AfterEntry { go_on, stop_early };

class EntryHook {
public:
    virtual ~EntryHook() = default;
    // `entry_name` is the name stored in the payload; `full_path` the file
    // just written below the staging folder.
    virtual AfterEntry entry_written(const std::string& entry_name, const std::string& full_path) = 0;
};

// The hook of a run without setup entry handling: every entry is written.
class WriteEverything final : public EntryHook {
public:
    AfterEntry entry_written(const std::string&, const std::string&) override { return AfterEntry::go_on; }
};

}  // namespace lumo
