// Stands in for a web browser in the GUI tests' Wine prefix: registered as the
// handler of the https protocol, it leaves one file per start in the folder
// named by its first argument, holding the address it was given, and ends.
//   link_handler <folder> <address>
#include <windows.h>
#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 3) {
        return 2;
    }
    const std::wstring folder = arguments[1];
    const std::wstring address = arguments[2];
    LocalFree(arguments);

    // Written under a temporary name and then renamed, so that a reader never
    // sees half a file.
    const std::wstring name = folder + L"\\opened-" + std::to_wstring(GetCurrentProcessId());
    HANDLE file =
        CreateFileW((name + L".tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, address.data(), static_cast<DWORD>(address.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    if (!ok || !MoveFileW((name + L".tmp").c_str(), (name + L".txt").c_str())) {
        return 1;
    }
    return 0;
}
