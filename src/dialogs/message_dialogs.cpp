#include <windows.h>

#include "dialogs/message_dialogs.h"

#include "app/app_state.h"
#include "app/view_settings.h"
#include "resources/resource.h"

namespace {

constexpr INT_PTR MESSAGE_OK = 1;
constexpr INT_PTR MESSAGE_CLOSED = 2;

const wchar_t* Wide(const char16_t* text)
{
    return reinterpret_cast<const wchar_t*>(text);
}

void ShowCentered(HWND dialog)
{
    ShowWindow(dialog, SW_SHOW);
    CenterWindow(dialog, GetParent(dialog));
}

INT_PTR OnMessageInit(HWND dialog, ResultCode code)
{
    ResultText text{};
    if (LookupResultText(code, &text)) {
        SetWindowTextW(dialog, Wide(text.title));
        SetDlgItemTextW(dialog, IDC_MESSAGE_TEXT, Wide(text.message));
    }
    ShowCentered(dialog);
    return TRUE;
}

INT_PTR OnSaveChangesInit(HWND dialog)
{
    ResultText text{};
    LookupResultText(RESULT_ASK_SAVE, &text);
    SetWindowTextW(dialog, gApp->appName);
    SetDlgItemTextW(dialog, IDC_MESSAGE_TEXT, Wide(text.message));
    ShowCentered(dialog);
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK MessageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
        case WM_INITDIALOG:
            return OnMessageInit(dialog, static_cast<ResultCode>(lParam));
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    EndDialog(dialog, MESSAGE_OK);
                    return TRUE;
                case IDCANCEL:
                    PostMessageW(dialog, WM_CLOSE, 0, 0);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            EndDialog(dialog, MESSAGE_CLOSED);
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK SaveChangesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
        case WM_INITDIALOG:
            return OnSaveChangesInit(dialog);
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:  // "&Yes", also Enter
                    EndDialog(dialog, IDYES);
                    return TRUE;
                case IDNO:
                    EndDialog(dialog, IDNO);
                    return TRUE;
                case IDCANCEL:
                    PostMessageW(dialog, WM_CLOSE, 0, 0);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR ShowResultCode(HWND owner, ResultCode code)
{
    if (code == RESULT_OK) {
        return 0;
    }
    return DialogBoxParamW(gApp->instance, MAKEINTRESOURCEW(IDD_MESSAGE), owner, MessageDialogProc,
                           static_cast<LPARAM>(code));
}

INT_PTR AskSaveChangesDialog(HWND owner)
{
    return DialogBoxParamW(gApp->instance, MAKEINTRESOURCEW(IDD_SAVE_CHANGES), owner, SaveChangesDialogProc,
                           static_cast<LPARAM>(RESULT_ASK_SAVE));
}
