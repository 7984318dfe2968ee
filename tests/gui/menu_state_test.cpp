// What the Edit and Format menus show when they open.
#include <windows.h>

#include "gui/gui_harness.h"
#include "resources/resource.h"

namespace {

constexpr UINT EDIT_MENU = 1;
constexpr UINT FORMAT_MENU = 2;

class MenuState : public EditorTest {
protected:
    bool Grayed(UINT command)
    {
        return (EditorTest::MenuState(EDIT_MENU, command) & MF_GRAYED) != 0;
    }
    bool Checked(UINT command)
    {
        return (EditorTest::MenuState(FORMAT_MENU, command) & MF_CHECKED) != 0;
    }
    void SetClipboardText(const wchar_t* text)
    {
        PutClipboardText(main(), text);
    }
};

TEST_F(MenuState, EmptyDocumentGreysWhatCannotAct)
{
    StartEditor();
    EXPECT_TRUE(Grayed(IDM_UNDO));
    EXPECT_TRUE(Grayed(IDM_CUT));
    EXPECT_TRUE(Grayed(IDM_COPY));
    EXPECT_TRUE(Grayed(IDM_DELETE));
    EXPECT_TRUE(Grayed(IDM_FIND));
    EXPECT_TRUE(Grayed(IDM_SELECT_ALL));
}

TEST_F(MenuState, SelectionEnablesCutCopyAndDelete)
{
    StartEditor();
    SetEditText(L"some words", false);
    SendMessageW(edit(), EM_SETSEL, 3, 3);
    EXPECT_TRUE(Grayed(IDM_CUT));
    EXPECT_FALSE(Grayed(IDM_FIND));
    EXPECT_FALSE(Grayed(IDM_SELECT_ALL));

    SendMessageW(edit(), EM_SETSEL, 2, 6);
    EXPECT_FALSE(Grayed(IDM_CUT));
    EXPECT_FALSE(Grayed(IDM_COPY));
    EXPECT_FALSE(Grayed(IDM_DELETE));
    EXPECT_FALSE(Grayed(IDM_SELECT_ALL));

    // Everything selected already: Select All has nothing left to do.
    SendMessageW(edit(), EM_SETSEL, 0, -1);
    EXPECT_TRUE(Grayed(IDM_SELECT_ALL));
    EXPECT_FALSE(Grayed(IDM_CUT));
}

TEST_F(MenuState, UndoFollowsTheControlsUndoState)
{
    StartEditor();
    SetEditText(L"abc", false);
    EXPECT_TRUE(Grayed(IDM_UNDO));
    SendMessageW(edit(), EM_SETSEL, 3, 3);
    SendMessageW(edit(), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"d"));
    EXPECT_FALSE(Grayed(IDM_UNDO));
    SendMessageW(edit(), EM_EMPTYUNDOBUFFER, 0, 0);
    EXPECT_TRUE(Grayed(IDM_UNDO));
}

TEST_F(MenuState, PasteFollowsTheClipboard)
{
    StartEditor();
    SetClipboardText(nullptr);
    EXPECT_TRUE(Grayed(IDM_PASTE));
    // Unicode text on the clipboard is offered as CF_TEXT as well.
    SetClipboardText(L"clip");
    EXPECT_FALSE(Grayed(IDM_PASTE));
    SetClipboardText(nullptr);
}

TEST_F(MenuState, FormatMenuChecksTheCurrentView)
{
    StartEditor();
    EXPECT_FALSE(Checked(IDM_WORD_WRAP));
    EXPECT_TRUE(Checked(IDM_THEME_DEFAULT));
    EXPECT_TRUE(Checked(IDM_FONT_COURIER_NEW));
    EXPECT_FALSE(Checked(IDM_FONT_CONSOLAS));
    EXPECT_TRUE(Checked(IDM_MARGIN_EXTRA_SMALL));

    Command(IDM_WORD_WRAP);
    Command(IDM_THEME_KHAKI);
    Command(IDM_FONT_LUCIDA_CONSOLE);
    Command(IDM_MARGIN_MEDIUM);
    EXPECT_TRUE(Checked(IDM_WORD_WRAP));
    for (UINT command = IDM_THEME_FIRST; command <= IDM_THEME_LAST; ++command) {
        EXPECT_EQ(Checked(command), command == IDM_THEME_KHAKI) << command;
    }
    EXPECT_TRUE(Checked(IDM_FONT_LUCIDA_CONSOLE));
    EXPECT_FALSE(Checked(IDM_FONT_COURIER_NEW));
    for (UINT command = IDM_MARGIN_EXTRA_SMALL; command <= IDM_MARGIN_EXTRA_LARGE; ++command) {
        EXPECT_EQ(Checked(command), command == IDM_MARGIN_MEDIUM) << command;
    }
}

TEST_F(MenuState, NestedPopupsFollowTheirOwnPosition)
{
    StartEditor();
    HMENU format = GetSubMenu(GetMenu(main()), FORMAT_MENU);
    HMENU font = GetSubMenu(format, 2);
    Command(IDM_FONT_CONSOLAS);
    // The Font popup sits at position 2 of Format: the Format rules run on it.
    SendMessageW(main(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(font), MAKELPARAM(2, FALSE));
    EXPECT_NE(GetMenuState(font, IDM_FONT_CONSOLAS, MF_BYCOMMAND) & MF_CHECKED, 0u);
    // File (position 0) and Help (3) are never touched.
    HMENU file = GetSubMenu(GetMenu(main()), 0);
    EnableMenuItem(file, IDM_SAVE, MF_BYCOMMAND | MF_GRAYED);
    SendMessageW(main(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(file), MAKELPARAM(0, FALSE));
    EXPECT_NE(GetMenuState(file, IDM_SAVE, MF_BYCOMMAND) & MF_GRAYED, 0u);
}

}  // namespace
