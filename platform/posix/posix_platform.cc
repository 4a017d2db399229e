#include "platform/posix/posix_platform.h"

namespace lumo {

PosixPlatform::PosixPlatform() = default;

PosixPlatform::~PosixPlatform() {
    for (auto& worker : workers_)
        if (worker.joinable()) worker.join();
}

}  // namespace lumo
