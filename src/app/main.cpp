#include <windows.h>

#include "app/app_entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int)
{
    // Before anything can load a library: a DLL planted beside the program (an
    // unpacked download folder) must never run inside the process that holds
    // the plaintext, so libraries come from the system folder alone.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!StartApplication(instance, commandLine)) {
        return 0;
    }
    return RunMessageLoop();
}
