// Draws the installer's progress bar off screen, as the dialog does, and
// prints it as a binary PPM image (P6) on standard output:
//
//   bar_painter <percentage> <width> <height>
//
// The bar is erased to the dialog's colour first, as the invalidation does.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/win32/win32_progress_bar.h"
#include "platform/win32/win32_user_calls.h"

int main(int argc, char** argv) {
    if (argc != 4 || !lumo::load_user_calls()) return 2;
    _setmode(_fileno(stdout), _O_BINARY);
    const long percentage = std::atol(argv[1]);
    const int width = std::atoi(argv[2]), height = std::atoi(argv[3]);

    // The control only carries the percentage, as its user data.
    HWND control = CreateWindowA("STATIC", "", 0, 0, 0, width, height, nullptr, nullptr, nullptr, nullptr);
    if (!control) return 1;
    SetWindowLongPtrA(control, GWLP_USERDATA, percentage);

    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;  // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dc || !bitmap) return 1;
    SelectObject(dc, bitmap);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));

    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.itemAction = ODA_DRAWENTIRE;
    item.hwndItem = control;
    item.hDC = dc;
    item.rcItem = {0, 0, width, height};
    FillRect(dc, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    lumo::draw_progress_bar(item);
    GdiFlush();

    std::printf("P6\n%d %d\n255\n", width, height);
    const auto* pixel = static_cast<const unsigned char*>(bits);  // blue, green, red, unused
    for (int i = 0; i < width * height; ++i, pixel += 4) {
        const unsigned char rgb[3] = {pixel[2], pixel[1], pixel[0]};
        std::fwrite(rgb, 1, 3, stdout);
    }
    return 0;
}
