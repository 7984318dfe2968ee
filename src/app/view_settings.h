#pragma once
// How the document is shown: the edit control, its font, colours, margins and
// word wrap; plus two helpers the dialogs share.
#include <windows.h>

#include <cstdint>

// Edit control styles without and with word wrap.
inline constexpr DWORD EDIT_STYLE_WRAP =
    WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_NOHIDESEL | ES_WANTRETURN;
inline constexpr DWORD EDIT_STYLE_NO_WRAP = EDIT_STYLE_WRAP | WS_HSCROLL | ES_AUTOHSCROLL;

struct ThemeColors {
    COLORREF back;
    COLORREF text;
    COLORREF readOnlyBack;
};

// The three colours of a theme; 0, 1 and any number out of range give white.
ThemeColors ThemeColorsFor(std::int32_t theme);
// The face name of a font number; any number but 1 and 2 gives Lucida Console.
const wchar_t* FontFaceName(std::int32_t face);
// Pixel height of the font for a size at 96 dpi shown at dpi.
int FontPixelHeight(std::int32_t size, std::int32_t dpi);

// Creates (or re-creates, wiping the old one's text) the edit control as a
// child of parent, subclassed, with font, limit and margins. 1 on success; on
// failure shows "Window creation failed.", posts WM_CLOSE to parent, returns 0.
// For the window's start; the Word Wrap command replaces the control itself.
int CreateEditControl(HWND parent);
// Sets the font; creates editFont only when size (clamped to 10-80), face or
// dpi changed, or when there is none yet.
void ApplyFont(std::int32_t size, std::int32_t face, std::int32_t dpi);
// Loads a theme's colours; stores the theme and repaints only when it changed.
void ApplyColorTheme(std::int32_t theme);
// Stores the margin step (clamped to 4-324) and sets the formatting rectangle.
void ApplyMargin(std::int32_t step);
// The Word Wrap command: replaces the edit control by one of the other style,
// keeping text and modification flag. The new control takes the text before
// the old one is wiped and destroyed; when it cannot be made or refuses the
// text, the old one stays as it was and the user is told. Deferred while busy.
void ToggleWordWrap();
// Overwrites an edit control's text, then empties it. A multi-line control's
// whole buffer is overwritten in place, however long the text, together with
// what lies behind the text; a single-line control gets blanks of the text's
// full length.
void WipeEditText(HWND control);
// Zeroes what lies behind the text in a multi-line edit control's buffer: the
// tail of a longer text it held before, text deleted since. The text stays.
void WipeEditSlack(HWND control);
// Centres window over another window, or over the work area when over is null.
void CenterWindow(HWND window, HWND over);
