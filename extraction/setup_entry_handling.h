// The worker's decision after each written file: the first "Setup.cfg" is
// read and the installed product checked; when anything there fails, nothing
// is written after "setup.exe".
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "extraction/entry_hook.h"
#include "platform/platform.h"
#include "setup_script/setup_record.h"
#include "update_check/installed_product.h"

namespace lumo {

// Reads a setup script stream into the record and closes it; true on
// success. The stream is null when the script could not be opened.
using SetupScriptReader = std::function<bool(SetupRecord&, std::FILE*)>;

class SetupEntryHandling final : public EntryHook {
public:
    // The record and the product outlive the run; they are filled here and
    // read by nobody else before the worker ends.
    // The script is read with parse_setup_script unless a test gives its own reader.
    SetupEntryHandling(Platform& platform, SetupRecord& record, InstalledProduct& product,
                       SetupScriptReader read_script = nullptr);

    AfterEntry entry_written(const std::string& entry_name, const std::string& full_path) override;

    bool script_handled() const { return script_handled_; }
    bool stop_after_setup() const { return stop_after_setup_; }

private:
    // Parse, lookup, folder test and version check; false at the first that fails.
    bool script_and_product_fit(const std::string& script_path);

    Platform& platform_;
    SetupRecord& record_;
    InstalledProduct& product_;
    SetupScriptReader read_script_;
    bool script_handled_ = false;    // the first "Setup.cfg" has been handled
    bool stop_after_setup_ = false;  // once set, never cleared
};

// Entry names compare without regard to letter case (ASCII), whole name
// against whole name.
bool same_entry_name(const std::string& a, const std::string& b);

}  // namespace lumo
