// Threads that are waited for, and the events the worker and its decoding
// thread pass between them, on Windows.
#include <atomic>

#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_user_calls.h"

namespace lumo {
namespace {

DWORD WINAPI run_body(LPVOID parameter) {
    (*static_cast<std::function<void()>*>(parameter))();
    return 0;
}

// How a thread is waited for. The user-interface thread goes on answering
// the messages that other threads send to its windows (SendMessage and the
// calls made of it, which wait until the window's thread has answered): a
// worker in the middle of one when the dialog ends would otherwise wait for
// the thread that waits for it.
enum class Wait { plain, answering_sent_messages };

class Win32Thread final : public JoinableThread {
public:
    Win32Thread(std::function<void()> body, Wait wait) : body_(std::move(body)), wait_(wait) {
        thread_ = CreateThread(nullptr, 0, run_body, &body_, 0, nullptr);
    }
    ~Win32Thread() override {
        if (!thread_) return;
        if (wait_ == Wait::answering_sent_messages) {
            MSG message;
            while (user_calls().MsgWaitForMultipleObjects(1, &thread_, FALSE, INFINITE, QS_SENDMESSAGE) ==
                   WAIT_OBJECT_0 + 1)
                user_calls().PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    bool started() const { return thread_ != nullptr; }

private:
    std::function<void()> body_;  // lives as long as the thread may run it
    Wait wait_;
    HANDLE thread_ = nullptr;
};

std::unique_ptr<JoinableThread> start(std::function<void()> body, Wait wait) {
    auto thread = std::make_unique<Win32Thread>(std::move(body), wait);
    if (!thread->started()) return nullptr;
    return thread;
}

// An auto-reset event that calls into the system only when a thread sleeps
// on it. Most gives find nobody waiting (the worker gives after every file
// it lets go of), and each call is a round trip to the server under Wine.
// One thread waits at a time, as the platform's signals are used: a wait
// that finds the signal given takes it; one that does not says it sleeps,
// and the give that finds it sleeping sets the event, once for that wait.
class Win32Signal final : public Signal {
public:
    explicit Win32Signal(HANDLE event) : event_(event) {}
    ~Win32Signal() override { CloseHandle(event_); }
    void give() override {
        int state = state_.load();
        while (state != given && !state_.compare_exchange_weak(state, state == sleeping ? idle : given)) {
        }
        if (state == sleeping) SetEvent(event_);
    }
    void wait() override {
        int state = state_.load();
        while (!state_.compare_exchange_weak(state, state == given ? idle : sleeping)) {
        }
        if (state != given) WaitForSingleObject(event_, INFINITE);
    }

private:
    enum : int { idle, given, sleeping };
    std::atomic<int> state_{idle};
    HANDLE event_;
};

}  // namespace

std::unique_ptr<JoinableThread> Win32Platform::start_joinable_thread(std::function<void()> body) {
    return start(std::move(body), Wait::plain);
}

std::unique_ptr<JoinableThread> Win32Platform::start_thread(std::function<void()> body) {
    return start(std::move(body), Wait::answering_sent_messages);
}

std::unique_ptr<Signal> Win32Platform::create_signal() {
    // Auto-reset: a wait takes the signal, and one given before the wait is kept.
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!event) return nullptr;
    return std::make_unique<Win32Signal>(event);
}

}  // namespace lumo
