#include "app/dispatch.h"
#include "base/process.h"
#include "base/win32.h"

// GUI subsystem, so no console window appears; the command line comes from GetCommandLineW.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    RestrictDllSearchToSystem32();
    return static_cast<int>(RunHelper(GetCommandLineW()));
}
