#include "platform/posix/posix_platform.h"

#include <sys/mman.h>

namespace lumo {

PosixPlatform::PosixPlatform() = default;

PosixPlatform::~PosixPlatform() {
    for (auto& worker : workers_)
        if (worker.joinable()) worker.join();
    if (image_) munmap(const_cast<uint8_t*>(image_), image_size_);
}

}  // namespace lumo
