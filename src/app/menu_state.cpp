#include <windows.h>

#include "app/menu_state.h"

#include "app/app_state.h"
#include "app/document_lock.h"
#include "resources/resource.h"

namespace {

constexpr UINT EDIT_MENU_POSITION = 1;
constexpr UINT FORMAT_MENU_POSITION = 2;

constexpr std::int32_t MARGIN_STEPS[] = {4, 12, 36, 108, 324};

void Enable(HMENU popup, UINT command, bool enabled)
{
    EnableMenuItem(popup, command, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void Check(HMENU popup, UINT command, bool checked)
{
    CheckMenuItem(popup, command, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void UpdateEditMenu(HMENU popup)
{
    HWND edit = gApp->editWindow;
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const auto length = static_cast<DWORD>(GetWindowTextLengthW(edit));
    const bool selection = start != end;
    Enable(popup, IDM_UNDO, SendMessageW(edit, EM_CANUNDO, 0, 0) != 0);
    Enable(popup, IDM_CUT, selection);
    Enable(popup, IDM_COPY, selection);
    Enable(popup, IDM_DELETE, selection);
    // The system offers CF_TEXT whenever Unicode text is on the clipboard.
    Enable(popup, IDM_PASTE, IsClipboardFormatAvailable(CF_TEXT) != 0);
    Enable(popup, IDM_FIND, length != 0);
    Enable(popup, IDM_SELECT_ALL, !(start == 0 && end == length));
}

void UpdateFormatMenu(HMENU popup)
{
    const AppState* app = gApp;
    Check(popup, IDM_WORD_WRAP, app->wordWrap != 0);
    for (std::int32_t theme = 0; theme < THEME_COUNT; ++theme) {
        Check(popup, static_cast<UINT>(IDM_THEME_FIRST + theme), app->colorTheme == theme);
    }
    Check(popup, IDM_FONT_LUCIDA_CONSOLE, app->fontFace == FONT_FACE_LUCIDA_CONSOLE);
    Check(popup, IDM_FONT_COURIER_NEW, app->fontFace == FONT_FACE_COURIER_NEW);
    Check(popup, IDM_FONT_CONSOLAS, app->fontFace == FONT_FACE_CONSOLAS);
    for (UINT i = 0; i < 5; ++i) {
        Check(popup, IDM_MARGIN_EXTRA_SMALL + i, app->margin == MARGIN_STEPS[i]);
    }
}

}  // namespace

void UpdateMenuState(HMENU popup, UINT position)
{
    switch (position) {
        case EDIT_MENU_POSITION:
            UpdateEditMenu(popup);
            break;
        case FORMAT_MENU_POSITION:
            UpdateFormatMenu(popup);
            break;
        default:
            break;
    }
    UpdateLockMenuState(popup);
}
