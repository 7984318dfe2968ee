#include <windows.h>
#include <commctrl.h>

#include "app/app_entry.h"

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "dialogs/file_commands.h"
#include "resources/resource.h"

void ParseCommandLine(const wchar_t* commandLine, wchar_t* path, std::size_t capacity)
{
    std::size_t length = 0;
    const std::size_t limit = capacity - 1 < COMMAND_LINE_PATH_LIMIT ? capacity - 1 : COMMAND_LINE_PATH_LIMIT;
    if (commandLine != nullptr) {
        const wchar_t* p = commandLine;
        if (*p == L'"') {
            ++p;
        }
        while (*p != L'\0' && *p != L'"' && length < limit) {
            path[length++] = *p++;
        }
    }
    path[length] = L'\0';
}

bool StartApplication(HINSTANCE instance, const wchar_t* commandLine)
{
    AppState* app = EnterAppState();
    app->instance = instance;
    app->processId = GetCurrentProcessId();
    ParseCommandLine(commandLine, app->requestedPath, PATH_CAPACITY);
    LoadSettings();

    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    if (!InitCommonControlsEx(&controls)) {
        return false;
    }

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP_ICON));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.lpszClassName = app->appName;
    if (RegisterClassW(&windowClass) == 0) {
        return false;
    }

    HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(IDM_MAIN_MENU));
    app->mainWindow = CreateWindowExW(0, app->appName, app->appName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                      app->initialWidth, app->initialHeight, nullptr, menu, instance, nullptr);
    if (app->mainWindow == nullptr) {
        if (menu != nullptr) {
            DestroyMenu(menu);
        }
        return false;
    }
    ShowWindow(app->mainWindow, SW_SHOWNORMAL);

    if (app->requestedPath[0] != L'\0') {
        OpenDocument(1);
    }
    return true;
}

int RunMessageLoop()
{
    AppState* app = gApp;
    MSG message{};
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got > 0) {
            if (app->findDialogVisible != 0 && IsDialogMessageW(app->findDialog, &message)) {
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
            continue;
        }
        if (app->runState == RUN_CLOSED) {
            return got == 0 ? static_cast<int>(message.wParam) : 0;
        }
        // Only the window's own close ends the program: it asks about unsaved
        // changes and wipes the text first.
        PostMessageW(app->mainWindow, WM_CLOSE, 0, 0);
    }
}
