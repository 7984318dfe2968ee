// The caption bar under the colour themes: dark under the dark ones where the
// window manager offers it, asked for only from System32's library.
#include <windows.h>

#include <string>

#include "app/title_bar.h"
#include "gui/gui_harness.h"
#include "resources/resource.h"

namespace {

struct ThemeCase {
    std::int32_t theme;
    bool dark;
};

class DarkThemes : public ::testing::TestWithParam<ThemeCase> {};

// The dark ones are the first group of the Color Theme menu.
TEST_P(DarkThemes, AreThoseWithADarkBackground)
{
    EXPECT_EQ(IsDarkTheme(GetParam().theme), GetParam().dark);
}

INSTANTIATE_TEST_SUITE_P(TitleBar, DarkThemes,
                         ::testing::Values(ThemeCase{0, false}, ThemeCase{1, false}, ThemeCase{2, true},
                                           ThemeCase{3, true}, ThemeCase{4, true}, ThemeCase{5, true},
                                           ThemeCase{6, true}, ThemeCase{7, true}, ThemeCase{8, false},
                                           ThemeCase{9, false}, ThemeCase{10, false}, ThemeCase{11, false},
                                           ThemeCase{12, false}, ThemeCase{13, false}, ThemeCase{14, true},
                                           ThemeCase{15, false}, ThemeCase{-1, false}));

class TitleBar : public EditorTest {};

TEST_F(TitleBar, FollowsTheThemeWhereTheWindowManagerHasIt)
{
    StartEditor();
    // Wine's window manager library takes the attribute.
    ASSERT_TRUE(SetTitleBarDark(main(), false));
    EXPECT_EQ(app()->titleBar.dark, 0);
    Command(IDM_THEME_BLACK);
    EXPECT_EQ(app()->titleBar.dark, 1);
    Command(IDM_THEME_HAZEL);
    EXPECT_EQ(app()->titleBar.dark, 1);
    Command(IDM_THEME_KHAKI);
    EXPECT_EQ(app()->titleBar.dark, 0);
    Command(IDM_THEME_ROYAL);
    Command(IDM_THEME_DEFAULT);
    EXPECT_EQ(app()->titleBar.dark, 0);
}

TEST_F(TitleBar, ADarkThemeFromTheRegistryDarkensItAtStart)
{
    WriteSetting(L"Color", 4);
    StartEditor();
    EXPECT_EQ(app()->titleBar.dark, 1);
}

TEST_F(TitleBar, OnlySystem32sLibraryIsAskedAndAMissingOneChangesNothing)
{
    StartEditor();
    EXPECT_FALSE(SetTitleBarDark(main(), true, L"tarnwick-no-such-library.dll"));
    // A library of the same kind beside the program is found by the usual
    // search, but never asked.
    wchar_t system[MAX_PATH] = {};
    wchar_t program[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring beside = program;
    beside = beside.substr(0, beside.find_last_of(L'\\') + 1) + L"tarnwick-beside-dwmapi.dll";
    ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\dwmapi.dll").c_str(), beside.c_str(), FALSE));
    HMODULE found = LoadLibraryW(L"tarnwick-beside-dwmapi.dll");
    EXPECT_NE(found, nullptr);
    if (found != nullptr) {
        FreeLibrary(found);
    }
    EXPECT_FALSE(SetTitleBarDark(main(), true, L"tarnwick-beside-dwmapi.dll"));
    DeleteFileW(beside.c_str());
    EXPECT_EQ(app()->titleBar.dark, 0);
}

}  // namespace
