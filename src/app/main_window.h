#pragma once
// The main window: holds the edit control, runs the menu commands, defers the
// document commands while busy, receives the worker's messages and closes in order.
#include <windows.h>

#include <cstddef>

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// "name - Tarnwick" from documentPath; a container's name without its extension.
void ComposeDocumentTitle(wchar_t* title, std::size_t capacity);
