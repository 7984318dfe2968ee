#pragma once
// A dark caption bar under the dark colour themes, where the system's window
// manager can draw one; nothing happens where it cannot.
#include <windows.h>

#include <cstdint>

// What the window manager was last asked to draw; light, the system's
// default, until a dark theme is chosen.
struct TitleBarState {
    std::int32_t dark;
};

// Whether a theme's background is dark: its luma below half of full white.
// Theme 0 follows the system's colours and counts as light.
bool IsDarkTheme(std::int32_t theme);
// Asks for a dark or light caption with DwmSetWindowAttribute (immersive dark
// mode) from module, loaded from System32 only. False, and nothing changed,
// where the module, the function or the attribute is missing.
bool SetTitleBarDark(HWND window, bool dark, const wchar_t* module = L"dwmapi.dll");
// Follows colorTheme: asks for the other caption when the theme's darkness
// differs from what was last asked, and redraws the frame.
void ApplyTitleBarTheme(HWND window);
