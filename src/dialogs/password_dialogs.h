#pragma once
// The two password dialogs (Enter Password, template 106; Select Password,
// template 107) and the in-memory protection of the two password records.
#include <windows.h>

struct AppState;

// Creation parameter 0. Shows the hint of the header just read into the
// container session. Ends with 1 when the typed password is in passwordEntry
// (protected), 0 when cancelled.
INT_PTR CALLBACK EnterPasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Creation parameter 0. Ends with 1 when a confirmed password (protected) and
// the hint are in passwordEntry, 0 when cancelled.
INT_PTR CALLBACK SelectPasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The Show button: masks or reveals first (and second, when not null) and
// gives the focus and selection back to the field the user was in.
void ToggleShowPassword(HWND dialog, int first, int second);
// Protects passwordEntry's password in place. Non-zero on success (also when
// protection is unavailable or the password is empty).
int ProtectPasswordEntry(AppState* app);
// Protects rememberedPassword's password in place. On failure the remembered
// password is discarded, storedTextSize set to 0, and 0 returned.
int ProtectRememberedPassword(AppState* app);
// Returns both records to clear text and checks their byte sums. 1 when both
// are intact; 0 otherwise, after discarding the remembered password.
int UnprotectPasswords(AppState* app);
