#include "platform/posix/posix_platform.h"

namespace lumo {

PosixPlatform::PosixPlatform() = default;

PosixPlatform::~PosixPlatform() = default;

}  // namespace lumo
