#include "tools/lumopack/name_portability.h"

#include <algorithm>

#include "tools/lumopack/folder_gathering.h"
#include "tools/lumopack/pack_error.h"

namespace lumo {

void check_name_portability(std::span<const std::string> stored_names, bool strict,
                            std::vector<std::string>& warnings) {
    std::vector<std::string> outside;
    for (const auto& name : stored_names)
        if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
            outside.push_back(host_spelling(name));
    if (outside.empty()) return;
    std::sort(outside.begin(), outside.end());
    if (strict) {
        std::string listed;
        for (const auto& name : outside) listed += (listed.empty() ? "" : ", ") + name;
        throw PackError("names with characters outside ASCII, refused by --strict-names (Windows writes them right "
                        "only where the system's code page is 1252): " + listed);
    }
    for (const auto& name : outside)
        warnings.push_back(name + ": the name has characters outside ASCII; Windows writes it right only where the "
                                  "system's code page is 1252 (Western European)");
}

}  // namespace lumo
