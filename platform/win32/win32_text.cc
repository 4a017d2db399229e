#include "platform/win32/win32_text.h"

#include <windows.h>

namespace lumo {

std::wstring to_wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(size > 0 ? size : 0), L'\0');
    if (size > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), size);
    return wide;
}

bool to_ansi(const std::wstring& text, std::string& ansi) {
    ansi.clear();
    if (text.empty()) return true;
    // A UTF-8 code page holds every character, and takes neither flag.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL replaced = FALSE;
    BOOL* replaced_out = utf8 ? nullptr : &replaced;
    const int size = WideCharToMultiByte(CP_ACP, flags, text.data(), int(text.size()), nullptr, 0, nullptr, replaced_out);
    if (size <= 0) return false;
    ansi.resize(size_t(size));
    WideCharToMultiByte(CP_ACP, flags, text.data(), int(text.size()), ansi.data(), size, nullptr, replaced_out);
    return !replaced;
}

}  // namespace lumo
