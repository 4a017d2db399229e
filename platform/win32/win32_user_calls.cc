#include "platform/win32/win32_user_calls.h"

namespace lumo {
namespace {

UserCalls calls;

HMODULE load_system_library(const char* name) {
    // LOAD_LIBRARY_SEARCH_SYSTEM32 is unknown to systems without the
    // restricted search; both DLLs are known system DLLs there, which the
    // loader takes from the system folder anyway.
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module ? module : LoadLibraryA(name);
}

template <typename Call>
bool resolve(HMODULE module, Call& call, const char* name) {
    call = reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return call != nullptr;
}

constexpr bool pointer_sized_calls = sizeof(void*) == 8;

}  // namespace

bool load_user_calls() {
    HMODULE user32 = load_system_library("user32.dll");
    HMODULE gdi32 = load_system_library("gdi32.dll");
    if (!user32 || !gdi32) return false;
    return resolve(user32, calls.DialogBoxParamA, "DialogBoxParamA") &&
           resolve(user32, calls.EndDialog, "EndDialog") && resolve(user32, calls.GetDlgItem, "GetDlgItem") &&
           resolve(user32, calls.GetWindowTextA, "GetWindowTextA") &&
           resolve(user32, calls.SetWindowTextA, "SetWindowTextA") && resolve(user32, calls.LoadIconA, "LoadIconA") &&
           resolve(user32, calls.LoadStringA, "LoadStringA") && resolve(user32, calls.MessageBoxA, "MessageBoxA") &&
           resolve(user32, calls.PostMessageA, "PostMessageA") && resolve(user32, calls.PeekMessageA, "PeekMessageA") &&
           resolve(user32, calls.MsgWaitForMultipleObjects, "MsgWaitForMultipleObjects") &&
           resolve(user32, calls.InvalidateRect, "InvalidateRect") &&
           resolve(user32, calls.GetSysColor, "GetSysColor") && resolve(user32, calls.FillRect, "FillRect") &&
           resolve(user32, calls.GetWindowLongPtrA, pointer_sized_calls ? "GetWindowLongPtrA" : "GetWindowLongA") &&
           resolve(user32, calls.SetWindowLongPtrA, pointer_sized_calls ? "SetWindowLongPtrA" : "SetWindowLongA") &&
           resolve(user32, calls.SetClassLongPtrA, pointer_sized_calls ? "SetClassLongPtrA" : "SetClassLongA") &&
           resolve(gdi32, calls.SetTextAlign, "SetTextAlign") && resolve(gdi32, calls.SetTextColor, "SetTextColor") &&
           resolve(gdi32, calls.SetBkMode, "SetBkMode") && resolve(gdi32, calls.ExtTextOutA, "ExtTextOutA");
}

const UserCalls& user_calls() { return calls; }

}  // namespace lumo
