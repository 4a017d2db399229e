// Creates a file and keeps it open, shared with nobody, for some seconds: it
// can then be neither deleted nor replaced, as when another program uses it.
//   file_holder <path> <seconds>
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written;
    WriteFile(file, "old", 3, &written, nullptr);
    Sleep(static_cast<DWORD>(std::atof(argv[2]) * 1000));
    CloseHandle(file);
    return 0;
}
