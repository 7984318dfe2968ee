#pragma once
// The modeless Find dialog (template 108), created hidden with the main window.
#include <windows.h>

INT_PTR CALLBACK FindDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The Find command: on a non-empty document, resets the search and brings the
// dialog up centred on the main window (where it stays once shown).
void ShowFindDialog();
