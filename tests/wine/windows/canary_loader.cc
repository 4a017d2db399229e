// Loads a DLL by bare name with the default search order, the way an
// unhardened program does. Shows that a planted canary is picked up at all,
// so that its absence with the installer means something.
#include <windows.h>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) LoadLibraryA(argv[i]);
    return 0;
}
