#include "setup_script/script_storage.h"

#include <cstdlib>

namespace lumo {

bool storage_available(std::size_t bytes) {
    // Kept in a volatile so that the compiler cannot drop the allocation as
    // unused and take it to succeed.
    void* volatile block = std::malloc(bytes);
    const bool available = block != nullptr;
    std::free(block);
    return available;
}

}  // namespace lumo
