// Keyboard shortcuts, typed as real key input into the edit control.
#include <windows.h>

#include <vector>

#include "gui/gui_harness.h"
#include "resources/resource.h"

namespace {

// A key that the editor ignores: once its release has reached the edit
// control, everything typed before it has been handled.
constexpr WORD END_MARK = VK_F9;

class Keyboard : public EditorTest {
protected:
    // Types keys (held modifiers, then one key), waits until they were handled,
    // and returns the commands posted to the main window meanwhile.
    std::vector<UINT> Type(const std::vector<WORD>& modifiers, WORD key, int repeats = 1)
    {
        std::vector<UINT> commands;
        bool ended = false;
        {
            KeyInput keys;
            for (WORD modifier : modifiers) {
                keys.Down(modifier);
            }
            for (int i = 0; i < repeats; ++i) {
                keys.Down(key);  // a key pressed again while down is an auto-repeat
            }
            keys.Up(key);
        }
        KeyInput mark;
        mark.Tap(END_MARK);
        EXPECT_TRUE(PumpUntil([&]() { return ended; }, WAIT_TIMEOUT_MS,
                              [&](const MSG& message) {
                                  if (message.message == WM_COMMAND && message.hwnd == main()) {
                                      EXPECT_EQ(message.lParam, 0);
                                      commands.push_back(LOWORD(message.wParam));
                                  }
                                  if (message.message == WM_KEYUP && message.wParam == END_MARK) {
                                      ended = true;
                                  }
                              }));
        PumpQueued();
        return commands;
    }
};

struct ShortcutCase {
    const char* name;
    std::vector<WORD> modifiers;
    WORD key;
    std::vector<UINT> commands;
};

class Shortcuts : public Keyboard, public ::testing::WithParamInterface<ShortcutCase> {};

TEST_P(Shortcuts, PostTheirCommands)
{
    StartEditor();
    FocusEditor();
    // Busy, so that Open and Save are only deferred instead of opening their dialogs.
    app()->runState = RUN_BUSY;
    EXPECT_EQ(Type(GetParam().modifiers, GetParam().key), GetParam().commands);
    app()->runState = RUN_IDLE;
    app()->pendingCommand = PENDING_NONE;
    EXPECT_FALSE(IsIconic(main()));
}

const std::vector<WORD> CTRL = {VK_CONTROL};

INSTANTIATE_TEST_SUITE_P(
    Keys, Shortcuts,
    ::testing::Values(ShortcutCase{"CtrlZero", CTRL, '0', {IDM_FONT_RESET}},
                      ShortcutCase{"CtrlNumpadZero", CTRL, VK_NUMPAD0, {IDM_FONT_RESET}},
                      ShortcutCase{"CtrlF", CTRL, 'F', {IDM_FIND}}, ShortcutCase{"CtrlN", CTRL, 'N', {IDM_NEW}},
                      ShortcutCase{"CtrlO", CTRL, 'O', {IDM_OPEN}}, ShortcutCase{"CtrlS", CTRL, 'S', {IDM_SAVE}},
                      ShortcutCase{"CtrlAdd", CTRL, VK_ADD, {IDM_FONT_INCREASE}},
                      ShortcutCase{"CtrlPlus", CTRL, VK_OEM_PLUS, {IDM_FONT_INCREASE}},
                      ShortcutCase{"CtrlSubtract", CTRL, VK_SUBTRACT, {IDM_FONT_DECREASE}},
                      ShortcutCase{"CtrlMinus", CTRL, VK_OEM_MINUS, {IDM_FONT_DECREASE}},
                      ShortcutCase{"CtrlShiftS", {VK_CONTROL, VK_SHIFT}, 'S', {IDM_SAVE}},
                      ShortcutCase{"CtrlAltS", {VK_CONTROL, VK_MENU}, 'S', {IDM_SAVE}},
                      ShortcutCase{"CtrlA", CTRL, 'A', {}}, ShortcutCase{"CtrlQ", CTRL, 'Q', {}},
                      ShortcutCase{"PlainS", {}, 'S', {}}, ShortcutCase{"ShiftN", {VK_SHIFT}, 'N', {}},
                      ShortcutCase{"CtrlEscape", CTRL, VK_ESCAPE, {}}),
    [](const ::testing::TestParamInfo<ShortcutCase>& param) { return param.param.name; });

TEST_F(Keyboard, ShortcutsActAsTheMenuCommandsDo)
{
    StartEditor();
    FocusEditor();
    Type(CTRL, VK_ADD);
    EXPECT_EQ(FontHeight(), 17);
    // Held down: every repeat posts another Increase Size.
    EXPECT_EQ(Type(CTRL, VK_OEM_PLUS, 3), std::vector<UINT>(3, IDM_FONT_INCREASE));
    EXPECT_EQ(FontHeight(), 20);
    Type(CTRL, VK_SUBTRACT);
    EXPECT_EQ(FontHeight(), 19);
    Type(CTRL, '0');
    EXPECT_EQ(FontHeight(), 16);
}

TEST_F(Keyboard, CtrlASelectsAllAndPlainKeysAreTyped)
{
    StartEditor();
    FocusEditor();
    Type({}, 'H');
    Type({VK_SHIFT}, 'I');
    EXPECT_EQ(EditText(), L"hI");
    EXPECT_NE(SendMessageW(edit(), EM_GETMODIFY, 0, 0), 0);
    Type(CTRL, 'A');
    DWORD start = 9;
    DWORD end = 0;
    SendMessageW(edit(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 2u);
}

TEST_F(Keyboard, EscapeMinimisesTheWindowEvenWhileBusy)
{
    StartEditor();
    FocusEditor();
    app()->runState = RUN_BUSY;
    Type({}, VK_ESCAPE);
    EXPECT_TRUE(IsIconic(main()));
    ShowWindow(main(), SW_RESTORE);
    PumpQueued();
}

TEST_F(Keyboard, ShortcutsSurviveTheWordWrapRebuild)
{
    StartEditor();
    Command(IDM_WORD_WRAP);
    FocusEditor();
    app()->runState = RUN_BUSY;  // Save is only deferred: no dialog
    EXPECT_EQ(Type(CTRL, 'S'), std::vector<UINT>{IDM_SAVE});
    app()->runState = RUN_IDLE;
    app()->pendingCommand = PENDING_NONE;
    Command(IDM_WORD_WRAP);
    FocusEditor();
    EXPECT_EQ(Type(CTRL, 'N'), std::vector<UINT>{IDM_NEW});
}

TEST_F(Keyboard, CtrlNWithUnsavedChangesAsksFirst)
{
    StartEditor();
    FocusEditor();
    Type({}, 'X');
    DialogResponder responder(uiThread(), app()->findDialog, {[](HWND dialog) { ClickButton(dialog, IDNO); }});
    {
        // Not through Type: the keys that follow may reach the dialog instead.
        KeyInput keys;
        keys.Down(VK_CONTROL);
        keys.Tap('N');
    }
    EXPECT_TRUE(PumpUntil([&]() { return responder.Answered() == 1 && EditText().empty(); }));
    const std::vector<DialogReport> seen = responder.Finish();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, L"Do you want to save changes?");
    EXPECT_EQ(EditText(), L"");
}

}  // namespace
