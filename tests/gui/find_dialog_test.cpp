// The Find dialog from its template: searching the document forward with
// wrap-around, its caption and button, hiding and showing it again.
#include <windows.h>

#include <atomic>
#include <cwctype>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/app_entry.h"
#include "dialogs/find_dialog.h"
#include "gui/gui_harness.h"
#include "resources/resource.h"

namespace {

// A key that neither the dialog nor the editor acts on: once its release has
// been taken from the queue, every key typed before it has been handled.
constexpr WORD END_MARK = VK_F9;

using Selection = std::pair<DWORD, DWORD>;

class FindDialog : public EditorTest {
protected:
    HWND dialog() const
    {
        return app()->findDialog;
    }
    HWND field() const
    {
        return GetDlgItem(dialog(), IDC_FIND_TEXT);
    }
    HWND button() const
    {
        return GetDlgItem(dialog(), IDOK);
    }
    std::wstring Caption() const
    {
        return WindowText(dialog());
    }
    Selection Selected() const
    {
        DWORD start = 0;
        DWORD end = 0;
        SendMessageW(edit(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        return {start, end};
    }

    // A document, then the Find command, which must bring the dialog up with
    // the keyboard focus in its field.
    void OpenOn(const wchar_t* document)
    {
        SetEditText(document, false);
        Command(IDM_FIND);
        ASSERT_TRUE(IsWindowVisible(dialog()));
        ASSERT_TRUE(PumpUntil([this]() { return GetForegroundWindow() == dialog() && GetFocus() == field(); }));
    }
    // Puts text into the find field as a paste would (the field reports the change).
    void SetFindText(const wchar_t* text)
    {
        SendMessageW(field(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
        PumpQueued();
    }
    // Real key presses into whatever has the focus; waits until all were handled.
    void TypeKeys(const std::vector<WORD>& keys)
    {
        {
            KeyInput input;
            for (WORD key : keys) {
                input.Tap(key);
            }
            input.Tap(END_MARK);
        }
        bool ended = false;
        EXPECT_TRUE(PumpUntil([&]() { return ended; }, WAIT_TIMEOUT_MS,
                              [&](const MSG& message) {
                                  if (message.message == WM_KEYUP && message.wParam == END_MARK) {
                                      ended = true;
                                  }
                              }));
        PumpQueued();
    }
    // Enter in the find field: the dialog's default button, Find.
    Selection FindWithEnter()
    {
        TypeKeys({VK_RETURN});
        return Selected();
    }
    // The Find button's command, also when the button is disabled.
    void PostFind()
    {
        ClickButton(dialog(), IDOK);
        PumpQueued();
    }
    // Where CenterWindow puts the dialog over the main window.
    POINT CentredPosition() const
    {
        RECT over{};
        RECT own{};
        GetWindowRect(main(), &over);
        GetWindowRect(dialog(), &own);
        return {over.left + ((over.right - over.left) - (own.right - own.left)) / 2,
                over.top + ((over.bottom - over.top) - (own.bottom - own.top)) / 2};
    }
    POINT Position() const
    {
        RECT own{};
        GetWindowRect(dialog(), &own);
        return {own.left, own.top};
    }
};

TEST_F(FindDialog, TemplateHasItsFieldAndDisabledDefaultButton)
{
    StartEditor();
    ASSERT_NE(dialog(), nullptr);
    EXPECT_FALSE(IsWindowVisible(dialog()));
    EXPECT_EQ(Caption(), L"");
    EXPECT_EQ(GetWindow(dialog(), GW_OWNER), main());
    EXPECT_EQ(ClassName(field()), L"Edit");
    EXPECT_EQ(DialogItemText(dialog(), IDOK), L"&Find");
    EXPECT_FALSE(IsWindowEnabled(button()));
    EXPECT_NE(GetWindowLongW(button(), GWL_STYLE) & BS_DEFPUSHBUTTON, 0);
    EXPECT_EQ(SendMessageW(field(), EM_GETLIMITTEXT, 0, 0), 127);
    // 187 x 29 dialog units of client area.
    RECT expected{0, 0, 187, 29};
    MapDialogRect(dialog(), &expected);
    RECT client{};
    GetClientRect(dialog(), &client);
    EXPECT_EQ(client.right, expected.right);
    EXPECT_EQ(client.bottom, expected.bottom);
}

TEST_F(FindDialog, OverlappingMatchesComeInTurnAndTheSearchWrapsWithoutFailing)
{
    StartEditor();
    OpenOn(L"aaaa");
    TypeKeys({'A', 'A'});
    EXPECT_EQ(WindowText(field()), L"aa");
    EXPECT_TRUE(IsWindowEnabled(button()));
    EXPECT_EQ(Caption(), L"Find First");

    const std::vector<Selection> expected = {{0, 2}, {1, 3}, {2, 4}, {0, 2}, {1, 3}};
    for (const Selection& match : expected) {
        EXPECT_EQ(FindWithEnter(), match);
        EXPECT_EQ(Caption(), L"Find Next");
        // The search leaves the keyboard in the dialog for the next Enter.
        EXPECT_EQ(GetFocus(), field());
        EXPECT_EQ(static_cast<DWORD>(app()->findPosition), match.first + 1);
    }
    // The find text is kept, and searched lower-cased.
    EXPECT_EQ(std::wstring(app()->findText), L"aa");
}

TEST_F(FindDialog, SingleOccurrenceIsFoundAgainOnEveryFindNext)
{
    StartEditor();
    OpenOn(L"one two three");
    SetFindText(L"two");
    for (int round = 0; round < 4; ++round) {
        EXPECT_EQ(FindWithEnter(), Selection(4, 7)) << "round " << round;
        EXPECT_EQ(Caption(), L"Find Next");
    }
}

TEST_F(FindDialog, MatchAtTheVeryEndIsFollowedByOneFromTheStart)
{
    StartEditor();
    OpenOn(L"xy\r\nab\r\nxy");
    SetFindText(L"XY");
    EXPECT_EQ(FindWithEnter(), Selection(0, 2));
    EXPECT_EQ(FindWithEnter(), Selection(8, 10));
    EXPECT_EQ(FindWithEnter(), Selection(0, 2));
    EXPECT_EQ(Caption(), L"Find Next");
}

struct FoldCase {
    const char* name;
    const wchar_t* document;
    const wchar_t* findText;
    bool found;
    DWORD start;
    DWORD end;
};

class FindCaseFolding : public FindDialog, public ::testing::WithParamInterface<FoldCase> {};

TEST_P(FindCaseFolding, FoldsOnlyTheLettersAToZ)
{
    const FoldCase& c = GetParam();
    StartEditor();
    OpenOn(c.document);
    SendMessageW(edit(), EM_SETSEL, 0, 0);
    SetFindText(c.findText);
    const Selection selected = FindWithEnter();
    if (c.found) {
        EXPECT_EQ(selected, Selection(c.start, c.end));
        EXPECT_EQ(Caption(), L"Find Next");
    } else {
        EXPECT_EQ(selected, Selection(0, 0));
        EXPECT_EQ(Caption(), L"Find First - [Not Found]");
        EXPECT_EQ(app()->findPosition, 0);
    }
    // The document itself is never changed by a search.
    EXPECT_EQ(EditText(), c.document);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FindCaseFolding,
    ::testing::Values(FoldCase{"UpperFindsLower", L"say Hello", L"HELLO", true, 4, 9},
                      FoldCase{"LowerFindsUpper", L"SAY HELLO", L"hello", true, 4, 9},
                      FoldCase{"SharpSAmongCapitals", L"die STRA\u00DFE", L"Stra\u00DFe", true, 4, 10},
                      FoldCase{"AccentedCapitalNotFolded", L"caf\u00C9", L"\u00E9", false, 0, 0},
                      FoldCase{"AccentedSmallNotFolded", L"caf\u00E9", L"\u00C9", false, 0, 0},
                      FoldCase{"UmlautNotFolded", L"\u00C4rger", L"\u00E4", false, 0, 0},
                      FoldCase{"AccentedMatchesItself", L"caf\u00E9 CAF\u00C9", L"CAF\u00C9", true, 5, 9},
                      FoldCase{"GreekNotFolded", L"\u03A3\u039F\u03A6\u0399\u0391", L"\u03C3\u03BF\u03C6", false, 0, 0},
                      FoldCase{"KelvinSignIsNotK", L"5 \u212A", L"k", false, 0, 0},
                      FoldCase{"DottedCapitalINotFolded", L"\u0130stanbul", L"istanbul", false, 0, 0},
                      FoldCase{"FullwidthNotFolded", L"\uFF21\uFF22", L"\uFF41\uFF42", false, 0, 0},
                      FoldCase{"BracketsAreNotLetters", L"[x] {x}", L"{X}", true, 4, 7},
                      FoldCase{"SurrogatePairMatchesItself", L"a\U0001F600b", L"\U0001F600B", true, 1, 4}),
    [](const ::testing::TestParamInfo<FoldCase>& item) { return std::string(item.param.name); });

// The runtime's lower-casing, on which the search rests, in the default locale
// the program never changes: exactly A-Z change, and only to a-z.
TEST(FindFolding, RuntimeLowerCasingMovesOnlyAToZ)
{
    for (unsigned code = 0; code <= 0xFFFF; ++code) {
        const unsigned expected = (code >= 'A' && code <= 'Z') ? code + ('a' - 'A') : code;
        ASSERT_EQ(static_cast<unsigned>(std::towlower(static_cast<std::wint_t>(code))), expected)
            << "U+" << std::hex << code;
    }
}

TEST_F(FindDialog, FindTextLongerThanTheDocumentReportsNotFoundAtOnce)
{
    StartEditor();
    OpenOn(L"abc");
    SendMessageW(edit(), EM_SETSEL, 1, 2);
    SetFindText(L"abcd");
    EXPECT_EQ(FindWithEnter(), Selection(1, 2));
    EXPECT_EQ(Caption(), L"Find First - [Not Found]");
    EXPECT_EQ(app()->findPosition, 0);
}

TEST_F(FindDialog, NotFoundAfterBothPassesAndTheNextSearchStartsAtTheBeginning)
{
    StartEditor();
    OpenOn(L"abc abc");
    SetFindText(L"abc");
    EXPECT_EQ(FindWithEnter(), Selection(0, 3));
    EXPECT_EQ(app()->findPosition, 1);

    // Editing the document leaves the search position where it was: the
    // only match now lies before it, and is found by the second pass.
    SetEditText(L"abc xyz", false);
    EXPECT_EQ(app()->findPosition, 1);
    EXPECT_EQ(FindWithEnter(), Selection(0, 3));
    EXPECT_EQ(Caption(), L"Find Next");

    // Neither pass finds anything: reported once, and the position is back at 0.
    SetEditText(L"xyz xyz", false);
    SendMessageW(edit(), EM_SETSEL, 2, 5);
    EXPECT_EQ(FindWithEnter(), Selection(2, 5));
    EXPECT_EQ(Caption(), L"Find First - [Not Found]");
    EXPECT_EQ(app()->findPosition, 0);

    SetEditText(L"xyzabc", false);
    EXPECT_EQ(FindWithEnter(), Selection(3, 6));
    EXPECT_EQ(Caption(), L"Find Next");
}

TEST_F(FindDialog, ButtonIsEnabledExactlyWhileTheFieldHasText)
{
    StartEditor();
    OpenOn(L"text");
    EXPECT_FALSE(IsWindowEnabled(button()));
    TypeKeys({'T'});
    EXPECT_TRUE(IsWindowEnabled(button()));
    TypeKeys({VK_BACK});
    EXPECT_EQ(WindowText(field()), L"");
    EXPECT_FALSE(IsWindowEnabled(button()));

    // Enter does nothing with the default button disabled; a search started
    // anyway finds nothing and says so.
    SendMessageW(edit(), EM_SETSEL, 1, 3);
    EXPECT_EQ(FindWithEnter(), Selection(1, 3));
    EXPECT_EQ(Caption(), L"Find First");
    PostFind();
    EXPECT_EQ(Caption(), L"Find First - [Not Found]");
    EXPECT_EQ(Selected(), Selection(1, 3));

    // The Find command sets the button from the field as well.
    SetFindText(L"x");
    EnableWindow(button(), FALSE);
    Command(IDM_FIND);
    EXPECT_TRUE(IsWindowEnabled(button()));
}

TEST_F(FindDialog, EditingTheFindTextStartsTheSearchAfresh)
{
    StartEditor();
    OpenOn(L"aaaa");
    SetFindText(L"a");
    EXPECT_EQ(FindWithEnter(), Selection(0, 1));
    EXPECT_EQ(FindWithEnter(), Selection(1, 2));
    EXPECT_EQ(Caption(), L"Find Next");

    TypeKeys({'A'});
    EXPECT_EQ(WindowText(field()), L"aa");
    EXPECT_EQ(Caption(), L"Find First");
    EXPECT_EQ(app()->findPosition, 0);
    EXPECT_EQ(FindWithEnter(), Selection(0, 2));

    // A failed search's caption also goes back to "Find First" on an edit.
    SetFindText(L"b");
    EXPECT_EQ(FindWithEnter(), Selection(0, 2));
    EXPECT_EQ(Caption(), L"Find First - [Not Found]");
    TypeKeys({VK_END, VK_BACK});
    EXPECT_EQ(WindowText(field()), L"");
    EXPECT_EQ(Caption(), L"Find First");
}

TEST_F(FindDialog, MovingTheCaretDoesNotMoveTheSearch)
{
    StartEditor();
    OpenOn(L"ab ab ab");
    SetFindText(L"ab");
    EXPECT_EQ(FindWithEnter(), Selection(0, 2));
    SendMessageW(edit(), EM_SETSEL, 7, 7);
    EXPECT_EQ(FindWithEnter(), Selection(3, 5));
}

TEST_F(FindDialog, TheFindCommandStartsOverButLeavesAShownDialogWhereItIs)
{
    StartEditor();
    OpenOn(L"aaaa");
    SetFindText(L"aa");
    FindWithEnter();
    FindWithEnter();
    EXPECT_EQ(Caption(), L"Find Next");

    SetWindowPos(dialog(), nullptr, 5, 7, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Command(IDM_FIND);
    EXPECT_EQ(Caption(), L"Find First");
    EXPECT_EQ(app()->findPosition, 0);
    EXPECT_EQ(Position().x, 5);
    EXPECT_EQ(Position().y, 7);
    EXPECT_EQ(GetFocus(), field());
    EXPECT_EQ(FindWithEnter(), Selection(0, 2));
}

TEST_F(FindDialog, FindOnAnEmptyDocumentLeavesEverythingAsItWas)
{
    StartEditor();
    OpenOn(L"abab");
    SetFindText(L"b");
    FindWithEnter();
    FindWithEnter();
    EXPECT_EQ(app()->findPosition, 4);

    // Shown: neither the caption nor the search position move.
    SetEditText(L"", false);
    Command(IDM_FIND);
    EXPECT_EQ(Caption(), L"Find Next");
    EXPECT_EQ(app()->findPosition, 4);
    // Searching the empty document finds nothing.
    FindWithEnter();
    EXPECT_EQ(Caption(), L"Find First - [Not Found]");

    // Hidden: it stays hidden.
    PostMessageW(dialog(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([this]() { return !IsWindowVisible(dialog()); }));
    Command(IDM_FIND);
    PumpQueued();
    EXPECT_FALSE(IsWindowVisible(dialog()));
    EXPECT_EQ(app()->findDialogVisible, 0);
}

TEST_F(FindDialog, TextLongerThanTheFieldTakesIsSearchedByItsFirst127Characters)
{
    StartEditor();
    const std::wstring longText(200, L'q');
    OpenOn((L"x" + longText).c_str());
    // More than a user can type, put in by a program.
    SetFindText(longText.c_str());
    EXPECT_EQ(FindWithEnter(), Selection(1, 128));
    EXPECT_EQ(Caption(), L"Find Next");
    EXPECT_EQ(app()->findText[127], L'\0');
}

enum class HideBy { Escape, CloseBox, CancelCommand };

struct HideCase {
    const char* name;
    HideBy how;
};

class FindDialogHiding : public FindDialog, public ::testing::WithParamInterface<HideCase> {};

TEST_P(FindDialogHiding, HidesAndTheFindCommandBringsItBackCentredWithItsText)
{
    StartEditor();
    OpenOn(L"abc abc");
    TypeKeys({'B', 'C'});
    FindWithEnter();
    EXPECT_EQ(Caption(), L"Find Next");
    EXPECT_EQ(Position().x, CentredPosition().x);
    EXPECT_EQ(Position().y, CentredPosition().y);
    SetWindowPos(dialog(), nullptr, 3, 4, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    switch (GetParam().how) {
        case HideBy::Escape:
            TypeKeys({VK_ESCAPE});
            break;
        case HideBy::CloseBox:
            PressCloseBox(dialog());
            break;
        case HideBy::CancelCommand:
            ClickButton(dialog(), IDCANCEL);
            break;
    }
    ASSERT_TRUE(PumpUntil([this]() { return !IsWindowVisible(dialog()); }));
    EXPECT_EQ(app()->findDialogVisible, 0);
    // Hidden, never destroyed.
    EXPECT_TRUE(IsWindow(dialog()));
    // The document keeps its text and the selection of the last match.
    EXPECT_EQ(EditText(), L"abc abc");
    EXPECT_EQ(Selected(), Selection(1, 3));

    // Somewhere else meanwhile: Find centres it again over the main window.
    SetWindowPos(main(), nullptr, 40, 30, 700, 500, SWP_NOZORDER | SWP_NOACTIVATE);
    Command(IDM_FIND);
    EXPECT_TRUE(IsWindowVisible(dialog()));
    EXPECT_EQ(app()->findDialogVisible, 1);
    EXPECT_EQ(Position().x, CentredPosition().x);
    EXPECT_EQ(Position().y, CentredPosition().y);
    EXPECT_EQ(WindowText(field()), L"bc");
    EXPECT_EQ(Caption(), L"Find First");
    EXPECT_TRUE(IsWindowEnabled(button()));
    EXPECT_EQ(GetFocus(), field());
    EXPECT_EQ(FindWithEnter(), Selection(1, 3));
}

INSTANTIATE_TEST_SUITE_P(Ways, FindDialogHiding,
                         ::testing::Values(HideCase{"Escape", HideBy::Escape}, HideCase{"CloseBox", HideBy::CloseBox},
                                           HideCase{"CancelCommand", HideBy::CancelCommand}),
                         [](const ::testing::TestParamInfo<HideCase>& item) { return std::string(item.param.name); });

TEST_F(FindDialog, ClosingTheEditorWithTheDialogShownEndsInOrder)
{
    StartEditor();
    OpenOn(L"abc");
    SetFindText(L"b");
    FindWithEnter();
    CloseEditor();
    EXPECT_EQ(app()->runState, RUN_CLOSED);
    EXPECT_FALSE(IsWindow(dialog()));
    // The find text went with the other buffers.
    EXPECT_EQ(app()->findText[0], L'\0');
}

// Enter and Escape reach the dialog through the program's own message loop,
// driven from a second thread while the loop runs.
TEST_F(FindDialog, KeysReachTheDialogThroughTheProgramsMessageLoop)
{
    StartEditor();
    OpenOn(L"one two one");
    SetFindText(L"one");
    HWND window = main();
    HWND find = dialog();
    HWND editor = edit();
    std::atomic<bool> hidden{false};
    std::vector<Selection> seen;
    std::thread driver([&]() {
        const auto selection = [editor]() {
            DWORD start = 0;
            DWORD end = 0;
            SendMessageW(editor, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
            return Selection(start, end);
        };
        for (const Selection& wanted : {Selection(0, 3), Selection(8, 11), Selection(0, 3)}) {
            KeyInput keys;
            keys.Tap(VK_RETURN);
            WaitFor([&]() { return selection() == wanted; });
            seen.push_back(selection());
        }
        {
            KeyInput keys;
            keys.Tap(VK_ESCAPE);
        }
        hidden = WaitFor([find]() { return !IsWindowVisible(find); });
        PostMessageW(window, WM_CLOSE, 0, 0);
    });
    const int exitCode = RunMessageLoop();
    driver.join();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(seen, (std::vector<Selection>{{0, 3}, {8, 11}, {0, 3}}));
    EXPECT_TRUE(hidden.load());
    EXPECT_EQ(app()->runState, RUN_CLOSED);
}

}  // namespace
