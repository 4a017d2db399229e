#include "extraction/setup_entry_handling.h"

#include <utility>

#include "setup_script/parse_setup_script.h"
#include "update_check/version_check.h"

namespace lumo {

namespace {

char lower_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool same_entry_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
    return true;
}

SetupEntryHandling::SetupEntryHandling(Platform& platform, SetupRecord& record, InstalledProduct& product,
                                       SetupScriptReader read_script)
    : platform_(platform), record_(record), product_(product), read_script_(std::move(read_script)) {
    if (!read_script_) read_script_ = [](SetupRecord& r, std::FILE* script) { return parse_setup_script(r, script); };
}

AfterEntry SetupEntryHandling::entry_written(const std::string& entry_name, const std::string& full_path) {
    if (same_entry_name(entry_name, "setup.exe") && stop_after_setup_) return AfterEntry::stop_early;
    if (same_entry_name(entry_name, "Setup.cfg") && !script_handled_) {
        script_handled_ = true;
        if (!script_and_product_fit(full_path)) stop_after_setup_ = true;
    }
    return AfterEntry::go_on;
}

bool SetupEntryHandling::script_and_product_fit(const std::string& script_path) {
    // The reader closes the stream, and reports a script that could not be opened.
    if (!read_script_(record_, platform_.open_for_reading(script_path))) return false;

    complete_lookup_names(product_);
    if (!locate_installed_product(platform_, record_, product_)) return false;
    if (!platform_.path_exists(product_.product_folder)) return false;
    return check_installed_version(platform_, record_, product_.product_folder);
}

}  // namespace lumo
