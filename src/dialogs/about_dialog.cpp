#include <windows.h>

#include "dialogs/about_dialog.h"

#include "app/view_settings.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
        case WM_INITDIALOG:
            ShowWindow(dialog, SW_SHOW);
            CenterWindow(dialog, GetParent(dialog));
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                PostMessageW(dialog, WM_CLOSE, 0, 0);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
    }
}
