// Stands in for the add-on's setup program: records where and how the
// installer started it, then lingers so that a test can tell whether the
// installer waited for it.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char folder[MAX_PATH];
    GetCurrentDirectoryA(sizeof folder, folder);
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    if (FILE* record = std::fopen("setup-started.txt", "wb")) {
        std::fprintf(record, "folder=%s\ncommand=%s\nshow=%d flags=%lu\n", folder, GetCommandLineA(),
                     startup.wShowWindow, static_cast<unsigned long>(startup.dwFlags));
        std::fclose(record);
    }
    Sleep(4000);
    if (FILE* record = std::fopen("setup-finished.txt", "wb")) std::fclose(record);
    return 0;
}
