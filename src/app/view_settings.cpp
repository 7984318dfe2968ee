#include <windows.h>

#include "app/view_settings.h"

#include <algorithm>
#include <new>

#include "app/app_state.h"
#include "app/edit_keyboard.h"
#include "dialogs/message_dialogs.h"
#include "platform/locked_memory.h"
#include "platform/result_codes.h"
#include "platform/secure_wipe.h"
#include "resources/resource.h"

namespace {

constexpr ThemeColors THEMES[THEME_COUNT] = {
    {RGB(255, 255, 255), RGB(0, 0, 0), RGB(240, 240, 240)},      // 0 Windows Default (not painted)
    {RGB(255, 255, 255), RGB(0, 0, 0), RGB(240, 240, 240)},      // 1 White
    {RGB(24, 20, 6), RGB(240, 192, 0), RGB(50, 46, 28)},         // 2 Amber
    {RGB(56, 56, 56), RGB(208, 208, 208), RGB(76, 76, 76)},      // 3 Gray
    {RGB(0, 0, 0), RGB(255, 255, 255), RGB(36, 36, 36)},         // 4 Black
    {RGB(0, 0, 102), RGB(0, 204, 255), RGB(0, 0, 126)},          // 5 Royal
    {RGB(0, 64, 0), RGB(56, 255, 56), RGB(0, 88, 0)},            // 6 Emerald
    {RGB(72, 0, 0), RGB(255, 96, 96), RGB(96, 0, 0)},            // 7 Crimson
    {RGB(242, 230, 255), RGB(48, 0, 112), RGB(226, 214, 239)},   // 8 Lavender
    {RGB(229, 248, 224), RGB(36, 60, 41), RGB(213, 232, 208)},   // 9 Mint
    {RGB(255, 228, 241), RGB(128, 0, 64), RGB(239, 212, 225)},   // 10 Pink
    {RGB(223, 240, 255), RGB(64, 64, 128), RGB(207, 224, 239)},  // 11 Sky
    {RGB(255, 243, 195), RGB(40, 40, 40), RGB(239, 227, 179)},   // 12 Yellow
    {RGB(217, 208, 191), RGB(81, 63, 39), RGB(192, 180, 160)},   // 13 Khaki
    {RGB(75, 60, 51), RGB(223, 187, 161), RGB(91, 76, 67)},      // 14 Hazel
};

// The formatting rectangle of a control for the margin step and dpi in use.
void SetFormatRect(HWND control)
{
    const AppState* app = gApp;
    RECT client{};
    if (control == nullptr || !GetClientRect(control, &client)) {
        return;
    }
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    // Capped so that a small window keeps most of its width and height for text.
    int horizontal = (app->dpi * app->margin + BASE_DPI / 2) / BASE_DPI;
    if (horizontal > (width >> 3)) {
        horizontal = width >> 3;
    }
    int vertical = (app->dpi * (app->margin - MARGIN_MIN) + BASE_DPI) / (2 * BASE_DPI);
    if (vertical >= (height >> 5)) {
        vertical = height >> 5;
    }
    RECT format{horizontal, vertical, width - horizontal, height - vertical};
    SendMessageW(control, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&format));
}

// An edit control for the document, subclassed and limited, of the given size;
// null when it cannot be made.
HWND MakeEditControl(HWND parent, std::uint32_t wordWrap, int id, int width, int height)
{
    AppState* app = gApp;
    const DWORD style = wordWrap != 0 ? EDIT_STYLE_WRAP : EDIT_STYLE_NO_WRAP;
    HWND control = CreateWindowExW(0, L"EDIT", nullptr, style, 0, 0, width, height, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), app->instance, nullptr);
    if (control == nullptr) {
        return nullptr;
    }
    app->editClassProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditSubclassProc)));
    SendMessageW(control, EM_LIMITTEXT, static_cast<WPARAM>(EDIT_TEXT_LIMIT), 0);
    return control;
}

// The control, now editWindow, gets the font, the margins and the focus.
void TakeEditControl(HWND control)
{
    AppState* app = gApp;
    ApplyFont(app->fontSize, app->fontFace, app->dpi);
    // ApplyFont leaves an unchanged font alone, so a new control must be given it here.
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(app->editFont), FALSE);
    ApplyMargin(app->margin);
    SetFocus(control);
}

// Gives a new control the font and the margins, then the text, so that the
// text is laid out once. False when the control refused the text or did not
// take it whole.
bool FillEditControl(HWND control, const wchar_t* text, int length)
{
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(gApp->editFont), FALSE);
    SetFormatRect(control);
    return SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != FALSE &&
           GetWindowTextLengthW(control) == length;
}

// Wipes an edit control's text and destroys the control.
void RetireEditControl(HWND control)
{
    SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gApp->editClassProc));
    WipeEditText(control);
    DestroyWindow(control);
}

// Overwrites the buffer of a multi-line edit control in place from keep on:
// up to blanks with blanks, and with zeros whatever lies behind, which can
// still hold text deleted or replaced earlier. False when the control gives no
// buffer (a single-line control).
bool OverwriteEditBuffer(HWND control, std::size_t keep, std::size_t blanks)
{
    auto buffer = reinterpret_cast<HLOCAL>(SendMessageW(control, EM_GETHANDLE, 0, 0));
    if (buffer == nullptr) {
        return false;
    }
    auto* text = static_cast<wchar_t*>(LocalLock(buffer));
    if (text == nullptr) {
        return false;
    }
    const std::size_t units = LocalSize(buffer) / sizeof(wchar_t);
    const std::size_t from = std::min(keep, units);
    const std::size_t zeros = std::max(from, std::min(blanks, units));
    std::fill(text + from, text + zeros, L' ');
    secureWipe(text + zeros, (units - zeros) * sizeof(wchar_t));
    LocalUnlock(buffer);
    return true;
}

// Replaces the text by as many blanks: a text of the same length takes the
// same place in the control's buffer.
void OverwriteWithBlanks(HWND control, std::size_t length)
{
    auto* blanks = new (std::nothrow) wchar_t[length + 1];
    if (blanks == nullptr) {
        return;
    }
    std::fill(blanks, blanks + length, L' ');
    blanks[length] = L'\0';
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(blanks));
    delete[] blanks;
}

}  // namespace

ThemeColors ThemeColorsFor(std::int32_t theme)
{
    if (theme < 2 || theme >= THEME_COUNT) {
        return THEMES[1];
    }
    return THEMES[theme];
}

const wchar_t* FontFaceName(std::int32_t face)
{
    switch (face) {
        case FONT_FACE_COURIER_NEW:
            return L"Courier New";
        case FONT_FACE_CONSOLAS:
            return L"Consolas";
        default:
            return L"Lucida Console";
    }
}

int FontPixelHeight(std::int32_t size, std::int32_t dpi)
{
    return (dpi * size + BASE_DPI / 2) / BASE_DPI;
}

int CreateEditControl(HWND parent)
{
    AppState* app = gApp;
    if (app->editWindow != nullptr) {
        RetireEditControl(app->editWindow);
        app->editWindow = nullptr;
    }
    app->editWindow = MakeEditControl(parent, app->wordWrap, IDC_EDIT, 100, 100);
    if (app->editWindow == nullptr) {
        wipeObject(app->passwordEntry);
        ShowResultCode(parent, RESULT_WINDOW_FAILED);
        PostMessageW(parent, WM_CLOSE, 0, 0);
        return 0;
    }
    TakeEditControl(app->editWindow);
    return 1;
}

void ApplyFont(std::int32_t size, std::int32_t face, std::int32_t dpi)
{
    AppState* app = gApp;
    size = std::clamp(size, FONT_SIZE_MIN, FONT_SIZE_MAX);
    HFONT retired = nullptr;
    if (size != app->fontSize || face != app->fontFace || dpi != app->dpi) {
        app->fontSize = size;
        app->fontFace = face;
        app->dpi = dpi;
        retired = app->editFont;
        app->editFont = nullptr;
    }
    if (app->editFont == nullptr) {
        app->editFont =
            CreateFontW(FontPixelHeight(size, dpi), 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH, FontFaceName(face));
        SendMessageW(app->editWindow, WM_SETFONT, reinterpret_cast<WPARAM>(app->editFont), FALSE);
        ApplyMargin(app->margin);
        InvalidateRect(app->editWindow, nullptr, TRUE);
    }
    // Deleted only once the control no longer selects it.
    if (retired != nullptr) {
        DeleteObject(retired);
    }
}

void ApplyColorTheme(std::int32_t theme)
{
    AppState* app = gApp;
    const ThemeColors colors = ThemeColorsFor(theme);
    app->backColor = colors.back;
    app->textColor = colors.text;
    app->readOnlyBackColor = colors.readOnlyBack;
    if (theme != app->colorTheme) {
        app->colorTheme = theme;
        InvalidateRect(app->editWindow, nullptr, TRUE);
    }
}

void ApplyMargin(std::int32_t step)
{
    AppState* app = gApp;
    app->margin = std::clamp(step, MARGIN_MIN, MARGIN_MAX);
    SetFormatRect(app->editWindow);
}

void ToggleWordWrap()
{
    AppState* app = gApp;
    if (DeferCommand(app, PENDING_WORD_WRAP)) {
        return;
    }
    HWND old = app->editWindow;
    if (old == nullptr) {
        app->wordWrap = 1 - app->wordWrap;
        CreateEditControl(app->mainWindow);
        return;
    }
    RECT client{};
    GetClientRect(app->mainWindow, &client);
    const int length = std::max(GetWindowTextLengthW(old), 0);
    const auto capacity = static_cast<std::size_t>(length) + 1;
    LockedBuffer buffer;
    if (!buffer.allocate(capacity * sizeof(wchar_t))) {
        wipeObject(app->passwordEntry);
        ShowResultCode(app->mainWindow, RESULT_OUT_OF_MEMORY);
        return;
    }
    auto* text = reinterpret_cast<wchar_t*>(buffer.data());
    SendMessageW(old, WM_GETTEXT, capacity, reinterpret_cast<LPARAM>(text));
    const LRESULT modified = SendMessageW(old, EM_GETMODIFY, 0, 0);

    // The new control takes the text before the old one lets it go: if either
    // step fails, the old control stays as it was, text and all. Font and
    // margins come first, so that the text is laid out once.
    ResultCode code = RESULT_OK;
    ApplyFont(app->fontSize, app->fontFace, app->dpi);
    HWND fresh = MakeEditControl(app->mainWindow, 1 - app->wordWrap, 0, client.right, client.bottom);
    if (fresh == nullptr) {
        code = RESULT_WINDOW_FAILED;
    } else if (!FillEditControl(fresh, text, length)) {
        RetireEditControl(fresh);
        code = RESULT_OUT_OF_MEMORY;
    }
    buffer.release();
    if (code != RESULT_OK) {
        wipeObject(app->passwordEntry);
        ShowResultCode(app->mainWindow, code);
        return;
    }

    SendMessageW(fresh, EM_SETMODIFY, static_cast<WPARAM>(modified), 0);
    RetireEditControl(old);
    SetWindowLongPtrW(fresh, GWLP_ID, IDC_EDIT);
    app->editWindow = fresh;
    app->wordWrap = 1 - app->wordWrap;
    SetFocus(fresh);
}

void WipeEditText(HWND control)
{
    const auto length = static_cast<std::size_t>(std::max(GetWindowTextLengthW(control), 0));
    if (!OverwriteEditBuffer(control, 0, length) && length > 0) {
        OverwriteWithBlanks(control, length);
    }
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
}

void WipeEditSlack(HWND control)
{
    const auto length = static_cast<std::size_t>(std::max(GetWindowTextLengthW(control), 0));
    OverwriteEditBuffer(control, length, length);
}

void CenterWindow(HWND window, HWND over)
{
    RECT own{};
    RECT area{};
    GetWindowRect(window, &own);
    if (over != nullptr) {
        GetWindowRect(over, &area);
    } else {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    const int x = area.left + ((area.right - area.left) - (own.right - own.left)) / 2;
    const int y = area.top + ((area.bottom - area.top) - (own.bottom - own.top)) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (over != nullptr) {
        SendMessageW(window, DM_REPOSITION, 0, 0);
    }
}
