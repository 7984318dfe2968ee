// Document commands, their deferral while busy and their replay at the end of
// a job, and the orderly close with its unsaved-changes prompt.
#include <windows.h>

#include "app/app_entry.h"
#include "dialogs/file_commands.h"
#include "gui/gui_harness.h"
#include "jobs/document_jobs.h"
#include "resources/resource.h"

namespace {

class Commands : public EditorTest {
protected:
    // As a file command does before its first dialog or job.
    void BeBusy(std::uint32_t token = 0x1234)
    {
        app()->runState = RUN_BUSY;
        app()->jobToken = token;
    }
    // The job's last message, as a worker sends it.
    void EndJob(ResultCode code = RESULT_OK)
    {
        SendNotifyMessageW(main(), WM_JOB_DONE, app()->jobToken, code);
        ASSERT_TRUE(PumpUntil([this]() { return app()->runState != RUN_BUSY; }));
    }
    bool Modified()
    {
        return SendMessageW(edit(), EM_GETMODIFY, 0, 0) != 0;
    }
};

TEST_F(Commands, DeferredCommandsWhileBusyLastOneWins)
{
    StartEditor();
    BeBusy();
    Command(IDM_ABOUT);
    EXPECT_EQ(app()->pendingCommand, PENDING_ABOUT);
    Command(IDM_NEW);
    EXPECT_EQ(app()->pendingCommand, PENDING_NEW);
    Command(IDM_OPEN);
    EXPECT_EQ(app()->pendingCommand, PENDING_OPEN);
    Command(IDM_SAVE_AS);
    EXPECT_EQ(app()->pendingCommand, PENDING_SAVE_AS);
    Command(IDM_WORD_WRAP);
    EXPECT_EQ(app()->pendingCommand, PENDING_WORD_WRAP);
    EXPECT_EQ(app()->wordWrap, 0u);
    Command(IDM_SAVE);
    EXPECT_EQ(app()->pendingCommand, PENDING_SAVE);
    // Nothing of it ran: still busy, no dialog, no new control.
    EXPECT_EQ(app()->runState, RUN_BUSY);
}

TEST_F(Commands, PendingCloseIsNeverReplaced)
{
    StartEditor();
    BeBusy();
    SendMessageW(main(), WM_CLOSE, 0, 0);
    EXPECT_EQ(app()->pendingCommand, PENDING_CLOSE);
    EXPECT_TRUE(IsWindow(main()));
    Command(IDM_NEW);
    Command(IDM_ABOUT);
    Command(IDM_WORD_WRAP);
    EXPECT_EQ(SendMessageW(main(), WM_DEFER_COMMAND, PENDING_SAVE, 0), 1);
    EXPECT_EQ(app()->pendingCommand, PENDING_CLOSE);

    // At the end of the job the close runs: no changes, so no prompt.
    EndJob();
    EXPECT_TRUE(PumpUntil([this]() { return app()->runState == RUN_CLOSED; }));
    EXPECT_FALSE(IsWindow(main()));
}

TEST_F(Commands, DeferMessageStoresOnlyWhileBusy)
{
    StartEditor();
    EXPECT_EQ(SendMessageW(main(), WM_DEFER_COMMAND, PENDING_ABOUT, 0), 0);
    EXPECT_EQ(app()->pendingCommand, PENDING_NONE);
    BeBusy();
    EXPECT_EQ(SendMessageW(main(), WM_DEFER_COMMAND, PENDING_ABOUT, 0), 1);
    EXPECT_EQ(app()->pendingCommand, PENDING_ABOUT);
}

TEST_F(Commands, ViewAndEditCommandsStillWorkWhileBusy)
{
    StartEditor();
    SetEditText(L"abc", false);
    BeBusy();
    Command(IDM_THEME_GRAY);
    Command(IDM_FONT_INCREASE);
    Command(IDM_MARGIN_SMALL);
    Command(IDM_SELECT_ALL);
    EXPECT_EQ(app()->colorTheme, 3);
    EXPECT_EQ(FontHeight(), 17);
    EXPECT_EQ(app()->margin, 12);
    DWORD end = 0;
    SendMessageW(edit(), EM_GETSEL, 0, reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(end, 3u);
    EXPECT_EQ(app()->pendingCommand, PENDING_NONE);
    // No menu item is greyed for a running job.
    EXPECT_EQ(MenuState(1, IDM_CUT) & MF_GRAYED, 0u);
    EXPECT_EQ(GetMenuState(GetSubMenu(GetMenu(main()), 0), IDM_SAVE, MF_BYCOMMAND) & MF_GRAYED, 0u);
}

TEST_F(Commands, JobEndReplaysTheDeferredCommand)
{
    StartEditor();
    SetEditText(L"keep me", false);
    BeBusy();
    Command(IDM_ABOUT);
    Command(IDM_WORD_WRAP);
    EndJob();
    EXPECT_EQ(app()->runState, RUN_IDLE);
    EXPECT_EQ(app()->pendingCommand, PENDING_NONE);
    // The replayed Word Wrap arrives as a posted command.
    EXPECT_TRUE(PumpUntil([this]() { return app()->wordWrap == 1u; }));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(edit(), GWL_STYLE)), 0x50201144u);
    EXPECT_EQ(EditText(), L"keep me");
}

TEST_F(Commands, JobEndReplaysNewAfterAboutWasReplaced)
{
    StartEditor();
    SetEditText(L"old text", false);
    wcscpy_s(app()->documentPath, PATH_CAPACITY, L"C:\\old.vtxt");
    app()->documentIsContainer = 1;
    SetWindowTextW(main(), L"old - Tarnwick");
    BeBusy();
    Command(IDM_ABOUT);
    Command(IDM_NEW);
    EndJob();
    EXPECT_TRUE(PumpUntil([this]() { return EditText().empty(); }));
    EXPECT_EQ(WindowText(main()), L"Tarnwick");
    EXPECT_EQ(app()->documentPath[0], L'\0');
    EXPECT_EQ(app()->documentIsContainer, 0);
}

TEST_F(Commands, JobDoneFromAnOlderJobIsIgnored)
{
    StartEditor();
    BeBusy(77);
    Command(IDM_NEW);
    SendNotifyMessageW(main(), WM_JOB_DONE, 76, RESULT_OK);
    SendNotifyMessageW(main(), WM_JOB_DONE, 77 + (static_cast<WPARAM>(1) << 32), RESULT_OK);
    PumpQueued();
    EXPECT_EQ(app()->runState, RUN_BUSY);
    EXPECT_EQ(app()->pendingCommand, PENDING_NEW);
    EndJob();
    EXPECT_EQ(app()->runState, RUN_IDLE);
}

TEST_F(Commands, FailedJobShowsItsMessageThenReplays)
{
    StartEditor();
    BeBusy();
    app()->passwordEntry.password[0] = L'x';
    Command(IDM_WORD_WRAP);
    DialogResponder responder(uiThread(), app()->findDialog, {[](HWND dialog) { ClickButton(dialog, IDOK); }});
    SendNotifyMessageW(main(), WM_JOB_DONE, app()->jobToken, RESULT_WRONG_PASSWORD);
    ASSERT_TRUE(PumpUntil([this]() { return app()->runState == RUN_IDLE; }));
    const DialogReport seen = responder.FinishOne();
    EXPECT_TRUE(seen.found);
    EXPECT_EQ(seen.caption, L"Password Error");
    EXPECT_EQ(seen.text, L"The password you have entered is incorrect.");
    EXPECT_EQ(seen.owner, main());
    EXPECT_EQ(app()->passwordEntry.password[0], L'\0');
    EXPECT_TRUE(PumpUntil([this]() { return app()->wordWrap == 1u; }));
}

TEST_F(Commands, FailedCommandLineOpenClosesTheProgram)
{
    StartEditor();
    BeBusy();
    app()->commandLineOpen = 1;
    DialogResponder responder(uiThread(), app()->findDialog, {[](HWND dialog) { ClickButton(dialog, IDOK); }});
    SendNotifyMessageW(main(), WM_JOB_DONE, app()->jobToken, RESULT_OPEN_FAILED);
    EXPECT_TRUE(PumpUntil([this]() { return app()->runState == RUN_CLOSED; }));
    EXPECT_EQ(responder.FinishOne().text, L"The file cannot be opened.");
    EXPECT_EQ(app()->commandLineOpen, 0);
}

TEST_F(Commands, StartJobRefusesUnlessBusyAndGivesEachJobItsOwnToken)
{
    StartEditor();
    static std::atomic<int> runs{0};
    const JobProcedure job = [](void* state) -> unsigned {
        auto* a = static_cast<AppState*>(state);
        runs.fetch_add(1);
        SendNotifyMessageW(a->mainWindow, WM_JOB_DONE, a->jobToken, RESULT_OK);
        return 0;
    };
    runs = 0;
    EXPECT_EQ(startJob(app(), job), 0);
    EXPECT_EQ(app()->jobThread, nullptr);

    app()->runState = RUN_BUSY;
    ASSERT_EQ(startJob(app(), job), 1);
    const std::uint32_t first = app()->jobToken;
    ASSERT_TRUE(PumpUntil([this]() { return app()->runState == RUN_IDLE; }));
    app()->runState = RUN_BUSY;
    ASSERT_EQ(startJob(app(), job), 1);
    EXPECT_NE(app()->jobToken, first);
    ASSERT_TRUE(PumpUntil([this]() { return app()->runState == RUN_IDLE; }));
    EXPECT_EQ(runs.load(), 2);
}

TEST_F(Commands, ExitClosesAWindowWithoutChangesAtOnce)
{
    StartEditor();
    SetEditText(L"saved text", false);
    Command(IDM_EXIT);
    EXPECT_TRUE(PumpUntil([this]() { return app()->runState == RUN_CLOSED; }));
    EXPECT_FALSE(IsWindow(main()));
}

struct PromptCase {
    const char* name;
    int answer;  // IDOK (Yes), IDNO, IDCANCEL, ESCAPE_KEY or CLOSE_BOX
    bool closes;
};

constexpr int ESCAPE_KEY = -1;
constexpr int CLOSE_BOX = -2;

DialogResponse Answer(int answer, DWORD uiThreadId)
{
    return [answer, uiThreadId](HWND dialog) {
        if (answer == ESCAPE_KEY) {
            PressEscapeIn(dialog, uiThreadId);
        } else if (answer == CLOSE_BOX) {
            PressCloseBox(dialog);
        } else {
            ClickButton(dialog, answer);
        }
    };
}

class ClosePrompt : public Commands, public ::testing::WithParamInterface<PromptCase> {};

TEST_P(ClosePrompt, AsksAboutUnsavedChanges)
{
    StartEditor();
    SetEditText(L"unsaved", true);
    // "Yes" goes on to Save As, whose dialogs the responder cancels: the
    // document stays open and modified and the close stops.
    DialogResponder responder(uiThread(), app()->findDialog, {Answer(GetParam().answer, uiThread())});
    SendMessageW(main(), WM_CLOSE, 0, 0);
    const std::vector<DialogReport> seen = responder.Finish();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].caption, L"Tarnwick");
    EXPECT_EQ(seen[0].text, L"Do you want to save changes?");
    EXPECT_EQ(seen[0].owner, main());
    if (GetParam().closes) {
        EXPECT_TRUE(PumpUntil([this]() { return app()->runState == RUN_CLOSED; }));
        EXPECT_FALSE(IsWindow(main()));
    } else {
        PumpQueued();
        EXPECT_EQ(app()->runState, RUN_IDLE);
        EXPECT_TRUE(IsWindow(main()));
        EXPECT_EQ(EditText(), L"unsaved");
        EXPECT_TRUE(Modified());
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, ClosePrompt,
                         ::testing::Values(PromptCase{"No", IDNO, true}, PromptCase{"Cancel", IDCANCEL, false},
                                           PromptCase{"Escape", ESCAPE_KEY, false},
                                           PromptCase{"CloseBox", CLOSE_BOX, false},
                                           PromptCase{"YesThenCancelSaveAs", IDOK, false}),
                         [](const ::testing::TestParamInfo<PromptCase>& param) { return param.param.name; });

TEST_F(Commands, CloseWithoutChangesAsksNothing)
{
    StartEditor();
    SetEditText(L"saved", false);
    DialogResponder responder(uiThread(), app()->findDialog, {});
    SendMessageW(main(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(responder.Finish().empty());
    EXPECT_EQ(app()->runState, RUN_CLOSED);
}

TEST_F(Commands, NewAsksBeforeDroppingChangesAndWipesTheDocument)
{
    StartEditor();
    SetEditText(L"first draft", true);
    wcscpy_s(app()->documentPath, PATH_CAPACITY, L"C:\\draft.vtxt");
    wcscpy_s(app()->rememberedPassword.password, PASSWORD_CAPACITY, L"secret");
    wcscpy_s(app()->findText, FIND_TEXT_CAPACITY, L"draft");
    app()->documentIsContainer = 1;
    app()->storedTextSize = 40;
    SetWindowTextW(main(), L"draft - Tarnwick");

    DialogResponder cancel(uiThread(), app()->findDialog, {Answer(IDCANCEL, uiThread())});
    SendMessageW(main(), WM_COMMAND, IDM_NEW, 0);
    EXPECT_EQ(cancel.Finish().size(), 1u);
    EXPECT_EQ(EditText(), L"first draft");
    EXPECT_TRUE(Modified());
    EXPECT_EQ(app()->documentIsContainer, 1);
    EXPECT_EQ(WindowText(main()), L"draft - Tarnwick");

    DialogResponder no(uiThread(), app()->findDialog, {Answer(IDNO, uiThread())});
    SendMessageW(main(), WM_COMMAND, IDM_NEW, 0);
    EXPECT_EQ(no.Finish().size(), 1u);
    EXPECT_EQ(EditText(), L"");
    EXPECT_FALSE(Modified());
    EXPECT_EQ(WindowText(main()), L"Tarnwick");
    EXPECT_EQ(app()->documentIsContainer, 0);
    EXPECT_EQ(app()->storedTextSize, 0);
    EXPECT_EQ(app()->documentPath[0], L'\0');
    EXPECT_EQ(app()->rememberedPassword.password[0], L'\0');
    EXPECT_EQ(app()->findText[0], L'\0');

    // A document without changes is emptied without a question.
    SetEditText(L"second", false);
    DialogResponder none(uiThread(), app()->findDialog, {});
    SendMessageW(main(), WM_COMMAND, IDM_NEW, 0);
    EXPECT_TRUE(none.Finish().empty());
    EXPECT_EQ(EditText(), L"");
}

TEST_F(Commands, QuitRequestFromElsewhereBecomesAnOrdinaryClose)
{
    StartEditor();
    SetEditText(L"unsaved", true);
    // First answer Cancel: the program goes on. Then end it by a close with no changes.
    HWND window = main();
    HWND editor = edit();
    std::atomic<bool> answered{false};
    DialogResponder responder(uiThread(), app()->findDialog, {[&](HWND dialog) {
                                  ClickButton(dialog, IDCANCEL);
                                  WaitFor([&]() { return !IsWindow(dialog); });
                                  answered = true;
                                  // Sent across threads: handled by the loop under test.
                                  SendMessageW(editor, EM_SETMODIFY, FALSE, 0);
                                  PostMessageW(window, WM_CLOSE, 0, 0);
                              }});
    PostQuitMessage(7);
    const int exitCode = RunMessageLoop();
    const std::vector<DialogReport> seen = responder.Finish();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, L"Do you want to save changes?");
    EXPECT_TRUE(answered.load());
    EXPECT_EQ(app()->runState, RUN_CLOSED);
    // The exit code is the window's own, not the foreign quit request's.
    EXPECT_EQ(exitCode, 0);
}

TEST_F(Commands, MessageLoopEndsWithTheWindowsOwnQuit)
{
    StartEditor();
    PostMessageW(main(), WM_CLOSE, 0, 0);
    EXPECT_EQ(RunMessageLoop(), 0);
    EXPECT_EQ(app()->runState, RUN_CLOSED);
}

TEST_F(Commands, DestroyWipesBuffersAndReleasesResources)
{
    StartEditor();
    wcscpy_s(app()->requestedPath, PATH_CAPACITY, L"C:\\a.vtxt");
    wcscpy_s(app()->passwordEntry.password, PASSWORD_CAPACITY, L"pw");
    wcscpy_s(app()->passwordEntry.hint, HINT_CAPACITY, L"hint");
    wcscpy_s(app()->findText, FIND_TEXT_CAPACITY, L"word");
    CloseEditor();
    EXPECT_EQ(app()->requestedPath[0], L'\0');
    EXPECT_EQ(app()->passwordEntry.password[0], L'\0');
    EXPECT_EQ(app()->passwordEntry.hint[0], L'\0');
    EXPECT_EQ(app()->findText[0], L'\0');
    EXPECT_EQ(app()->editFont, nullptr);
    EXPECT_EQ(app()->crypt32Module, nullptr);
    EXPECT_EQ(app()->protectMemoryFn, nullptr);
}

TEST_F(Commands, SavingCommandsStopWhileClosing)
{
    StartEditor();
    app()->runState = RUN_CLOSING;
    Command(IDM_NEW);
    Command(IDM_SAVE);
    EXPECT_EQ(app()->pendingCommand, PENDING_NONE);
    EXPECT_EQ(SendMessageW(main(), WM_DEFER_COMMAND, PENDING_NEW, 0), 1);
    EXPECT_EQ(app()->pendingCommand, PENDING_NONE);
    finishJob(app(), RESULT_OPEN_FAILED);  // does nothing while closing: no dialog
    EXPECT_EQ(app()->runState, RUN_CLOSING);
    app()->runState = RUN_IDLE;
}

const std::wstring LONG_COMMAND_LINE(300, L'x');

struct CommandLineCase {
    const wchar_t* commandLine;
    std::wstring path;
};

class CommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLine, NamesOnePath)
{
    wchar_t path[PATH_CAPACITY];
    wmemset(path, L'#', PATH_CAPACITY);
    ParseCommandLine(GetParam().commandLine, path, PATH_CAPACITY);
    EXPECT_EQ(std::wstring(path), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(Forms, CommandLine,
                         ::testing::Values(CommandLineCase{L"\"C:\\My Notes\\a.vtxt\"", L"C:\\My Notes\\a.vtxt"},
                                           CommandLineCase{L"C:\\My Notes\\a.vtxt", L"C:\\My Notes\\a.vtxt"},
                                           CommandLineCase{L"\"C:\\a.vtxt\" extra words", L"C:\\a.vtxt"},
                                           CommandLineCase{L"", L""}, CommandLineCase{nullptr, L""},
                                           CommandLineCase{L"\"", L""}, CommandLineCase{L"a\"b", L"a"},
                                           CommandLineCase{LONG_COMMAND_LINE.c_str(), std::wstring(259, L'x')}));

TEST_F(Commands, EmptyCommandLineOpensNothing)
{
    StartEditor(L"");
    EXPECT_EQ(app()->requestedPath[0], L'\0');
    EXPECT_EQ(app()->runState, RUN_IDLE);
    EXPECT_EQ(app()->commandLineOpen, 0);
}

}  // namespace
