#include <windows.h>

#include "app/edit_keyboard.h"

#include "app/app_state.h"
#include "resources/resource.h"

namespace {

void PostCommand(UINT command)
{
    PostMessageW(gApp->mainWindow, WM_COMMAND, command, 0);
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
    if ((GetKeyState(VK_CONTROL) & 0x8000) != 0) {
        OnControlKey(window, key);
    } else if (key == VK_ESCAPE) {
        ShowWindow(gApp->mainWindow, SW_MINIMIZE);
    }
}

}  // namespace

LRESULT CALLBACK EditSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN) {
        OnKeyDown(window, wParam);
    }
    return CallWindowProcW(gApp->editClassProc, window, message, wParam, lParam);
}
