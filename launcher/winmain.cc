// The installer's entry point on Windows. It takes no arguments.
#include <windows.h>

#include "launcher/run_installer.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_user_calls.h"

namespace {

// An installer is usually started from a Downloads folder that holds other
// files too. No DLL may ever come from there: every later load, also those
// the system makes on the installer's behalf, searches System32 only, and
// searches for programs skip the current folder. Only kernel32, the C
// runtime and advapi32 are imported statically; the window and drawing DLLs
// are loaded after this (platform/win32/win32_user_calls.h).
void restrict_library_search() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    // Looked up rather than imported: systems without these calls still run
    // the installer, only unhardened.
    using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
    using SetSearchPathModeCall = BOOL(WINAPI*)(DWORD);
    auto set_default_dll_directories = reinterpret_cast<SetDefaultDllDirectoriesCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    auto set_search_path_mode = reinterpret_cast<SetSearchPathModeCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetSearchPathMode")));
    if (set_default_dll_directories) set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (set_search_path_mode)
        set_search_path_mode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    restrict_library_search();
    // Without user32 and gdi32 nothing can be shown, not even a message.
    if (!lumo::load_user_calls()) return 1;
    lumo::Win32Platform platform(instance);
    return lumo::run_installer(platform);
}
