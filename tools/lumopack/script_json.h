// The setup record as JSON, for `lumopack script`.
#pragma once

#include <string>
#include <string_view>

#include "setup_script/parse_setup_script.h"
#include "setup_script/setup_record.h"
#include "tools/lumopack/json_text.h"

namespace lumo {

// {"version_lo": ..., ..., "entries": [...] or null}
std::string setup_record_json(const SetupRecord& record);

// {"ok": true, "record": {...}} or {"ok": false, "error": "...", "record": {...}},
// with no line break at the end.
std::string script_outcome_json(const ScriptOutcome& outcome, const SetupRecord& record);

}  // namespace lumo
