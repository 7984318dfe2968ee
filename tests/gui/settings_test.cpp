// The view settings in the real registry of the Wine prefix: read at start,
// written at exit or log-off when one of them changed.
#include <windows.h>

#include "gui/gui_harness.h"
#include "resources/resource.h"

namespace {

class Settings : public EditorTest {
protected:
    DWORD Stored(const wchar_t* name)
    {
        DWORD value = 0xDEADBEEF;
        EXPECT_TRUE(ReadSetting(name, &value)) << "no value " << testing::PrintToString(std::wstring(name));
        return value;
    }
    bool Checked(UINT command)
    {
        return (MenuState(2, command) & MF_CHECKED) != 0;
    }
};

TEST_F(Settings, NoKeyAndNoChangeWritesNothing)
{
    StartEditor();
    EXPECT_EQ(app()->colorTheme, 0);
    EXPECT_EQ(app()->fontSize, 16);
    EXPECT_EQ(app()->fontFace, 1);
    EXPECT_EQ(app()->margin, 4);
    EXPECT_EQ(app()->wordWrap, 0u);
    CloseEditor();
    EXPECT_FALSE(SettingsKeyExists());
}

TEST_F(Settings, ChangedSettingsAreWrittenAtExitAndReadAtTheNextStart)
{
    StartEditor();
    Command(IDM_THEME_MINT);
    Command(IDM_FONT_CONSOLAS);
    Command(IDM_FONT_INCREASE);
    Command(IDM_FONT_INCREASE);
    Command(IDM_MARGIN_LARGE);
    Command(IDM_WORD_WRAP);
    CloseEditor();
    EXPECT_EQ(Stored(L"Color"), 9u);
    EXPECT_EQ(Stored(L"FontSize"), 18u);
    EXPECT_EQ(Stored(L"FontType"), 2u);
    EXPECT_EQ(Stored(L"Margin"), 108u);
    EXPECT_EQ(Stored(L"Wrap"), 1u);

    StartEditor();
    EXPECT_TRUE(Checked(IDM_THEME_MINT));
    EXPECT_TRUE(Checked(IDM_FONT_CONSOLAS));
    EXPECT_TRUE(Checked(IDM_MARGIN_LARGE));
    EXPECT_TRUE(Checked(IDM_WORD_WRAP));
    EXPECT_EQ(FontHeight(), 18);
    EXPECT_EQ(FontFace(), L"Consolas");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(edit(), GWL_STYLE)), 0x50201144u);
}

TEST_F(Settings, ColorOutOfRangeShowsTheLastThemeAndIsWrittenBackCorrected)
{
    WriteSetting(L"Color", 99);
    StartEditor();
    EXPECT_TRUE(Checked(IDM_THEME_HAZEL));
    EXPECT_EQ(app()->backColor, RGB(75, 60, 51));
    CloseEditor();
    EXPECT_EQ(Stored(L"Color"), 14u);
    // All five are written once one changed.
    EXPECT_EQ(Stored(L"FontSize"), 16u);
    EXPECT_EQ(Stored(L"FontType"), 1u);
    EXPECT_EQ(Stored(L"Margin"), 4u);
    EXPECT_EQ(Stored(L"Wrap"), 0u);
}

TEST_F(Settings, FontSizeBelowTheMinimumFallsBackToTheDefault)
{
    WriteSetting(L"FontSize", 5);
    StartEditor();
    EXPECT_EQ(FontHeight(), 16);
    CloseEditor();
    EXPECT_EQ(Stored(L"FontSize"), 16u);
}

TEST_F(Settings, FontSizeAboveTheMaximumIsClampedWhenTheFontIsCreated)
{
    WriteSetting(L"FontSize", 200);
    StartEditor();
    EXPECT_EQ(FontHeight(), 80);
    EXPECT_EQ(app()->fontSize, 80);
    CloseEditor();
    EXPECT_EQ(Stored(L"FontSize"), 80u);
}

TEST_F(Settings, MarginBetweenTheStepsIsAppliedAndKeptAsStored)
{
    WriteSetting(L"Margin", 50);
    StartEditor();
    EXPECT_EQ(app()->margin, 50);
    for (UINT command = IDM_MARGIN_EXTRA_SMALL; command <= IDM_MARGIN_EXTRA_LARGE; ++command) {
        EXPECT_FALSE(Checked(command)) << command;
    }
    RECT format{};
    SendMessageW(edit(), EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
    EXPECT_EQ(format.left, 50 + LOWORD(SendMessageW(edit(), EM_GETMARGINS, 0, 0)));
    CloseEditor();
    // Nothing changed: only the value written by the test is there.
    EXPECT_EQ(Stored(L"Margin"), 50u);
    DWORD value = 0;
    EXPECT_FALSE(ReadSetting(L"Color", &value));

    StartEditor();
    Command(IDM_THEME_SKY);
    CloseEditor();
    EXPECT_EQ(Stored(L"Margin"), 50u);
    EXPECT_EQ(Stored(L"Color"), 11u);
    EXPECT_EQ(Stored(L"Wrap"), 0u);
}

TEST_F(Settings, WrapKeepsOnlyItsLowestBit)
{
    WriteSetting(L"Wrap", 3);
    StartEditor();
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(edit(), GWL_STYLE)), 0x50201144u);
    EXPECT_TRUE(Checked(IDM_WORD_WRAP));
    CloseEditor();
    EXPECT_EQ(Stored(L"Wrap"), 1u);

    DeleteSettingsKey();
    WriteSetting(L"Wrap", 2);
    StartEditor();
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(edit(), GWL_STYLE)), 0x503011C4u);
}

TEST_F(Settings, FontTypeIsClampedToTheThreeFaces)
{
    WriteSetting(L"FontType", 7);
    StartEditor();
    EXPECT_EQ(FontFace(), L"Consolas");
    EXPECT_TRUE(Checked(IDM_FONT_CONSOLAS));
}

TEST_F(Settings, ValueThatDoesNotFitKeepsTheDefault)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Orlenda\\Tarnwick", 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const BYTE eight[8] = {40, 0, 0, 0, 0, 0, 0, 0};
    RegSetValueExW(key, L"FontSize", 0, REG_BINARY, eight, sizeof eight);
    RegCloseKey(key);
    StartEditor();
    EXPECT_EQ(FontHeight(), 16);
}

TEST_F(Settings, LogOffSavesWithoutClosing)
{
    StartEditor();
    Command(IDM_THEME_AMBER);
    SendMessageW(main(), WM_ENDSESSION, FALSE, 0);
    EXPECT_FALSE(SettingsKeyExists());
    SendMessageW(main(), WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(Stored(L"Color"), 2u);
    EXPECT_TRUE(IsWindow(main()));

    // The second run at exit finds nothing changed and writes nothing.
    WriteSetting(L"Color", 5);
    CloseEditor();
    EXPECT_EQ(Stored(L"Color"), 5u);
}

}  // namespace
