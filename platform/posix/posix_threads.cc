// Threads that are waited for, and the signals the worker and its decoding
// thread pass between them, on POSIX.
#include "platform/posix/posix_platform.h"
#include "platform/std_threads.h"

namespace lumo {

std::unique_ptr<JoinableThread> PosixPlatform::start_joinable_thread(std::function<void()> body) {
    return std::make_unique<StdThread>(std::move(body));
}

// The dialog's thread answers nothing the worker waits for: a plain wait.
std::unique_ptr<JoinableThread> PosixPlatform::start_thread(std::function<void()> body) {
    return start_joinable_thread(std::move(body));
}

std::unique_ptr<Signal> PosixPlatform::create_signal() { return std::make_unique<StdSignal>(); }

}  // namespace lumo
