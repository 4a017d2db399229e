// Emptying the staging folder before a run.
#pragma once

#include <string>

#include "platform/platform.h"

namespace lumo {

// Removes every file and folder below `folder`, depth first; `folder` itself
// stays. True when everything below it went, or there was nothing (a folder
// that does not exist included); false when anything stayed. A failure does
// not stop the walk. Links are removed as links: what they point to is never
// entered, emptied or deleted.
bool empty_staging_folder(Platform& platform, const std::string& folder);

}  // namespace lumo
