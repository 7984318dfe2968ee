#include <windows.h>

#include "dialogs/find_dialog.h"

#include "app/app_state.h"
#include "app/view_settings.h"
#include "resources/resource.h"

namespace {

constexpr WPARAM FIND_TEXT_LIMIT = 127;

INT_PTR OnInitDialog(HWND dialog)
{
    SendDlgItemMessageW(dialog, IDC_FIND_TEXT, EM_LIMITTEXT, FIND_TEXT_LIMIT, 0);
    return TRUE;
}

// The dialog is never destroyed while the main window lives: closing hides it.
INT_PTR OnClose(HWND dialog)
{
    ShowWindow(dialog, SW_HIDE);
    gApp->findDialogVisible = 0;
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK FindDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(dialog);
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL) {
                PostMessageW(dialog, WM_CLOSE, 0, 0);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            return OnClose(dialog);
        default:
            return FALSE;
    }
}

void ShowFindDialog()
{
    AppState* app = gApp;
    if (GetWindowTextLengthW(app->editWindow) == 0) {
        return;
    }
    app->findPosition = 0;
    SetWindowTextW(app->findDialog, L"Find First");
    EnableWindow(GetDlgItem(app->findDialog, IDOK),
                 GetWindowTextLengthW(GetDlgItem(app->findDialog, IDC_FIND_TEXT)) != 0);
    if (app->findDialogVisible == 0) {
        app->findDialogVisible = 1;
        CenterWindow(app->findDialog, app->mainWindow);
        ShowWindow(app->findDialog, SW_SHOWNORMAL);
    }
    SetFocus(GetDlgItem(app->findDialog, IDC_FIND_TEXT));
}
