// The grammar of "Setup.cfg": parse_setup_script fills the setup record.
#pragma once

#include <cstdio>
#include <string>

#include "setup_script/script_reader.h"
#include "setup_script/script_storage.h"
#include "setup_script/setup_record.h"

namespace lumo {

// The result of one parse, for callers that show the failure themselves.
struct ScriptOutcome {
    bool ok = false;
    std::string message;  // the parser's own text, empty on success
    int line = 0;         // line of the token at fault; 0 when there is none
};

// The parse with its result in hand and nothing written anywhere. Sets the
// record's defaults, then changes fields statement by statement: a failed
// parse keeps what the statements before the failing one set and leaves
// `entries` as it was. A parse that finds no storage for a token or an
// entry (asked of `probe`) fails with "mem".
ScriptOutcome read_setup_script(SetupRecord& record, ByteSource& script, StorageProbe probe = storage_available);
// The same over a stream opened with mode "rb", which is closed here. A null
// stream is a script that could not be opened.
ScriptOutcome read_setup_script(SetupRecord& record, std::FILE* script);

// The installer's form: true on success; on failure the message goes to the
// standard error stream as it stands (no line break added). `script` is the
// stream opened with mode "rb" (Platform::open_for_reading), closed here;
// null when it could not be opened.
bool parse_setup_script(SetupRecord& record, std::FILE* script);
// Opens `path` with mode "rb" itself.
bool parse_setup_script(SetupRecord& record, const std::string& path);

}  // namespace lumo
