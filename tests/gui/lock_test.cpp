// Lock: an open container document locked by the command, Ctrl+L, the session
// lock, a disconnect, a suspend and the idle minutes; unlocked only with its
// password; its changes saved at exit and log-off without being shown; plain
// documents never locked.
#include <windows.h>

#include <string>
#include <vector>

#include "app/document_lock.h"
#include "gui/document_fixture.h"
#include "gui/gui_harness.h"
#include "resources/resource.h"
#include "support/test_support.h"

namespace {

constexpr wchar_t PASSWORD[] = L"correct horse";
constexpr wchar_t HINT[] = L"the stable";
constexpr wchar_t LOCKED_TITLE[] = L"Locked - Tarnwick";
// Long enough that no test step takes it: the idle lock waits for the test.
constexpr DWORD LONG_MINUTE_MS = 3600000;
constexpr DWORD SHORT_MINUTE_MS = 200;

// Lines long enough to scroll both ways when lines do not wrap.
std::string LongText()
{
    std::string text;
    for (int line = 0; line < 150; ++line) {
        text += "line " + std::to_string(line) + ": " + std::string(180, static_cast<char>('a' + line % 26)) + "\r\n";
    }
    return text;
}

// Everything about the document that a lock must give back.
struct View {
    std::wstring text;
    DWORD start = 0;
    DWORD end = 0;
    LRESULT firstLine = 0;
    int horizontal = 0;
    bool modified = false;
};

class Lock : public Documents {
protected:
    void TearDown() override
    {
        // Closing asks nothing, whatever the test left behind.
        if (started_ && app()->documentLock.locked != 0) {
            app()->documentLock.modified = 0;
        }
        Documents::TearDown();
        SetLockMinuteForTesting(0);
    }

    bool Locked()
    {
        return app()->documentLock.locked != 0;
    }
    bool ReadOnly()
    {
        return (GetWindowLongW(edit(), GWL_STYLE) & ES_READONLY) != 0;
    }
    std::wstring LockCaption()
    {
        wchar_t caption[64] = {};
        GetMenuStringW(GetMenu(main()), IDM_LOCK, caption, 64, MF_BYCOMMAND);
        return caption;
    }
    bool Grey(UINT position, UINT command)
    {
        return (MenuState(position, command) & MF_GRAYED) != 0;
    }
    // A container written beside the test and opened through File > Open.
    void OpenContainer(const std::string& name, const std::string& text)
    {
        WriteContainer(Path(name), text, PASSWORD, HINT);
        Open(Path(name), {EnterPassword(PASSWORD)});
        ASSERT_EQ(FullText(), Wide(text));
    }
    // Edits the text, selects part of it and scrolls down and right.
    void ChangeView()
    {
        SendMessageW(edit(), EM_SETSEL, 7, 7);
        SendMessageW(edit(), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"[not saved yet]"));
        SendMessageW(edit(), EM_SETSEL, 2345, 2401);
        SendMessageW(edit(), EM_LINESCROLL, 25, 40);
    }
    View CurrentView()
    {
        View view;
        view.text = FullText();
        SendMessageW(edit(), EM_GETSEL, reinterpret_cast<WPARAM>(&view.start), reinterpret_cast<LPARAM>(&view.end));
        view.firstLine = SendMessageW(edit(), EM_GETFIRSTVISIBLELINE, 0, 0);
        view.horizontal = GetScrollPos(edit(), SB_HORZ);
        view.modified = Modified();
        return view;
    }
    void ExpectView(const View& expected)
    {
        const View now = CurrentView();
        EXPECT_TRUE(now.text == expected.text) << "text of " << now.text.size() << " units";
        EXPECT_EQ(now.start, expected.start);
        EXPECT_EQ(now.end, expected.end);
        EXPECT_EQ(now.firstLine, expected.firstLine);
        EXPECT_EQ(now.horizontal, expected.horizontal);
        EXPECT_EQ(now.modified, expected.modified);
    }
    void ExpectLocked()
    {
        EXPECT_TRUE(Locked());
        EXPECT_EQ(GetWindowTextLengthW(edit()), 0);
        EXPECT_TRUE(ReadOnly());
        EXPECT_FALSE(Modified());
        EXPECT_EQ(WindowText(main()), LOCKED_TITLE);
        EXPECT_EQ(LockCaption(), L"&Unlock\tCtrl+L");
    }
    void Unlock(const std::wstring& password = PASSWORD)
    {
        std::wstring hint;
        const std::vector<DialogReport> seen = Run(IDM_LOCK, {EnterPassword(password, &hint)});
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].caption, L"Enter Password");
        EXPECT_EQ(hint, HINT);
        EXPECT_FALSE(Locked());
    }
    void SendSessionEvent(UINT message, WPARAM event)
    {
        SendMessageW(main(), message, event, 0);
        PumpQueued();
    }
};

enum class Way { Command, CtrlL, SessionLock, RemoteDisconnect, Suspend, IdleMinutes };

struct WayCase {
    const char* name;
    Way way;
};

class LockWays : public Lock, public ::testing::WithParamInterface<WayCase> {
protected:
    void LockBy(Way way)
    {
        switch (way) {
            case Way::Command:
                Command(IDM_LOCK);
                break;
            case Way::CtrlL: {
                FocusEditor();
                KeyInput keys;
                keys.Down(VK_CONTROL);
                keys.Tap('L');
                keys.Up(VK_CONTROL);
                break;
            }
            case Way::SessionLock:
                SendSessionEvent(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK);
                break;
            case Way::RemoteDisconnect:
                SendSessionEvent(WM_WTSSESSION_CHANGE, WTS_REMOTE_DISCONNECT);
                break;
            case Way::Suspend:
                EXPECT_EQ(SendMessageW(main(), WM_POWERBROADCAST, PBT_APMSUSPEND, 0), TRUE);
                break;
            case Way::IdleMinutes:
                SetLockMinuteForTesting(SHORT_MINUTE_MS);
                break;
        }
        EXPECT_TRUE(PumpUntil([this]() { return Locked(); }));
        SetLockMinuteForTesting(LONG_MINUTE_MS);
    }
};

TEST_P(LockWays, LockWipesTheControlAndUnlockGivesEverythingBack)
{
    const Way way = GetParam().way;
    if (way == Way::IdleMinutes) {
        WriteSetting(LOCK_AFTER_MINUTES_VALUE, 1);
        // The idle timer ticks as for a short minute; the minute itself is
        // long until the document is ready.
        SetLockMinuteForTesting(SHORT_MINUTE_MS);
    }
    StartEditor();
    SetLockMinuteForTesting(LONG_MINUTE_MS);
    OpenContainer("letter.vtxt", LongText());
    const std::vector<std::uint8_t> stored = readBytes(Path("letter.vtxt"));
    ChangeView();
    const View before = CurrentView();
    ASSERT_GT(before.firstLine, 0);
    ASSERT_GT(before.horizontal, 0);
    EXPECT_EQ(LockCaption(), L"&Lock\tCtrl+L");

    LockBy(way);
    ExpectLocked();
    // Locking writes nothing.
    EXPECT_EQ(readBytes(Path("letter.vtxt")), stored);

    Unlock();
    ExpectView(before);
    EXPECT_FALSE(ReadOnly());
    EXPECT_EQ(WindowText(main()), L"letter - Tarnwick");
    EXPECT_EQ(LockCaption(), L"&Lock\tCtrl+L");
    EXPECT_EQ(readBytes(Path("letter.vtxt")), stored);
}

INSTANTIATE_TEST_SUITE_P(Lock, LockWays,
                         ::testing::Values(WayCase{"Command", Way::Command}, WayCase{"CtrlL", Way::CtrlL},
                                           WayCase{"SessionLock", Way::SessionLock},
                                           WayCase{"RemoteDisconnect", Way::RemoteDisconnect},
                                           WayCase{"Suspend", Way::Suspend}, WayCase{"IdleMinutes", Way::IdleMinutes}),
                         [](const ::testing::TestParamInfo<WayCase>& test) { return std::string(test.param.name); });

TEST_F(Lock, WrongPasswordAndCancelStayLockedAndTheHintIsTheDocuments)
{
    StartEditor();
    OpenContainer("letter.vtxt", "the letter, long enough to be saved silently");
    // A cancelled Open leaves another file's header (and hint) behind.
    WriteContainer(Path("other.vtxt"), "another file", L"other", L"not this hint");
    Run(IDM_OPEN, {ChooseFile(Path("other.vtxt")), Press(IDCANCEL)});
    Command(IDM_LOCK);
    ASSERT_TRUE(Locked());

    std::wstring hint;
    std::vector<DialogReport> seen = Run(IDM_LOCK, {EnterPassword(L"Correct horse", &hint), Press(IDOK)});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(hint, HINT);
    EXPECT_EQ(seen[1].caption, L"Password Error");
    EXPECT_EQ(seen[1].text, L"The password you have entered is incorrect.");
    EXPECT_EQ(seen[1].owner, main());
    ExpectLocked();

    // Every one of a few near misses is refused, not one in a thousand let through.
    for (const wchar_t* wrong : {L"", L"correct horse ", L"correct hors", L"x"}) {
        seen = Run(IDM_LOCK, {EnterPassword(wrong), Press(IDOK)});
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[1].caption, L"Password Error");
        EXPECT_TRUE(Locked());
    }

    seen = Run(IDM_LOCK, {Press(IDCANCEL)});
    EXPECT_EQ(seen.size(), 1u);  // no message for a cancel
    ExpectLocked();

    Unlock();
    EXPECT_EQ(FullText(), L"the letter, long enough to be saved silently");
}

TEST_F(Lock, OnlyUnlockExitAndAboutAreAvailableWhileLocked)
{
    StartEditor();
    OpenContainer("letter.vtxt", "the letter, long enough to be saved silently");
    EXPECT_FALSE(Grey(0, IDM_LOCK));
    Command(IDM_LOCK);
    ASSERT_TRUE(Locked());
    for (UINT command : {IDM_NEW, IDM_OPEN, IDM_SAVE, IDM_SAVE_AS}) {
        EXPECT_TRUE(Grey(0, command)) << command;
    }
    EXPECT_FALSE(Grey(0, IDM_LOCK));
    EXPECT_FALSE(Grey(0, IDM_EXIT));
    for (UINT command : {IDM_UNDO, IDM_CUT, IDM_COPY, IDM_PASTE, IDM_DELETE, IDM_FIND, IDM_SELECT_ALL}) {
        EXPECT_TRUE(Grey(1, command)) << command;
    }
    EXPECT_TRUE(Grey(2, IDM_WORD_WRAP));
    HMENU format = GetSubMenu(GetMenu(main()), 2);
    HMENU themes = GetSubMenu(format, 1);
    SendMessageW(main(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(themes), MAKELPARAM(1, FALSE));
    EXPECT_NE(GetMenuState(themes, IDM_THEME_BLACK, MF_BYCOMMAND) & MF_GRAYED, 0u);
    EXPECT_FALSE(Grey(3, IDM_ABOUT));

    // The greyed commands do nothing, from the keyboard or anywhere else.
    const std::int32_t size = app()->fontSize;
    const std::uint32_t wrap = app()->wordWrap;
    std::vector<DialogReport> seen = Run(IDM_NEW, {});
    Run(IDM_SAVE, {});
    Run(IDM_OPEN, {});
    Command(IDM_FONT_INCREASE);
    Command(IDM_WORD_WRAP);
    Command(IDM_SELECT_ALL);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(app()->fontSize, size);
    EXPECT_EQ(app()->wordWrap, wrap);
    ExpectLocked();

    Unlock();
    for (UINT command : {IDM_NEW, IDM_OPEN, IDM_SAVE, IDM_SAVE_AS, IDM_LOCK}) {
        EXPECT_FALSE(Grey(0, command)) << command;
    }
    EXPECT_FALSE(Grey(2, IDM_WORD_WRAP));
}

TEST_F(Lock, TheLockItemIsGreyedWhileAJobRuns)
{
    StartEditor();
    OpenContainer("letter.vtxt", "the letter, long enough to be saved silently");
    const std::wstring text = L"the letter, changed, saved while the session locks";
    SetEditText(text.c_str(), true);
    DialogResponder responder(uiThread(), app()->findDialog, {});
    // Busy from here until this thread has handled the job's end.
    SendMessageW(main(), WM_COMMAND, IDM_SAVE, 0);
    ASSERT_EQ(app()->runState, RUN_BUSY);
    EXPECT_TRUE(Grey(0, IDM_LOCK));
    // Asked for meanwhile, the lock comes once the save has ended.
    SendMessageW(main(), WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
    EXPECT_FALSE(Locked());
    EXPECT_TRUE(PumpUntil([this]() { return Locked(); }));
    EXPECT_TRUE(responder.Finish().empty());
    EXPECT_TRUE(ReadContainer(Path("letter.vtxt"), PASSWORD).text == Utf8(text));
    Unlock();
    EXPECT_TRUE(FullText() == text);
    EXPECT_FALSE(Modified());
}

TEST_F(Lock, AnAutomaticLockWaitsForAnOpenDialog)
{
    StartEditor();
    OpenContainer("letter.vtxt", "the letter, long enough to be saved silently");
    SetEditText(L"changed, then the session locks", true);
    bool lockedWhileAsked = true;
    DialogResponder responder(uiThread(), app()->findDialog, {[&](HWND dialog) {
                                  // The lock, requested while the question is open, must not
                                  // take the text the answer is about.
                                  SendNotifyMessageW(main(), WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
                                  Sleep(300);
                                  lockedWhileAsked = app()->documentLock.locked != 0;
                                  ClickButton(dialog, IDCANCEL);
                              }});
    SendMessageW(main(), WM_CLOSE, 0, 0);
    EXPECT_EQ(responder.Finish().size(), 1u);
    EXPECT_FALSE(lockedWhileAsked);
    EXPECT_TRUE(PumpUntil([this]() { return Locked(); }));
    Unlock();
    EXPECT_EQ(FullText(), L"changed, then the session locks");
    EXPECT_TRUE(Modified());
}

TEST_F(Lock, TheIdleMinutesCountFromTheLastInputToTheProgram)
{
    // Three minutes of 400 ms: keys every 100 ms for a second and a half keep
    // the document open, then it locks 1.2 s after the last.
    constexpr DWORD minute = 400;
    WriteSetting(LOCK_AFTER_MINUTES_VALUE, 3);
    SetLockMinuteForTesting(minute);
    StartEditor();
    SetLockMinuteForTesting(LONG_MINUTE_MS);
    OpenContainer("letter.vtxt", "the letter, long enough to be saved silently");
    FocusEditor();
    SetLockMinuteForTesting(minute);
    for (int tap = 0; tap < 15; ++tap) {
        KeyInput keys;
        keys.Tap(VK_SHIFT);
        PumpUntil([]() { return false; }, 100);
        ASSERT_FALSE(Locked()) << "after " << tap << " taps";
    }
    EXPECT_TRUE(PumpUntil([this]() { return Locked(); }, 3000));
    SetLockMinuteForTesting(LONG_MINUTE_MS);
    Unlock();
}

struct MinutesCase {
    DWORD stored;
    std::int32_t used;
};

class LockMinutes : public Lock, public ::testing::WithParamInterface<MinutesCase> {};

TEST_P(LockMinutes, AreClampedAtStartAndNeverWrittenBack)
{
    WriteSetting(LOCK_AFTER_MINUTES_VALUE, GetParam().stored);
    StartEditor();
    EXPECT_EQ(app()->lockAfterMinutes, GetParam().used);
    Command(IDM_THEME_MINT);  // the five view settings are written at exit
    CloseEditor();
    DWORD stored = 0;
    EXPECT_TRUE(ReadSetting(LOCK_AFTER_MINUTES_VALUE, &stored));
    EXPECT_EQ(stored, GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Lock, LockMinutes,
                         ::testing::Values(MinutesCase{0, 0}, MinutesCase{5, 5}, MinutesCase{1440, 1440},
                                           MinutesCase{1441, 1440}, MinutesCase{0x7FFFFFFF, 1440},
                                           MinutesCase{0xFFFFFFFF, 0}));

TEST_F(Lock, NoValueMeansNeverAndNothingIsWritten)
{
    StartEditor();
    EXPECT_EQ(app()->lockAfterMinutes, 0);
    Command(IDM_THEME_MINT);
    CloseEditor();
    DWORD stored = 0;
    EXPECT_FALSE(ReadSetting(LOCK_AFTER_MINUTES_VALUE, &stored));
}

// How the document in the editor came to be; none of these is a container's.
enum class Source { Typed, PlainFile, NewAfterContainer, PlainAfterContainer };

struct SourceCase {
    const char* name;
    Source source;
};

class NeverLocked : public Lock, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(NeverLocked, PlainDocumentsIgnoreEveryWayToLock)
{
    WriteSetting(LOCK_AFTER_MINUTES_VALUE, 1);
    SetLockMinuteForTesting(SHORT_MINUTE_MS);
    StartEditor();
    SetLockMinuteForTesting(LONG_MINUTE_MS);
    writeBytes(Path("notes.txt"), {'p', 'l', 'a', 'i', 'n', ' ', 'n', 'o', 't', 'e', 's'});
    const Source source = GetParam().source;
    if (source == Source::NewAfterContainer || source == Source::PlainAfterContainer) {
        OpenContainer("letter.vtxt", "the letter, long enough to be saved silently");
    }
    if (source == Source::PlainFile || source == Source::PlainAfterContainer) {
        Open(Path("notes.txt"));
    } else {
        Run(IDM_NEW, {});
        SetEditText(L"typed, never saved", true);
    }
    const std::wstring text = FullText();
    EXPECT_TRUE(Grey(0, IDM_LOCK));

    Command(IDM_LOCK);
    SendSessionEvent(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK);
    SendMessageW(main(), WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    SetLockMinuteForTesting(SHORT_MINUTE_MS);
    PumpUntil([this]() { return Locked(); }, 3 * SHORT_MINUTE_MS);
    SetLockMinuteForTesting(LONG_MINUTE_MS);
    EXPECT_FALSE(Locked());
    EXPECT_EQ(FullText(), text);
    EXPECT_FALSE(ReadOnly());
}

INSTANTIATE_TEST_SUITE_P(Lock, NeverLocked,
                         ::testing::Values(SourceCase{"Typed", Source::Typed},
                                           SourceCase{"PlainFile", Source::PlainFile},
                                           SourceCase{"NewAfterContainer", Source::NewAfterContainer},
                                           SourceCase{"PlainAfterContainer", Source::PlainAfterContainer}),
                         [](const ::testing::TestParamInfo<SourceCase>& test) { return std::string(test.param.name); });

TEST_F(Lock, AKzxContainerLocksBehindItsPassword)
{
    StartEditor();
    OpenContainer("old.kzx", "from an older container");
    EXPECT_FALSE(Grey(0, IDM_LOCK));
    Command(IDM_LOCK);
    ExpectLocked();
    Unlock();
    EXPECT_EQ(FullText(), L"from an older container");
}

// Exit and log-off while locked with changes.
class LockedChanges : public Lock {
protected:
    // A document opened, changed, then locked.
    void OpenChangeAndLock(const std::string& name, const std::string& text, const std::wstring& change)
    {
        OpenContainer(name, text);
        SetEditText(change.c_str(), true);
        Command(IDM_LOCK);
        ASSERT_TRUE(Locked());
    }
    // File > Exit with the dialogs answered; waits until the window has
    // closed, or until every answer was given and the editor is idle again.
    std::vector<DialogReport> ExitWith(std::vector<DialogResponse> responses, bool closes)
    {
        const auto count = static_cast<int>(responses.size());
        DialogResponder responder(uiThread(), app()->findDialog, std::move(responses));
        PostMessageW(main(), WM_COMMAND, IDM_EXIT, 0);
        if (closes) {
            EXPECT_TRUE(PumpUntil([this]() { return app()->runState == RUN_CLOSED; }));
        } else {
            EXPECT_TRUE(
                PumpUntil([&]() { return responder.Answered() == count && Idle() && IsWindowEnabled(main()); }));
            PumpQueued();
        }
        return responder.Finish();
    }
    LRESULT QueryEndSession()
    {
        return SendMessageW(main(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    }
};

TEST_F(LockedChanges, ExitYesSavesSilentlyWhatWasUnlockedAndCloses)
{
    StartEditor();
    OpenChangeAndLock("letter.vtxt", "the letter as it was saved", L"the letter with \x00E9 changes\r\nnot saved");
    const std::vector<DialogReport> seen = ExitWith({Press(IDOK)}, true);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, L"Do you want to save changes?");
    EXPECT_EQ(app()->runState, RUN_CLOSED);
    const ContainerContent content = ReadContainer(Path("letter.vtxt"), PASSWORD);
    EXPECT_EQ(content.code, RESULT_OK);
    EXPECT_EQ(content.text, "the letter with \xC3\xA9 changes\r\nnot saved");
    EXPECT_EQ(content.hint, HINT);
    EXPECT_EQ(listDirectory(dir_).size(), 1u);
}

TEST_F(LockedChanges, ExitNoClosesWithoutSavingAndCancelStaysLocked)
{
    StartEditor();
    OpenChangeAndLock("letter.vtxt", "the letter as it was saved", L"changes that will be thrown away");
    const std::vector<std::uint8_t> stored = readBytes(Path("letter.vtxt"));
    std::vector<DialogReport> seen = ExitWith({Press(IDCANCEL)}, false);
    ASSERT_EQ(seen.size(), 1u);
    ExpectLocked();
    seen = ExitWith({Press(IDNO)}, true);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(app()->runState, RUN_CLOSED);
    EXPECT_EQ(readBytes(Path("letter.vtxt")), stored);
}

TEST_F(LockedChanges, ExitYesAsksThePasswordWhenTheSaveNeedsSaveAs)
{
    // A kzx container is never re-saved silently, so its password is not
    // kept: Save As asks a new one, and the locked text needs the old one first.
    StartEditor();
    OpenChangeAndLock("old.kzx", "from an older container", L"grown much longer since");
    std::wstring hint;
    const std::vector<DialogReport> seen =
        ExitWith({Press(IDOK), EnterPassword(PASSWORD, &hint), SelectPassword(L"new one", L"new one", L"new hint"),
                  ChooseFile(Path("grown.vtxt"))},
                 true);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1].caption, L"Enter Password");
    EXPECT_EQ(hint, HINT);
    EXPECT_EQ(seen[2].caption, L"Select Password");
    EXPECT_EQ(app()->runState, RUN_CLOSED);
    EXPECT_EQ(ReadContainer(Path("grown.vtxt"), L"new one").text, "grown much longer since");
    EXPECT_EQ(ReadContainer(Path("old.kzx"), PASSWORD).text, "from an older container");
}

TEST_F(LockedChanges, ExitYesWithAWrongPasswordSavesNothingAndStays)
{
    StartEditor();
    OpenChangeAndLock("old.kzx", "an older container's text", L"changed");
    const std::vector<DialogReport> seen = ExitWith({Press(IDOK), EnterPassword(L"wrong"), Press(IDOK)}, false);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].caption, L"Password Error");
    EXPECT_TRUE(IsWindow(main()));
    ExpectLocked();
    EXPECT_EQ(listDirectory(dir_).size(), 1u);
    Unlock();
    EXPECT_EQ(FullText(), L"changed");
    EXPECT_TRUE(Modified());
}

TEST_F(LockedChanges, LogOffYesSavesAndTheDocumentStaysLocked)
{
    StartEditor();
    OpenChangeAndLock("letter.vtxt", "the letter as it was saved", L"the letter as it is now, unsaved");
    DialogResponder responder(uiThread(), app()->findDialog, {Press(IDOK)});
    EXPECT_EQ(QueryEndSession(), TRUE);
    EXPECT_EQ(responder.Finish().size(), 1u);
    EXPECT_EQ(ReadContainer(Path("letter.vtxt"), PASSWORD).text, "the letter as it is now, unsaved");
    // Saved without being shown: still locked, now without changes.
    ExpectLocked();
    EXPECT_EQ(app()->documentLock.modified, 0);
    EXPECT_EQ(QueryEndSession(), TRUE);  // nothing to ask any more
    Unlock();
    EXPECT_EQ(FullText(), L"the letter as it is now, unsaved");
    EXPECT_FALSE(Modified());
}

TEST_F(LockedChanges, LogOffSavedUnderANewPasswordUnlocksOnlyWithIt)
{
    StartEditor();
    OpenChangeAndLock("old.kzx", "from an older container", L"the text saved at log-off");
    DialogResponder responder(uiThread(), app()->findDialog,
                              {Press(IDOK), EnterPassword(PASSWORD), SelectPassword(L"newer", L"newer", L"new hint"),
                               ChooseFile(Path("renamed.vtxt"))});
    EXPECT_EQ(QueryEndSession(), TRUE);
    EXPECT_EQ(responder.Finish().size(), 4u);
    EXPECT_EQ(ReadContainer(Path("renamed.vtxt"), L"newer").text, "the text saved at log-off");
    ExpectLocked();

    std::wstring hint;
    const std::vector<DialogReport> seen = Run(IDM_LOCK, {EnterPassword(PASSWORD, &hint), Press(IDOK)});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(hint, L"new hint");
    EXPECT_EQ(seen[1].caption, L"Password Error");
    Run(IDM_LOCK, {EnterPassword(L"newer")});
    EXPECT_FALSE(Locked());
    EXPECT_EQ(FullText(), L"the text saved at log-off");
    EXPECT_FALSE(Modified());
    EXPECT_EQ(WindowText(main()), L"renamed - Tarnwick");
}

}  // namespace
