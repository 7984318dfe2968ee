#include <windows.h>

#include "dialogs/find_dialog.h"

#include <cwctype>

#include "app/app_state.h"
#include "app/view_settings.h"
#include "resources/resource.h"

namespace {

// One less than findText holds: the terminator needs the last place.
constexpr WPARAM FIND_TEXT_LIMIT = FIND_TEXT_CAPACITY - 1;

constexpr const wchar_t* CAPTION_FIRST = L"Find First";
constexpr const wchar_t* CAPTION_NEXT = L"Find Next";
constexpr const wchar_t* CAPTION_NOT_FOUND = L"Find First - [Not Found]";

HWND FindField(HWND dialog)
{
    return GetDlgItem(dialog, IDC_FIND_TEXT);
}

// The length of the find text as far as findText can take it: a program can
// put more into the field than a user can type.
int FindTextLength(HWND field)
{
    const int length = GetWindowTextLengthW(field);
    return length < static_cast<int>(FIND_TEXT_LIMIT) ? length : static_cast<int>(FIND_TEXT_LIMIT);
}

// Back to a search from the start, with the button usable exactly when there
// is something to search for.
void ResetSearch(HWND dialog)
{
    gApp->findPosition = 0;
    SetWindowTextW(dialog, CAPTION_FIRST);
    EnableWindow(GetDlgItem(dialog, IDOK), GetWindowTextLengthW(FindField(dialog)) != 0);
}

// The runtime's lower-casing in the "C" locale, which the program never
// changes: A-Z become a-z, every other character stays as it is.
wchar_t FoldCase(wchar_t c)
{
    return static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
}

// First start in [from, last] where the pattern (already folded) agrees with
// the text folded character by character; -1 when there is none.
int ScanForMatch(const wchar_t* text, int from, int last, const wchar_t* pattern, int patternLength)
{
    for (int start = from; start <= last; ++start) {
        int agreed = 0;
        while (agreed < patternLength && FoldCase(text[start + agreed]) == pattern[agreed]) {
            ++agreed;
        }
        if (agreed == patternLength) {
            return start;
        }
    }
    return -1;
}

// One pass from findPosition to the end of the document, directly over the
// edit control's own buffer; -1 when nothing was found (or the buffer could
// not be reached).
int SearchPass(AppState* app, int textLength, int patternLength)
{
    auto buffer = reinterpret_cast<HLOCAL>(SendMessageW(app->editWindow, EM_GETHANDLE, 0, 0));
    if (buffer == nullptr) {
        return -1;
    }
    const auto* text = static_cast<const wchar_t*>(LocalLock(buffer));
    if (text == nullptr) {
        return -1;
    }
    // Never read past the buffer, whatever the length reported before.
    const auto bufferLength = static_cast<int>(LocalSize(buffer) / sizeof(wchar_t));
    if (textLength > bufferLength) {
        textLength = bufferLength;
    }
    for (int i = 0; i < patternLength; ++i) {
        app->findText[i] = FoldCase(app->findText[i]);
    }
    const int match = textLength < patternLength ? -1
                                                 : ScanForMatch(text, app->findPosition, textLength - patternLength,
                                                                app->findText, patternLength);
    LocalUnlock(buffer);
    return match;
}

INT_PTR OnInitDialog(HWND dialog)
{
    SendMessageW(FindField(dialog), EM_LIMITTEXT, FIND_TEXT_LIMIT, 0);
    return TRUE;
}

INT_PTR OnActivate(HWND dialog, WPARAM state)
{
    if (LOWORD(state) != WA_ACTIVE && LOWORD(state) != WA_CLICKACTIVE) {
        return FALSE;
    }
    SetFocus(FindField(dialog));
    return TRUE;
}

INT_PTR OnFind(HWND dialog)
{
    if (FindNext(dialog) == 0) {
        // The next search starts from the beginning, as the caption says.
        gApp->findPosition = 0;
        SetWindowTextW(dialog, CAPTION_NOT_FOUND);
    }
    return TRUE;
}

INT_PTR OnCommand(HWND dialog, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
        case IDOK:
            return OnFind(dialog);
        case IDCANCEL:
            PostMessageW(dialog, WM_CLOSE, 0, 0);
            return TRUE;
        case IDC_FIND_TEXT:
            if (HIWORD(wParam) == EN_CHANGE) {
                ResetSearch(dialog);
            }
            return TRUE;
        default:
            return FALSE;
    }
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
        case WM_ACTIVATE:
            return OnActivate(dialog, wParam);
        case WM_COMMAND:
            return OnCommand(dialog, wParam);
        case WM_CLOSE:
            return OnClose(dialog);
        default:
            return FALSE;
    }
}

int FindNext(HWND dialog)
{
    AppState* app = gApp;
    HWND field = FindField(dialog);
    int textLength = GetWindowTextLengthW(app->editWindow);
    int patternLength = FindTextLength(field);
    if (patternLength == 0) {
        return 0;
    }
    // At most two passes: from findPosition, then once more from the start.
    for (;;) {
        if (patternLength > textLength) {
            return 0;
        }
        if (app->findPosition > textLength - patternLength) {
            app->findPosition = 0;  // the last match ended the text: go on from the start
        }
        if (GetWindowTextW(field, app->findText, static_cast<int>(FIND_TEXT_CAPACITY)) != patternLength) {
            return 0;
        }
        const int match = SearchPass(app, textLength, patternLength);
        if (match >= 0) {
            SendMessageW(app->editWindow, EM_SETSEL, static_cast<WPARAM>(match),
                         static_cast<LPARAM>(match + patternLength));
            PostMessageW(app->editWindow, EM_SCROLLCARET, 0, 0);
            // One past the start, so that overlapping matches come in turn.
            app->findPosition = match + 1;
            SetWindowTextW(dialog, CAPTION_NEXT);
            return 1;
        }
        if (app->findPosition <= 0) {
            return 0;
        }
        app->findPosition = 0;
        textLength = GetWindowTextLengthW(app->editWindow);
        patternLength = FindTextLength(field);
        if (patternLength == 0) {
            return 0;
        }
    }
}

void ShowFindDialog()
{
    AppState* app = gApp;
    if (GetWindowTextLengthW(app->editWindow) == 0) {
        return;
    }
    ResetSearch(app->findDialog);
    if (app->findDialogVisible == 0) {
        app->findDialogVisible = 1;
        CenterWindow(app->findDialog, app->mainWindow);
        ShowWindow(app->findDialog, SW_SHOWNORMAL);
    }
    SetFocus(FindField(app->findDialog));
}
