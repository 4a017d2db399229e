// Progress dialog 103: its procedure, its progress bar, the message boxes
// and the string table.
#include <algorithm>
#include <cstring>
#include <string>

#include "extraction/progress_drawing.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_progress_bar.h"
#include "platform/win32/win32_user_calls.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"

namespace lumo {
namespace {

constexpr size_t prompt_buffer_size = 512;
constexpr int string_buffer_size = 256;
// The worker's close: a message of the application's own range, which
// neither the dialog manager nor the system makes from a key or a command.
constexpr UINT close_message = WM_APP + 1;

}  // namespace

void draw_progress_bar(const DRAWITEMSTRUCT& item) {
    // Only the worker writes the percentage; values above 100 are not
    // expected but are drawn as they come rather than trusted blindly.
    const auto percentage = static_cast<uint32_t>(user_calls().GetWindowLongPtrA(item.hwndItem, GWLP_USERDATA));

    RECT filled = item.rcItem;
    filled.right = static_cast<LONG>(progress_bar_right(item.rcItem.left, item.rcItem.right, percentage));
    // The brush value COLOR_HIGHLIGHT + 1 stands for the system colour. The
    // rest of the control keeps the background erased by the invalidation.
    user_calls().FillRect(item.hDC, &filled, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_HIGHLIGHT + 1)));
    RECT unfilled = item.rcItem;
    unfilled.left = std::clamp(filled.right, item.rcItem.left, item.rcItem.right);

    // The label is centred over the whole bar and cut at the fill's edge:
    // over the fill in the highlight's text colour, over the rest in the
    // window's text colour, so that it reads on both (the highlight's text
    // colour is white, the unfilled bar the dialog's light grey).
    const std::string label = progress_label(percentage);
    user_calls().SetTextAlign(item.hDC, TA_CENTER | TA_TOP);
    user_calls().SetBkMode(item.hDC, TRANSPARENT);
    const struct {
        const RECT& part;
        int colour;
    } parts[] = {{filled, COLOR_HIGHLIGHTTEXT}, {unfilled, COLOR_WINDOWTEXT}};
    for (const auto& [part, colour] : parts) {
        user_calls().SetTextColor(item.hDC, user_calls().GetSysColor(colour));
        user_calls().ExtTextOutA(item.hDC, (item.rcItem.left + item.rcItem.right) / 2, item.rcItem.top, ETO_CLIPPED,
                                 &part, label.c_str(), static_cast<UINT>(label.size()), nullptr);
    }
}

INT_PTR CALLBACK Win32Platform::dialog_procedure(HWND dialog, UINT message, WPARAM, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* self = reinterpret_cast<Win32Platform*>(lparam);
        // The prompt ends in a line break; the staging folder goes on the
        // next line. The buffer's size bounds the text, as it always has.
        char prompt[prompt_buffer_size];
        HWND prompt_control = user_calls().GetDlgItem(dialog, IDC_PROMPT);
        int length = user_calls().GetWindowTextA(prompt_control, prompt, sizeof prompt);
        if (length < 0) length = 0;
        size_t room = sizeof prompt - 1 - static_cast<size_t>(length);
        size_t folder_length = self->staging_folder_.size() < room ? self->staging_folder_.size() : room;
        std::memcpy(prompt + length, self->staging_folder_.data(), folder_length);
        prompt[length + folder_length] = '\0';
        user_calls().SetWindowTextA(prompt_control, prompt);

        HICON icon = user_calls().LoadIconA(self->instance_, MAKEINTRESOURCEA(IDI_INSTALLER));
        user_calls().SetClassLongPtrA(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));

        // Stored before the worker starts: it is the worker's only way to
        // the dialog.
        self->dialog_ = dialog;
        (*self->on_open_)();
        return TRUE;
    }
    case close_message:
        user_calls().EndDialog(dialog, 1);
        return TRUE;
    case WM_CLOSE:
    case WM_COMMAND:
        // Only the worker ends the dialog, by close_message. Enter (IDOK,
        // with no default button), Escape and the close box or Alt+F4
        // (WM_CLOSE, then IDCANCEL) do nothing: the user cannot interrupt an
        // extraction half-way.
        return TRUE;
    case WM_DRAWITEM:
        draw_progress_bar(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
        return FALSE;
    default:
        return FALSE;
    }
}

void Win32Platform::run_progress_dialog(const std::string& staging_folder, const std::function<void()>& on_open) {
    staging_folder_ = staging_folder;
    on_open_ = &on_open;
    user_calls().DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, dialog_procedure,
                    reinterpret_cast<LPARAM>(this));
    on_open_ = nullptr;
}

void Win32Platform::set_progress(uint32_t percentage) {
    HWND control = user_calls().GetDlgItem(dialog_, IDC_PROGRESS);
    user_calls().SetWindowLongPtrA(control, GWLP_USERDATA, static_cast<LONG_PTR>(percentage));
    user_calls().InvalidateRect(control, nullptr, TRUE);
}

void Win32Platform::message_box(const std::string& text, bool owned_by_dialog) {
    user_calls().MessageBoxA(owned_by_dialog ? dialog_ : nullptr, text.c_str(), LUMO_CAPTION, MB_ICONERROR);
}

// The dialog ends on its own thread, by the worker's close_message: an
// EndDialog called from the worker hides the dialog by window calls that
// wait for the dialog's thread to answer, which may by then have left the
// dialog's loop to wait for the worker.
void Win32Platform::end_dialog() { post_close(); }

void Win32Platform::post_close() { user_calls().PostMessageA(dialog_, close_message, 0, 0); }

std::string Win32Platform::load_string(int id) {
    char buffer[string_buffer_size];
    int length = user_calls().LoadStringA(instance_, static_cast<UINT>(id), buffer, sizeof buffer);
    if (length <= 0) return "";
    return std::string(buffer, static_cast<size_t>(length));
}

}  // namespace lumo
