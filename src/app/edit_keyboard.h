#pragma once
// The editor's keyboard shortcuts, handled inside the edit control.
#include <windows.h>

// Replaces the EDIT control's procedure: turns Ctrl+key combinations into
// menu commands posted to the main window, minimises on Escape, and hands
// every message on, unchanged, to the control's own procedure.
LRESULT CALLBACK EditSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
