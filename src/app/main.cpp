#include <windows.h>

#include "app/app_entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int)
{
    if (!StartApplication(instance, commandLine)) {
        return 0;
    }
    return RunMessageLoop();
}
