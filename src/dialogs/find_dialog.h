#pragma once
// The modeless Find dialog (template 108), created hidden with the main window.
#include <windows.h>

INT_PTR CALLBACK FindDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Searches the document once for the dialog's find text, from findPosition on
// and once more from the start, comparing with only A-Z folded. On a match
// selects it, moves findPosition one past its start, captions the dialog
// "Find Next" and returns 1; otherwise returns 0 and leaves the caption.
int FindNext(HWND dialog);
// The Find command: on a non-empty document, resets the search and brings the
// dialog up centred on the main window (where it stays once shown).
void ShowFindDialog();
