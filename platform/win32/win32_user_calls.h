// The window and drawing calls of user32 and gdi32, reached through a table
// instead of static imports.
//
// A DLL imported statically is loaded before the installer's first line
// runs, and with it every DLL it imports in turn, found with the default
// search order that starts in the installer's own folder. Loaded here, after
// the entry point has restricted the DLL search to System32, the two DLLs and
// everything they pull in come from System32 only.
#pragma once

#include <windows.h>

namespace lumo {

struct UserCalls {
    // user32
    decltype(&::DialogBoxParamA) DialogBoxParamA = nullptr;
    decltype(&::EndDialog) EndDialog = nullptr;
    decltype(&::GetDlgItem) GetDlgItem = nullptr;
    decltype(&::GetWindowTextA) GetWindowTextA = nullptr;
    decltype(&::SetWindowTextA) SetWindowTextA = nullptr;
    decltype(&::LoadIconA) LoadIconA = nullptr;
    decltype(&::LoadStringA) LoadStringA = nullptr;
    decltype(&::MessageBoxA) MessageBoxA = nullptr;
    decltype(&::PostMessageA) PostMessageA = nullptr;
    decltype(&::PeekMessageA) PeekMessageA = nullptr;
    decltype(&::MsgWaitForMultipleObjects) MsgWaitForMultipleObjects = nullptr;
    decltype(&::InvalidateRect) InvalidateRect = nullptr;
    decltype(&::GetSysColor) GetSysColor = nullptr;
    decltype(&::FillRect) FillRect = nullptr;
    // The pointer-sized variants; a 32-bit user32 has only the plain ones,
    // which the headers name by the same macros there.
    decltype(&::GetWindowLongPtrA) GetWindowLongPtrA = nullptr;
    decltype(&::SetWindowLongPtrA) SetWindowLongPtrA = nullptr;
    decltype(&::SetClassLongPtrA) SetClassLongPtrA = nullptr;
    // gdi32
    decltype(&::SetTextAlign) SetTextAlign = nullptr;
    decltype(&::SetTextColor) SetTextColor = nullptr;
    decltype(&::SetBkMode) SetBkMode = nullptr;
    decltype(&::ExtTextOutA) ExtTextOutA = nullptr;
};

// Loads user32 and gdi32 from System32 and fills the table. False when a DLL
// or a call is missing; the installer cannot show anything then.
bool load_user_calls();

// The table; filled by load_user_calls.
const UserCalls& user_calls();

}  // namespace lumo
