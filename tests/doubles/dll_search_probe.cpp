// Loads each DLL named on its command line by the ordinary search order (the program's
// own folder first) and exits with the number that failed to load. Tests use it to show
// that a DLL planted in a folder is found there unless the loader is told otherwise.
#include "base/win32.h"

int wmain(int argc, wchar_t** argv) {
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        if (LoadLibraryW(argv[i]) == nullptr) ++failed;
    }
    return failed;
}
