// Looks at and pokes the windows of the installer from inside the same Wine
// session, so that tests can read what a user would see.
//
//   window_probe show <title> <seconds>      waits for a top-level window with
//                                            that title; prints the texts of
//                                            its children, one per line
//   window_probe confirm <title> <seconds>   as show, for a message box: prints
//                                            "count=<n>" and its text, then
//                                            presses its button
//   window_probe escape <title>              Escape key to the window's focus
//   window_probe close <title>               the close box (SC_CLOSE)
//   window_probe rect <title> <id>           prints the screen rectangle of
//                                            child control <id>: "left top
//                                            width height"
//   window_probe closebox <title>            prints the screen point in the
//                                            middle of the close box: "x y"
//   window_probe gone <title> <seconds>      waits until no such window is left
//   window_probe post <title> <message>      posts window message <message>
//                                            (a number) to the window
// Exit status 0 when the window was found (or is gone), 1 otherwise.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Search {
    const char* title;
    std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    char text[512];
    if (IsWindowVisible(window) && GetWindowTextA(window, text, sizeof text) > 0 &&
        std::strcmp(text, search->title) == 0)
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> windows_titled(const char* title) {
    Search search{title, {}};
    EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> wait_for(const char* title, double seconds) {
    for (DWORD start = GetTickCount();;) {
        auto found = windows_titled(title);
        if (!found.empty()) return found;
        if (GetTickCount() - start > seconds * 1000) return {};
        Sleep(50);
    }
}

BOOL CALLBACK print_child(HWND child, LPARAM) {
    char text[2048];
    int length = GetWindowTextA(child, text, sizeof text);
    std::fwrite(text, 1, length, stdout);
    std::fputc('\n', stdout);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    // Texts go out byte for byte: their own CR LF must stay as it is.
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string command = argv[1];
    const char* title = argv[2];
    const double seconds = argc > 3 ? std::atof(argv[3]) : 0;

    if (command == "gone") {
        for (DWORD start = GetTickCount(); !windows_titled(title).empty(); Sleep(50))
            if (GetTickCount() - start > seconds * 1000) return 1;
        return 0;
    }
    auto found = command == "show" || command == "confirm" ? wait_for(title, seconds) : windows_titled(title);
    if (found.empty()) return 1;
    HWND window = found.front();
    if (command == "show") {
        EnumChildWindows(window, print_child, 0);
    } else if (command == "confirm") {
        // Give the box a moment: a second one would show up meanwhile.
        Sleep(300);
        std::printf("count=%zu\n", windows_titled(title).size());
        char text[2048];
        int length = GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
        std::fwrite(text, 1, length, stdout);
        std::fputc('\n', stdout);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    } else if (command == "escape") {
        // Keys go to the control with the focus; the dialog's message loop
        // turns Escape into IDCANCEL.
        DWORD thread = GetWindowThreadProcessId(window, nullptr);
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        HWND target = GetGUIThreadInfo(thread, &gui) && gui.hwndFocus ? gui.hwndFocus : window;
        PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    } else if (command == "close") {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (command == "post") {
        if (argc < 4) return 2;
        PostMessageA(window, static_cast<UINT>(std::strtoul(argv[3], nullptr, 0)), 0, 0);
    } else if (command == "closebox") {
        // Wherever the frame draws it: the points at the caption's right end
        // that the window itself calls its close box.
        RECT frame;
        if (!GetWindowRect(window, &frame)) return 1;
        long left = frame.right, right = frame.left, top = frame.bottom, bottom = frame.top;
        for (long y = frame.top; y < frame.top + 40 && y < frame.bottom; ++y)
            for (long x = frame.right - 80 > frame.left ? frame.right - 80 : frame.left; x < frame.right; ++x)
                if (SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) {
                    left = x < left ? x : left, right = x > right ? x : right;
                    top = y < top ? y : top, bottom = y > bottom ? y : bottom;
                }
        if (left > right) return 1;
        std::printf("%ld %ld\n", (left + right) / 2, (top + bottom) / 2);
    } else if (command == "rect") {
        RECT rect;
        HWND control = argc > 3 ? GetDlgItem(window, std::atoi(argv[3])) : nullptr;
        if (!control || !GetWindowRect(control, &rect)) return 1;
        std::printf("%ld %ld %ld %ld\n", static_cast<long>(rect.left), static_cast<long>(rect.top),
                    static_cast<long>(rect.right - rect.left), static_cast<long>(rect.bottom - rect.top));
    } else {
        return 2;
    }
    std::fflush(stdout);
    return 0;
}
