// The installer's entry point on POSIX systems. Like the Windows installer
// it takes no arguments.
#include <signal.h>

#include "launcher/run_installer.h"
#include "platform/posix/posix_platform.h"

int main() {
    // A closed standard error (say, piped into a program that has ended) must
    // not end the run halfway: the messages are lost, the files are not.
    signal(SIGPIPE, SIG_IGN);
    lumo::PosixPlatform platform;
    return lumo::run_installer(platform);
}
