// Loads "Crypt32.dll" by its bare name, as a program with no defence against
// DLL planting would: the DLL planting test runs it to show that the planted
// DLL is what such a program gets.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    HMODULE module = LoadLibraryW(L"Crypt32.dll");
    if (module == nullptr) {
        return 1;
    }
    FreeLibrary(module);
    return 0;
}
