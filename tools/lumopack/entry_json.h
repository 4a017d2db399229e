// `lumopack list --json` and `lumopack test --json`: an installer's entries
// for programs to read, in the style of `lumopack script`: one line, ASCII
// only, fields in a fixed order.
#pragma once

#include <cstdint>
#include <string>

#include "payload/container.h"
#include "tools/lumopack/installer_reader.h"

namespace lumo {

// Collects the entries of one installer and the totals of the listing.
class EntriesJson {
public:
    // {"name": "Sub/na\u00efve.txt", "size": 12, "checksum": "0a1b2c3d"}: the
    // name as `list` spells it, the checksum as `list` prints it.
    void add(const DirectoryEntry& entry);
    // The same with the entry's verdict: "ok", "damaged" or "unsafe name",
    // and for the last two the reason.
    void add(const DirectoryEntry& entry, const EntryVerdict& verdict);

    // {"entries": [...], "files": 2, "bytes": 30, "container": 200, "packed": 120}
    std::string listing(const OpenedInstaller& opened) const;
    // {"ok": true, "entries": [...], "files": 2, "bytes": 30}, or with
    // "ok": false and "error": the message `test` prints, after "ok".
    std::string verdict(const std::string& error) const;

private:
    std::string entries_;
    size_t files_ = 0;
    uint64_t bytes_ = 0;
};

}  // namespace lumo
