#pragma once
// The program's own message box (template 104: one result code, or a text of
// its own, OK) and the save-changes confirmation (template 105: Yes, No,
// Cancel).
#include <windows.h>

#include "platform/result_codes.h"

// Creation parameter: a ResultCode. Ends with 1 (OK) or 2 (Escape, close box).
INT_PTR CALLBACK MessageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// A message of the program's own, not one of a result code.
struct MessageText {
    const wchar_t* caption;
    const wchar_t* text;
};
// Template 104 showing a MessageText (the creation parameter points to it);
// a text too long for one line wraps and the dialog grows to hold it. Ends
// like MessageDialogProc.
INT_PTR CALLBACK MessageTextDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Creation parameter: RESULT_ASK_SAVE. Ends with IDYES, IDNO or IDCANCEL.
INT_PTR CALLBACK SaveChangesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows a code to the user in the message dialog, owned by owner. Shows
// nothing for RESULT_OK. Returns the dialog's result (0 when nothing shown).
INT_PTR ShowResultCode(HWND owner, ResultCode code);
// Shows a text of the program's own under a caption of its own in the message
// dialog, owned by owner. Returns the dialog's result.
INT_PTR ShowMessageText(HWND owner, const wchar_t* caption, const wchar_t* text);
// Asks "Do you want to save changes?": IDYES, IDNO or IDCANCEL.
INT_PTR AskSaveChangesDialog(HWND owner);
