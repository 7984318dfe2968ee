#include <windows.h>

#include "dialogs/message_dialogs.h"

#include "app/app_state.h"
#include "app/view_settings.h"
#include "platform/wide_text.h"
#include "resources/resource.h"

namespace {

constexpr INT_PTR MESSAGE_OK = 1;
constexpr INT_PTR MESSAGE_CLOSED = 2;
// Longest message text measured for wrapping; longer ones are not shown whole anyway.
constexpr int MESSAGE_TEXT_CAPACITY = 1024;

void ShowCentered(HWND dialog)
{
    ShowWindow(dialog, SW_SHOW);
    CenterWindow(dialog, GetParent(dialog));
}

INT_PTR OnMessageInit(HWND dialog, ResultCode code)
{
    ResultText text{};
    if (LookupResultText(code, &text)) {
        SetWindowTextW(dialog, wideText(text.title));
        SetDlgItemTextW(dialog, IDC_MESSAGE_TEXT, wideText(text.message));
    }
    ShowCentered(dialog);
    return TRUE;
}

// Lets the message control wrap a text too long for its one line: the control,
// the OK button below it and the dialog grow by the extra height.
void FitMessageText(HWND dialog)
{
    HWND control = GetDlgItem(dialog, IDC_MESSAGE_TEXT);
    RECT area{};
    GetClientRect(control, &area);
    wchar_t text[MESSAGE_TEXT_CAPACITY] = {};
    const int length = GetWindowTextW(control, text, MESSAGE_TEXT_CAPACITY);
    HDC dc = GetDC(control);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT needed = area;
    DrawTextW(dc, text, length, &needed, DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    const int extra = (needed.bottom - needed.top) - (area.bottom - area.top);
    if (extra <= 0) {
        return;
    }
    // Vertical centring keeps a static to one line.
    SetWindowLongPtrW(control, GWL_STYLE,
                      GetWindowLongPtrW(control, GWL_STYLE) & ~static_cast<LONG_PTR>(SS_CENTERIMAGE));
    const auto grow = [dialog](HWND window, int height, int down) {
        RECT frame{};
        GetWindowRect(window, &frame);
        if (window != dialog) {
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&frame), 2);
        }
        SetWindowPos(window, nullptr, frame.left, frame.top + down, frame.right - frame.left,
                     frame.bottom - frame.top + height,
                     SWP_NOZORDER | SWP_NOACTIVATE | (window == dialog ? SWP_NOMOVE : 0));
    };
    grow(control, extra, 0);
    grow(GetDlgItem(dialog, IDOK), 0, extra);
    grow(dialog, extra, 0);
}

INT_PTR OnMessageTextInit(HWND dialog, const MessageText* message)
{
    SetWindowTextW(dialog, message->caption);
    SetDlgItemTextW(dialog, IDC_MESSAGE_TEXT, message->text);
    FitMessageText(dialog);
    ShowCentered(dialog);
    return TRUE;
}

// OK ends a message with 1; Escape and the close box, through WM_CLOSE, with 2.
INT_PTR OnMessageCommand(HWND dialog, WPARAM wParam)
{
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
}

// Both message dialogs, once their texts are set.
INT_PTR OnMessageDialog(HWND dialog, UINT message, WPARAM wParam)
{
    switch (message) {
        case WM_COMMAND:
            return OnMessageCommand(dialog, wParam);
        case WM_CLOSE:
            EndDialog(dialog, MESSAGE_CLOSED);
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR OnSaveChangesInit(HWND dialog)
{
    ResultText text{};
    LookupResultText(RESULT_ASK_SAVE, &text);
    SetWindowTextW(dialog, gApp->appName);
    SetDlgItemTextW(dialog, IDC_MESSAGE_TEXT, wideText(text.message));
    ShowCentered(dialog);
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK MessageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        return OnMessageInit(dialog, static_cast<ResultCode>(lParam));
    }
    return OnMessageDialog(dialog, message, wParam);
}

INT_PTR CALLBACK MessageTextDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        return OnMessageTextInit(dialog, reinterpret_cast<const MessageText*>(lParam));
    }
    return OnMessageDialog(dialog, message, wParam);
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

INT_PTR ShowMessageText(HWND owner, const wchar_t* caption, const wchar_t* text)
{
    const MessageText message{caption, text};
    return DialogBoxParamW(gApp->instance, MAKEINTRESOURCEW(IDD_MESSAGE), owner, MessageTextDialogProc,
                           reinterpret_cast<LPARAM>(&message));
}

INT_PTR AskSaveChangesDialog(HWND owner)
{
    return DialogBoxParamW(gApp->instance, MAKEINTRESOURCEW(IDD_SAVE_CHANGES), owner, SaveChangesDialogProc,
                           static_cast<LPARAM>(RESULT_ASK_SAVE));
}
