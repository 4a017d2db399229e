#include "tools/lumopack/script_json.h"

namespace lumo {
namespace {

std::string json_text(const std::optional<std::string>& text) {
    return text ? json_string_of_bytes(*text) : "null";
}

std::string entry_json(const SetupEntry& entry) {
    std::string out = "{\"flags\": " + std::to_string(entry.flags) + ", \"name\": " + json_string_of_bytes(entry.name);
    bool registry = (entry.flags & (entry_flag::set_reg_str | entry_flag::set_reg_dw)) != 0;
    if (entry.flags & entry_flag::use_subdir) {
        // A registry entry may carry the bit, never the folder.
        out += ", \"subdir\": " + (registry ? std::string("null") : json_string_of_bytes(entry.subdir));
    }
    if (entry.flags & entry_flag::set_reg_str) out += ", \"reg_string\": " + json_string_of_bytes(entry.reg_string);
    if (entry.flags & entry_flag::set_reg_dw) out += ", \"reg_dword\": " + std::to_string(entry.reg_dword);
    return out + "}";
}

}  // namespace

std::string setup_record_json(const SetupRecord& r) {
    std::string out = "{";
    out += "\"version_lo\": " + std::to_string(r.version_lo);
    out += ", \"version_hi\": " + std::to_string(r.version_hi);
    out += ", \"product_name\": " + json_text(r.product_name);
    out += ", \"update_flags\": " + std::to_string(r.update_flags);
    out += ", \"check_language\": " + std::to_string(r.check_language);
    out += ", \"product_title\": " + json_text(r.product_title);
    out += ", \"no_reboot\": " + std::to_string(r.no_reboot);
    out += ", \"mp3_install\": " + std::to_string(r.mp3_install);
    out += ", \"mp3pro_install\": " + std::to_string(r.mp3pro_install);
    out += ", \"mpeg2_install\": " + std::to_string(r.mpeg2_install);
    out += ", \"no_regentries\": " + std::to_string(r.no_regentries);
    out += ", \"entries\": ";
    if (!r.entries) {
        out += "null";
    } else {
        out += "[";
        for (size_t i = 0; i < r.entries->size(); ++i) out += (i ? ", " : "") + entry_json((*r.entries)[i]);
        out += "]";
    }
    return out + "}";
}

std::string script_outcome_json(const ScriptOutcome& outcome, const SetupRecord& record) {
    if (outcome.ok) return "{\"ok\": true, \"record\": " + setup_record_json(record) + "}";
    return "{\"ok\": false, \"error\": " + json_string_of_bytes(outcome.message) +
           ", \"record\": " + setup_record_json(record) + "}";
}

}  // namespace lumo
