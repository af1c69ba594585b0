// Under Wine, the desktop and its explorer.exe close a second after the last program using them
// ends, and the next program that needs the desktop (any that broadcasts a message) starts
// explorer.exe again as its own child. That explorer.exe keeps the program's handles open, so a
// pipe that the program's parent reads to its end never ends, and the parent waits for good.
// wine-run.sh --start runs this once per session, detached: a thread waiting for messages on the
// desktop makes it a user of the desktop until the session's wineserver stops.
#include "base/win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (GetDesktopWindow() == nullptr) return 1;
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}
