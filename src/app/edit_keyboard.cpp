#include <windows.h>

#include "app/edit_keyboard.h"

#include "app/app_state.h"
#include "app/clipboard.h"
#include "resources/resource.h"

namespace {

void PostCommand(UINT command)
{
    PostMessageW(gApp->mainWindow, WM_COMMAND, command, 0);
}

bool KeyDown(int key)
{
    return (GetKeyState(key) & 0x8000) != 0;
}

// Shift and Alt are not examined: Ctrl+Shift+S is Save as well, and so is a
// key typed with AltGr (Ctrl and Alt down together).
void OnControlKey(HWND window, WPARAM key)
{
    switch (key) {
        case '0':
        case VK_NUMPAD0:
            PostCommand(IDM_FONT_RESET);
            break;
        case 'A':
            SendMessageW(window, EM_SETSEL, 0, -1);
            break;
        case 'F':
            PostCommand(IDM_FIND);
            break;
        case 'L':
            PostCommand(IDM_LOCK);
            break;
        case 'N':
            PostCommand(IDM_NEW);
            break;
        case 'O':
            PostCommand(IDM_OPEN);
            break;
        case 'S':
            PostCommand(IDM_SAVE);
            break;
        case VK_ADD:
        case VK_OEM_PLUS:
            PostCommand(IDM_FONT_INCREASE);
            break;
        case VK_SUBTRACT:
        case VK_OEM_MINUS:
            PostCommand(IDM_FONT_DECREASE);
            break;
        default:
            break;
    }
}

void OnKeyDown(HWND window, WPARAM key)
{
    if (KeyDown(VK_CONTROL)) {
        OnControlKey(window, key);
    } else if (key == VK_ESCAPE) {
        ShowWindow(gApp->mainWindow, SW_MINIMIZE);
    }
}

// Ctrl+Insert and Shift+Delete, which the control handles without a WM_COPY
// or WM_CUT of its own; true when the copy was taken care of here.
bool OnClipboardKey(HWND window, WPARAM key)
{
    if (key == VK_INSERT && KeyDown(VK_CONTROL) && !KeyDown(VK_SHIFT)) {
        return CopySelectionPrivately(window, false);
    }
    if (key == VK_DELETE && KeyDown(VK_SHIFT) && !KeyDown(VK_CONTROL)) {
        return CopySelectionPrivately(window, true);
    }
    return false;
}

}  // namespace

LRESULT CALLBACK EditSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
        case WM_KEYDOWN:
            if (OnClipboardKey(window, wParam)) {
                return 0;
            }
            OnKeyDown(window, wParam);
            break;
        // The menu's Cut and Copy, Ctrl+X and Ctrl+C, and the control's own menu.
        case WM_COPY:
        case WM_CUT:
            if (CopySelectionPrivately(window, message == WM_CUT)) {
                return 0;
            }
            break;
        default:
            break;
    }
    return CallWindowProcW(gApp->editClassProc, window, message, wParam, lParam);
}
