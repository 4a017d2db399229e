// The progress dialog and the message boxes, rendered on the terminal.
//
// The dialog is drawn on standard error when that is a terminal: its title,
// the prompt with the staging folder, and one line with the bar and the
// centred percentage, rewritten in place whenever the percentage changes.
// When standard error is not a terminal nothing of the dialog is shown, only
// the messages. Like the Windows dialog it has no cancel key: the worker
// alone ends it.
#include <unistd.h>

#include <cstdio>

#include "extraction/progress_drawing.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/posix_strings.h"
#include "resources/strings.h"

namespace lumo {
namespace {

constexpr uint32_t bar_cells = 40;

std::string bar_line(uint32_t percentage) {
    std::string cells(bar_cells, ' ');
    uint32_t filled = progress_bar_right(0, bar_cells, percentage);
    for (uint32_t i = 0; i < filled && i < bar_cells; ++i) cells[i] = '#';
    std::string label = progress_label(percentage);
    size_t at = bar_cells / 2 - label.size() / 2;
    cells.replace(at, label.size(), label);
    return "\r[" + cells + "]";
}

void write_out(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace

void PosixPlatform::run_progress_dialog(const std::string& staging_folder, const std::function<void()>& on_open) {
    std::unique_lock<std::mutex> lock(dialog_mutex_);
    dialog_ended_ = false;
    close_posted_ = false;
    repaint_pending_ = false;
    percentage_ = 0;
    dialog_shown_ = isatty(STDERR_FILENO) == 1;
    if (dialog_shown_) {
        write_out(dialog_title() + "\n" + dialog_prompt() + staging_folder + "\n" + bar_line(0));
        drawn_percentage_ = 0;
    }
    lock.unlock();
    on_open();
    lock.lock();
    while (true) {
        dialog_wakeup_.wait(lock, [this] { return repaint_pending_ || dialog_ended_ || close_posted_; });
        if (repaint_pending_) {
            repaint_pending_ = false;
            if (dialog_shown_ && percentage_ != drawn_percentage_) {
                write_out(bar_line(percentage_));
                drawn_percentage_ = percentage_;
            }
        }
        // Ended by the worker (EndDialog) or by the close it posted.
        if (dialog_ended_ || close_posted_) break;
    }
    if (dialog_shown_) write_out("\n");
    dialog_shown_ = false;
}

void PosixPlatform::set_progress(uint32_t percentage) {
    std::lock_guard<std::mutex> lock(dialog_mutex_);
    percentage_ = percentage;
    repaint_pending_ = true;
    dialog_wakeup_.notify_all();
}

void PosixPlatform::message_box(const std::string& text, bool) {
    // Holding the dialog's lock keeps the bar still while the message is up,
    // as a modal message box keeps the dialog where it stopped.
    std::lock_guard<std::mutex> lock(dialog_mutex_);
    std::string shown = dialog_shown_ ? "\n\n" : "";
    shown += std::string(LUMO_CAPTION) + "\n" + terminal_text(text) + "\n";
    // Confirmed with Enter when someone can read the message and answer it;
    // waiting on a terminal for a message written elsewhere would look like a hang.
    bool confirm = isatty(STDIN_FILENO) == 1 && isatty(STDERR_FILENO) == 1;
    if (confirm) shown += "[ OK ] ";
    write_out(shown);
    if (confirm) {
        // Waits for Enter, as the message box waits for its OK button.
        char c;
        while (read(STDIN_FILENO, &c, 1) == 1 && c != '\n') {
        }
    }
    if (dialog_shown_) {
        write_out("\n");
        write_out(bar_line(drawn_percentage_));
    }
}

void PosixPlatform::end_dialog() {
    std::lock_guard<std::mutex> lock(dialog_mutex_);
    dialog_ended_ = true;
    dialog_wakeup_.notify_all();
}

void PosixPlatform::post_close() {
    std::lock_guard<std::mutex> lock(dialog_mutex_);
    close_posted_ = true;
    dialog_wakeup_.notify_all();
}

}  // namespace lumo
