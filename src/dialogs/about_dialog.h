#pragma once
// The About box (template 103).
#include <windows.h>

// The project's web address, opened by the box's link button, and its short
// form, the button's caption.
inline constexpr const wchar_t* ABOUT_LINK_ADDRESS = L"https://tarnwick.example.org/";
inline constexpr const wchar_t* ABOUT_LINK_CAPTION = L"tarnwick.example.org";

// Modal, owned by the main window; always ends with 0. Enter, Escape, OK and
// the close box close it; the link button opens the web address and leaves
// the box open.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
