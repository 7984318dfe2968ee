#include <windows.h>
#include <shellapi.h>

#include "dialogs/about_dialog.h"

#include <cwchar>

#include "app/app_state.h"
#include "app/view_settings.h"
#include "dialogs/message_dialogs.h"
#include "resources/resource.h"

namespace {

// Name, description, version with the processor architecture, notice: four
// lines, each short enough for the narrow text control of the box.
constexpr const wchar_t* ABOUT_TEXT =
    L"Tarnwick\r\nEncrypted Text Editor\r\n23.8 (x64)\r\n\u00A9 2026 Tarnwick authors";

// Room for the program's path, long ones included.
constexpr DWORD USER_GUIDE_PATH_CAPACITY = 32768;
constexpr const wchar_t* USER_GUIDE_MISSING = L"The user guide, user-guide.html, is not in the program's folder.";
constexpr const wchar_t* USER_GUIDE_NO_VIEWER =
    L"No program opens the user guide, user-guide.html, in the program's folder. Open it in a web browser.";

// The icon drawn in the box, loaded at the control's own size for this box
// alone (the template's copy is shared and stays with the system); released
// when the box goes. The box is modal, so there is one at a time.
HICON aboutIcon = nullptr;

HICON LoadStretchedIcon(HWND control)
{
    RECT area{};
    GetClientRect(control, &area);
    return static_cast<HICON>(LoadImageW(gApp->instance, MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON,
                                         area.right - area.left, area.bottom - area.top, LR_DEFAULTCOLOR));
}

INT_PTR OnInitDialog(HWND dialog)
{
    HWND iconControl = GetDlgItem(dialog, IDC_ABOUT_ICON);
    aboutIcon = LoadStretchedIcon(iconControl);
    if (aboutIcon != nullptr) {
        SendMessageW(iconControl, STM_SETICON, reinterpret_cast<WPARAM>(aboutIcon), 0);
    }
    SetDlgItemTextW(dialog, IDC_ABOUT_TEXT, ABOUT_TEXT);
    SetDlgItemTextW(dialog, IDC_ABOUT_LINK, ABOUT_LINK_CAPTION);
    ShowWindow(dialog, SW_SHOW);
    CenterWindow(dialog, GetParent(dialog));
    return TRUE;
}

// The user guide's path: the running program's folder and the guide's name.
// False when it does not fit.
bool UserGuidePath(wchar_t* path, DWORD capacity)
{
    const DWORD length = GetModuleFileNameW(nullptr, path, capacity);
    if (length == 0 || length >= capacity) {
        return false;
    }
    wchar_t* name = std::wcsrchr(path, L'\\');
    name = name != nullptr ? name + 1 : path;
    const std::size_t room = capacity - static_cast<std::size_t>(name - path);
    return wcscpy_s(name, room, USER_GUIDE_FILE_NAME) == 0;
}

void OpenUserGuide(HWND dialog)
{
    wchar_t path[USER_GUIDE_PATH_CAPACITY];
    if (!UserGuidePath(path, USER_GUIDE_PATH_CAPACITY) || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        ShowMessageText(dialog, ABOUT_LINK_CAPTION, USER_GUIDE_MISSING);
        return;
    }
    // ShellExecuteW gives a number above 32 when it started a program.
    const auto started =
        reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", path, nullptr, nullptr, SW_SHOWNORMAL));
    if (started <= 32) {
        ShowMessageText(dialog, ABOUT_LINK_CAPTION, USER_GUIDE_NO_VIEWER);
    }
}

INT_PTR OnDestroy(HWND dialog)
{
    if (aboutIcon != nullptr) {
        SendDlgItemMessageW(dialog, IDC_ABOUT_ICON, STM_SETICON, 0, 0);
        DestroyIcon(aboutIcon);
        aboutIcon = nullptr;
    }
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(dialog);
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                case IDCANCEL:
                    PostMessageW(dialog, WM_CLOSE, 0, 0);
                    return TRUE;
                case IDC_ABOUT_LINK:
                    OpenUserGuide(dialog);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
        case WM_DESTROY:
            return OnDestroy(dialog);
        default:
            return FALSE;
    }
}
