#include <windows.h>

#include "app/title_bar.h"

#include "app/app_state.h"
#include "app/system_library.h"
#include "app/view_settings.h"

namespace {

// DWMWA_USE_IMMERSIVE_DARK_MODE.
constexpr DWORD IMMERSIVE_DARK_MODE = 20;

using SetWindowAttributeFunction = HRESULT(WINAPI*)(HWND window, DWORD attribute, LPCVOID value, DWORD size);

}  // namespace

bool IsDarkTheme(std::int32_t theme)
{
    if (theme <= 0 || theme >= THEME_COUNT) {
        return false;
    }
    const COLORREF back = ThemeColorsFor(theme).back;
    // Rec. 709 luma in ten-thousandths of a level.
    const long luma = 2126L * GetRValue(back) + 7152L * GetGValue(back) + 722L * GetBValue(back);
    return luma < 128L * 10000L;
}

bool SetTitleBarDark(HWND window, bool dark, const wchar_t* module)
{
    HMODULE library = LoadSystemLibrary(module);
    if (library == nullptr) {
        return false;
    }
    bool done = false;
    auto setAttribute = LoadSystemProcedure<SetWindowAttributeFunction>(library, "DwmSetWindowAttribute");
    if (setAttribute != nullptr) {
        const BOOL value = dark ? TRUE : FALSE;
        done = SUCCEEDED(setAttribute(window, IMMERSIVE_DARK_MODE, &value, sizeof value));
    }
    FreeLibrary(library);
    return done;
}

void ApplyTitleBarTheme(HWND window)
{
    TitleBarState& state = gApp->titleBar;
    const bool dark = IsDarkTheme(gApp->colorTheme);
    if ((state.dark != 0) == dark || !SetTitleBarDark(window, dark)) {
        return;
    }
    state.dark = dark ? 1 : 0;
    if (IsWindowVisible(window)) {
        // The caption is redrawn in its new colours only with the frame.
        SetWindowPos(window, nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}
