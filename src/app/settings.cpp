#include <windows.h>

#include "app/settings.h"

#include <algorithm>

#include "app/app_state.h"
#include "app/document_lock.h"

namespace {

constexpr int MIN_INITIAL_WIDTH = 384;

void QueryValue(HKEY key, const wchar_t* name, void* value)
{
    // Read into a scratch word: a value that does not fit in four bytes may
    // leave the buffer undefined, and must leave the member at its default.
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS &&
        size <= sizeof data) {
        CopyMemory(value, &data, size);
    }
}

void SetValue(HKEY key, const wchar_t* name, const void* value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, static_cast<const BYTE*>(value), sizeof(DWORD));
}

}  // namespace

void ComputeInitialSize(int screenWidth, int screenHeight, int* width, int* height)
{
    double side = std::min(screenWidth, screenHeight) * 0.675;
    if (side <= MIN_INITIAL_WIDTH) {
        side = MIN_INITIAL_WIDTH;
    }
    *width = static_cast<int>(side);
    *height = *width * 104 / 92;
}

void LoadSettings()
{
    AppState* app = gApp;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        QueryValue(key, L"Color", &app->colorTheme);
        QueryValue(key, L"FontSize", &app->fontSize);
        QueryValue(key, L"FontType", &app->fontFace);
        QueryValue(key, L"Margin", &app->margin);
        QueryValue(key, L"Wrap", &app->wordWrap);
        QueryValue(key, LOCK_AFTER_MINUTES_VALUE, &app->lockAfterMinutes);
        RegCloseKey(key);
    }

    ComputeInitialSize(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), &app->initialWidth,
                       &app->initialHeight);

    app->savedColorTheme = app->colorTheme;
    app->savedFontSize = app->fontSize;
    app->savedFontFace = app->fontFace;
    app->savedMargin = app->margin;
    app->savedWordWrap = app->wordWrap;

    app->colorTheme = std::clamp(app->colorTheme, 0, THEME_COUNT - 1);
    if (app->fontSize < FONT_SIZE_MIN) {
        app->fontSize = FONT_SIZE_DEFAULT;
    }
    app->fontFace = std::clamp(app->fontFace, FONT_FACE_LUCIDA_CONSOLE, FONT_FACE_CONSOLAS);
    app->wordWrap &= 1U;
    // The margin is clamped only when it is applied.
    app->lockAfterMinutes = std::clamp(app->lockAfterMinutes, 0, LOCK_AFTER_MINUTES_MAX);
}

void SaveSettings()
{
    AppState* app = gApp;
    if (app->colorTheme == app->savedColorTheme && app->fontSize == app->savedFontSize &&
        app->fontFace == app->savedFontFace && app->margin == app->savedMargin && app->wordWrap == app->savedWordWrap) {
        return;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    SetValue(key, L"Color", &app->colorTheme);
    SetValue(key, L"Margin", &app->margin);
    SetValue(key, L"FontSize", &app->fontSize);
    SetValue(key, L"FontType", &app->fontFace);
    SetValue(key, L"Wrap", &app->wordWrap);
    RegCloseKey(key);

    app->savedColorTheme = app->colorTheme;
    app->savedFontSize = app->fontSize;
    app->savedFontFace = app->fontFace;
    app->savedMargin = app->margin;
    app->savedWordWrap = app->wordWrap;
}
