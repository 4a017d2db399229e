#include "tools/lumopack/system/system.h"

namespace lumo {

// The Windows heap gives blocks of about a megabyte and more their own
// virtual allocation and releases it when they are freed: nothing to set.
void return_large_blocks_when_freed() {}

}  // namespace lumo
