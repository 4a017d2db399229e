// A planted DLL: loaded from anywhere, it leaves "<its own file name>.loaded"
// beside itself. A test copies it under the names of DLLs that a program may
// look for, next to the installer.
#include <windows.h>

#include <cstring>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[MAX_PATH + 8];
    DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    std::strcpy(path + length, ".loaded");
    HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    // Refuse to stay: the program goes on with the system's own DLL, if any.
    return FALSE;
}
