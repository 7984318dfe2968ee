#pragma once
// The About box (template 103).
#include <windows.h>

// The user guide, installed beside the program, which the box's link button
// opens, and the button's caption.
inline constexpr const wchar_t* USER_GUIDE_FILE_NAME = L"user-guide.html";
inline constexpr const wchar_t* ABOUT_LINK_CAPTION = L"User Guide";

// Modal, owned by the main window; always ends with 0. Enter, Escape, OK and
// the close box close it; the link button opens the user guide found beside
// the running program (or says that it is missing) and leaves the box open.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
