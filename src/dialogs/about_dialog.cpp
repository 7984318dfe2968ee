#include <windows.h>
#include <shellapi.h>

#include "dialogs/about_dialog.h"

#include "app/app_state.h"
#include "app/view_settings.h"
#include "resources/resource.h"

namespace {

// Name, description, version with the processor architecture, notice: four
// lines, each short enough for the narrow text control of the box.
constexpr const wchar_t* ABOUT_TEXT =
    L"Tarnwick\r\nEncrypted Text Editor\r\n23.8 (x64)\r\n\u00A9 2026 Tarnwick authors";

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

void OpenWebAddress()
{
    ShellExecuteW(nullptr, L"open", ABOUT_LINK_ADDRESS, nullptr, nullptr, SW_SHOWNORMAL);
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
                    OpenWebAddress();
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
