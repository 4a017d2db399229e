// The installer's entry point on POSIX systems. Like the Windows installer
// it takes no arguments.
#include "launcher/run_installer.h"
#include "platform/posix/posix_platform.h"

int main() {
    lumo::PosixPlatform platform;
    return lumo::run_installer(platform);
}
