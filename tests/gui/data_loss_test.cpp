// The ways a document could be lost or written wrongly, driven through the
// real program: a save that fails at close, a load that the edit control
// refuses or that is only part of a file, an open that fails over a container
// document, dialogs, edit controls and job threads that cannot be created, a
// failed memory protection, and the documents that Save must not rewrite
// silently.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "container/container_writer.h"
#include "dialogs/message_dialogs.h"
#include "gui/document_fixture.h"
#include "gui/window_hooks.h"
#include "jobs/document_jobs.h"
#include "platform/fault_injection.h"
#include "resources/resource.h"
#include "support/test_support.h"

namespace {

// A message dialog of the program's own is answered with OK; any other dialog
// (a file dialog that should not have come) is cancelled.
DialogResponse Acknowledge()
{
    return [](HWND dialog) {
        const auto procedure = GetWindowLongPtrW(dialog, DWLP_DLGPROC);
        const bool message = procedure == reinterpret_cast<LONG_PTR>(MessageDialogProc) ||
                             procedure == reinterpret_cast<LONG_PTR>(MessageTextDialogProc);
        ClickButton(dialog, message ? IDOK : IDCANCEL);
    };
}

// Makes the edit control refuse every text it is sent, as it does when it
// cannot make room for one; the control itself is untouched.
class TextRefusal {
public:
    explicit TextRefusal(HWND edit) : edit_(edit)
    {
        active = this;
        previous_ =
            reinterpret_cast<WNDPROC>(SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Refuse)));
    }
    ~TextRefusal()
    {
        SetWindowLongPtrW(edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
        active = nullptr;
    }
    TextRefusal(const TextRefusal&) = delete;
    TextRefusal& operator=(const TextRefusal&) = delete;
    int Refused() const
    {
        return refused_;
    }

private:
    static LRESULT CALLBACK Refuse(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_SETTEXT) {
            ++active->refused_;
            return FALSE;
        }
        return CallWindowProcW(active->previous_, window, message, wParam, lParam);
    }

    static inline TextRefusal* active = nullptr;
    HWND edit_;
    WNDPROC previous_;
    int refused_ = 0;
};

BOOL WINAPI RefuseProtection(LPVOID, DWORD, DWORD)
{
    return FALSE;
}

// Stands in for the system's protection where the test needs it to succeed
// whatever Wine provides: the byte sums of the records are still checked.
BOOL WINAPI AllowProtection(LPVOID, DWORD, DWORD)
{
    return TRUE;
}

std::vector<std::uint8_t> Utf16Bytes(const std::u16string& text)
{
    std::vector<std::uint8_t> bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

// A container of an older generation, as earlier versions wrote them.
ContainerPlan OlderContainer(const std::string& text, const std::u16string& password)
{
    ContainerPlan plan;
    plan.generation = 1;
    plan.layoutVersion = 512;
    plan.mixRounds = 4096 + 3000;
    plan.stirRounds = plan.mixRounds;
    plan.scheduleRounds = 256 + 500;
    plan.password = password;
    plan.text = bytesOf(text);
    return plan;
}

class DataLoss : public Documents {
protected:
    void TearDown() override
    {
        Documents::TearDown();
        resetFaults();
        refuseJobThreads(0);
    }
    // Opens a container through the Open command with its password.
    void OpenContainer(const std::string& name, const std::wstring& password)
    {
        const std::vector<DialogReport> seen = Open(Path(name), {EnterPassword(password)});
        ASSERT_EQ(seen.size(), 2u);
        ASSERT_TRUE(Idle());
    }
};

// ---------------------------------------------------------------- closing

struct CloseCase {
    const char* label;
    bool exitCommand;  // File > Exit; otherwise the window's close
};

class CloseAfterAFailedSave : public DataLoss, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseAfterAFailedSave, ShowsTheErrorAsksAgainAndLosesNothing)
{
    StartEditor();
    const std::wstring text = L"the only copy of this text";
    SetEditText(text.c_str(), true);
    armFault(FAULT_WRITE, 1, true);
    DialogResponder responder(uiThread(), app()->findDialog,
                              {Press(IDOK), SelectPassword(L"pw", L"pw", L""), ChooseFile(Path("kept.vtxt")),
                               Acknowledge(), Press(IDCANCEL)});
    if (GetParam().exitCommand) {
        SendMessageW(main(), WM_COMMAND, IDM_EXIT, 0);
    } else {
        PostMessageW(main(), WM_CLOSE, 0, 0);
    }
    EXPECT_TRUE(PumpUntil([&]() { return responder.Answered() == 5 && Idle(); }));
    resetFaults();
    const std::vector<DialogReport> seen = responder.Finish();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].text, L"Do you want to save changes?");
    EXPECT_EQ(seen[3].text, L"File write failed.");
    EXPECT_EQ(seen[4].text, L"Do you want to save changes?");
    EXPECT_TRUE(IsWindow(main()));
    EXPECT_EQ(EditText(), text);
    EXPECT_TRUE(Modified());
    EXPECT_TRUE(listDirectory(dir_).empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, CloseAfterAFailedSave,
                         ::testing::Values(CloseCase{"Exit", true}, CloseCase{"CloseBox", false}),
                         [](const ::testing::TestParamInfo<CloseCase>& c) { return std::string(c.param.label); });

// A file with other names (hard links) is not split by a save: the names
// would keep the old text and its old password. The save is refused with a
// message that says why, and both names keep the file as it was.
TEST_F(DataLoss, SaveOfAFileWithOtherNamesIsRefusedAndSaysWhy)
{
    WriteContainer(Path("linked.vtxt"), "the text both names share", L"pw", L"");
    ASSERT_TRUE(CreateHardLinkW(Wide(Path("other name.vtxt")).c_str(), Wide(Path("linked.vtxt")).c_str(), nullptr));
    StartEditor();
    OpenContainer("linked.vtxt", L"pw");
    SetEditText(L"a change that must not split the file", true);
    const std::vector<DialogReport> seen = Run(IDM_SAVE, {Acknowledge()});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, L"Save Error");
    EXPECT_NE(seen[0].text.find(L"hard links"), std::wstring::npos) << Utf8(seen[0].text);
    EXPECT_EQ(ReadContainer(Path("linked.vtxt"), L"pw").text, "the text both names share");
    EXPECT_EQ(ReadContainer(Path("other name.vtxt"), L"pw").text, "the text both names share");
    std::vector<std::string> left = listDirectory(dir_);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"linked.vtxt", "other name.vtxt"}));
    EXPECT_TRUE(Modified());
}

struct GoOnCase {
    const char* label;
    UINT command;
};

class AfterYesAndASave : public DataLoss, public ::testing::WithParamInterface<GoOnCase> {};

TEST_P(AfterYesAndASave, TheCommandGoesOn)
{
    WriteContainer(Path("other.vtxt"), "the other document", L"other pw", L"");
    StartEditor();
    SetEditText(L"first text, worth keeping", true);
    const bool open = GetParam().command == IDM_OPEN;
    std::vector<DialogResponse> responses{Press(IDOK), SelectPassword(L"pw", L"pw", L""),
                                          ChooseFile(Path("first.vtxt"))};
    if (open) {
        responses.push_back(ChooseFile(Path("other.vtxt")));
        responses.push_back(EnterPassword(L"other pw"));
    }
    const std::vector<DialogReport> seen = Run(GetParam().command, responses);
    EXPECT_EQ(seen.size(), responses.size());
    EXPECT_EQ(ReadContainer(Path("first.vtxt"), L"pw").text, "first text, worth keeping");
    EXPECT_EQ(EditText(), open ? L"the other document" : L"");
    EXPECT_EQ(WindowText(main()), open ? L"other - Tarnwick" : L"Tarnwick");
    EXPECT_FALSE(Modified());
}

INSTANTIATE_TEST_SUITE_P(Commands, AfterYesAndASave,
                         ::testing::Values(GoOnCase{"New", IDM_NEW}, GoOnCase{"Open", IDM_OPEN}),
                         [](const ::testing::TestParamInfo<GoOnCase>& c) { return std::string(c.param.label); });

// ---------------------------------------------------------------- failed opens

enum class OpenFailure { WrongPassword, DamagedHeader, NotText, RefusedContainerText, RefusedPlainText };

struct FailedOpenCase {
    const char* label;
    OpenFailure failure;
    const wchar_t* message;
};

class FailedOpenOverAContainer : public DataLoss, public ::testing::WithParamInterface<FailedOpenCase> {};

// The document in the window keeps its path, title, text, password and hint:
// a later Save writes it silently to its own file, not to the one that failed.
TEST_P(FailedOpenOverAContainer, KeepsTheDocumentAndItsSilentSave)
{
    const FailedOpenCase& c = GetParam();
    WriteContainer(Path("alpha.vtxt"), "alpha text, long enough", L"alpha pw", L"alpha hint");
    std::string other = "beta.vtxt";
    std::vector<DialogResponse> responses;
    switch (c.failure) {
        case OpenFailure::WrongPassword:
            WriteContainer(Path(other), "beta text", L"beta pw", L"");
            responses = {EnterPassword(RefusedPassword(Path(other), L"Beta pw"))};
            break;
        case OpenFailure::DamagedHeader: {
            WriteContainer(Path(other), "beta text", L"beta pw", L"a hint");
            std::vector<std::uint8_t> bytes = readBytes(Path(other));
            bytes[608] ^= 0x01;  // a letter of the hint: only the header checksum can tell
            writeBytes(Path(other), bytes);
            break;
        }
        case OpenFailure::NotText:
            other = "beta.bin";
            writeBytes(Path(other), Bytes({0x89, 'P', 'N', 'G', 0, 0, 0, 0x0D, 0, 0x01, 0x02, 0x00}));
            break;
        case OpenFailure::RefusedContainerText:
            WriteContainer(Path(other), "beta text", L"beta pw", L"");
            responses = {EnterPassword(L"beta pw")};
            break;
        case OpenFailure::RefusedPlainText:
            other = "beta.txt";
            writeBytes(Path(other), Ascii("beta, plain"));
            break;
    }
    const std::vector<std::uint8_t> otherBefore = readBytes(Path(other));
    responses.insert(responses.begin(), ChooseFile(Path(other)));
    responses.push_back(Acknowledge());

    StartEditor();
    OpenContainer("alpha.vtxt", L"alpha pw");
    std::vector<DialogReport> seen;
    if (c.failure == OpenFailure::RefusedContainerText || c.failure == OpenFailure::RefusedPlainText) {
        TextRefusal refusal(edit());
        seen = Run(IDM_OPEN, responses);
        EXPECT_EQ(refusal.Refused(), 1);
    } else {
        seen = Run(IDM_OPEN, responses);
    }
    ASSERT_EQ(seen.size(), responses.size());
    EXPECT_EQ(seen.back().text, c.message);
    EXPECT_EQ(WindowText(main()), L"alpha - Tarnwick");
    EXPECT_EQ(EditText(), L"alpha text, long enough");
    EXPECT_FALSE(Modified());

    SetEditText(L"alpha, changed after the failed open", true);
    EXPECT_TRUE(Run(IDM_SAVE, {}).empty());  // no dialog: the silent save of alpha
    const ContainerContent alpha = ReadContainer(Path("alpha.vtxt"), L"alpha pw");
    EXPECT_EQ(alpha.code, RESULT_OK);
    EXPECT_EQ(alpha.text, "alpha, changed after the failed open");
    EXPECT_EQ(alpha.hint, L"alpha hint");
    EXPECT_EQ(readBytes(Path(other)), otherBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailedOpenOverAContainer,
    ::testing::Values(
        FailedOpenCase{"WrongPassword", OpenFailure::WrongPassword, L"The password you have entered is incorrect."},
        FailedOpenCase{"DamagedHeader", OpenFailure::DamagedHeader, L"Checksum failed. The file may be corrupt."},
        FailedOpenCase{"NotText", OpenFailure::NotText, L"The file is not a text file."},
        FailedOpenCase{"RefusedContainerText", OpenFailure::RefusedContainerText, L"Memory allocation failed."},
        FailedOpenCase{"RefusedPlainText", OpenFailure::RefusedPlainText, L"Memory allocation failed."}),
    [](const ::testing::TestParamInfo<FailedOpenCase>& c) { return std::string(c.param.label); });

TEST_F(DataLoss, CancelledEnterPasswordInAnInteractiveOpenChangesNothing)
{
    WriteContainer(Path("alpha.vtxt"), "alpha text", L"pw", L"");
    StartEditor();
    SetEditText(L"my unsaved words", true);
    const std::vector<DialogReport> seen =
        Run(IDM_OPEN, {Press(IDNO), ChooseFile(Path("alpha.vtxt")), Press(IDCANCEL)});
    ASSERT_EQ(seen.size(), 3u);  // no message
    EXPECT_EQ(seen[2].caption, L"Enter Password");
    EXPECT_TRUE(IsWindow(main()));
    EXPECT_EQ(EditText(), L"my unsaved words");
    EXPECT_TRUE(Modified());
    EXPECT_EQ(WindowText(main()), L"Tarnwick");
    EXPECT_EQ(app()->passwordEntry.password[0], L'\0');
}

// ---------------------------------------------------------------- plain files at the load limit

struct LoadLimitCase {
    const char* label;
    std::size_t size;
    bool partial;
};

class PlainFileAtTheLoadLimit : public DataLoss, public ::testing::WithParamInterface<LoadLimitCase> {};

// Lines of 16 KiB with CR LF: the text holds as many characters as bytes, and
// few lines keep the edit control's work (and the test's time) down.
std::vector<std::uint8_t> PlainLines(std::size_t size)
{
    std::string line;
    while (line.size() < 16382) {
        line += "The plain file goes on and on. ";
    }
    line.resize(16382);
    line += "\r\n";
    std::vector<std::uint8_t> bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        bytes.push_back(static_cast<std::uint8_t>(line[bytes.size() % line.size()]));
    }
    return bytes;
}

TEST_P(PlainFileAtTheLoadLimit, LoadsWholeOrAsANewDocumentThatCannotOverwriteIt)
{
    constexpr std::size_t LOADED = 8388608;
    const std::vector<std::uint8_t> bytes = PlainLines(GetParam().size);
    writeBytes(Path("big.txt"), bytes);
    StartEditor();
    runTimeoutMs_ = 120000;  // 8 MiB into the edit control takes seconds under Wine
    const std::vector<DialogReport> seen = Open(Path("big.txt"), {Acknowledge()});
    const std::wstring text = FullText();
    ASSERT_EQ(text.size(), LOADED);
    EXPECT_TRUE(std::equal(text.begin(), text.end(), bytes.begin()));
    if (!GetParam().partial) {
        EXPECT_EQ(seen.size(), 1u);  // the Open dialog alone
        EXPECT_EQ(WindowText(main()), L"big.txt - Tarnwick");
        EXPECT_FALSE(Modified());
        return;
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].caption, L"File Too Large");
    EXPECT_NE(seen[1].text.find(L"8,388,608"), std::wstring::npos) << Utf8(seen[1].text);
    EXPECT_NE(seen[1].text.find(L"10,485,760"), std::wstring::npos) << Utf8(seen[1].text);
    EXPECT_EQ(seen[1].owner, main());
    // A new, changed document: Save asks for a name, and the file stays whole.
    EXPECT_EQ(WindowText(main()), L"Tarnwick");
    EXPECT_TRUE(Modified());
    const std::vector<DialogReport> save = Run(IDM_SAVE, {Press(IDCANCEL)});
    ASSERT_EQ(save.size(), 1u);
    EXPECT_EQ(save[0].caption, L"Select Password");
    EXPECT_EQ(readBytes(Path("big.txt")), bytes);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PlainFileAtTheLoadLimit,
                         ::testing::Values(LoadLimitCase{"Exactly8MiB", 8388608, false},
                                           LoadLimitCase{"TenMiB", 10485760, true}),
                         [](const ::testing::TestParamInfo<LoadLimitCase>& c) { return std::string(c.param.label); });

// ---------------------------------------------------------------- containers Save must not rewrite silently

struct AskingSaveCase {
    const char* label;
    const char* file;
    bool older;  // an older generation with a 4-byte text; otherwise a current container
};

class SaveThatMustAsk : public DataLoss, public ::testing::WithParamInterface<AskingSaveCase> {};

TEST_P(SaveThatMustAsk, OpensSaveAsAndLeavesTheFile)
{
    const AskingSaveCase& c = GetParam();
    if (c.older) {
        writeBytes(Path(c.file), writeContainerBytes(OlderContainer("tiny", u"pw")));
    } else {
        WriteContainer(Path(c.file), "an old container's text", L"pw", L"");
    }
    const std::vector<std::uint8_t> before = readBytes(Path(c.file));
    StartEditor();
    OpenContainer(c.file, L"pw");
    EXPECT_EQ(EditText(), c.older ? L"tiny" : L"an old container's text");
    SetEditText(L"changed", true);
    const std::vector<DialogReport> seen = Run(IDM_SAVE, {Press(IDCANCEL)});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, L"Select Password");
    EXPECT_EQ(readBytes(Path(c.file)), before);
    EXPECT_TRUE(Modified());
}

INSTANTIATE_TEST_SUITE_P(Documents, SaveThatMustAsk,
                         ::testing::Values(AskingSaveCase{"Kzx", "old.kzx", false},
                                           AskingSaveCase{"ShortStoredText", "short.vtxt", true}),
                         [](const ::testing::TestParamInfo<AskingSaveCase>& c) { return std::string(c.param.label); });

// ---------------------------------------------------------------- UTF-16 containers

struct WideEntryCase {
    const char* label;
    std::u16string entryName;
    std::vector<std::uint8_t> stored;
    const wchar_t* shown;
};

class WideEntryContainer : public DataLoss, public ::testing::WithParamInterface<WideEntryCase> {};

TEST_P(WideEntryContainer, OpensAsItsEntryNameSays)
{
    ContainerPlan plan;
    plan.password = u"pw";
    plan.entryName = GetParam().entryName;
    plan.text = GetParam().stored;
    writeBytes(Path("wide.vtxt"), writeContainerBytes(plan));
    StartEditor();
    OpenContainer("wide.vtxt", L"pw");
    EXPECT_EQ(EditText(), GetParam().shown);
    EXPECT_EQ(WindowText(main()), L"wide - Tarnwick");
    EXPECT_FALSE(Modified());
}

std::vector<std::uint8_t> WithOddByte(std::vector<std::uint8_t> bytes)
{
    bytes.push_back('!');
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(Entries, WideEntryContainer,
                         ::testing::Values(WideEntryCase{"Utf16", u"vellic_w.txt",
                                                         Utf16Bytes(u"UTF-16 text \u00E9 \u263A\r\nline two"),
                                                         L"UTF-16 text \u00E9 \u263A\r\nline two"},
                                           // The odd last byte is not half a character: floor(size / 2) units load.
                                           WideEntryCase{"Utf16OddSize", u"vellic_w.txt",
                                                         WithOddByte(Utf16Bytes(u"even part")), L"even part"},
                                           // Only the exact name marks UTF-16; another case is UTF-8 text.
                                           WideEntryCase{"OtherLetterCase", u"Vellic_W.txt",
                                                         bytesOf("h\xC3\xA9llo, UTF-8"), L"h\u00E9llo, UTF-8"}),
                         [](const ::testing::TestParamInfo<WideEntryCase>& c) { return std::string(c.param.label); });

// ---------------------------------------------------------------- memory protection

enum class PasswordDialog { Enter, Select };

struct ProtectionCase {
    const char* label;
    PasswordDialog dialog;
};

class ProtectionFailureInADialog : public DataLoss, public ::testing::WithParamInterface<ProtectionCase> {};

TEST_P(ProtectionFailureInADialog, ShowsMemoryAccessFailedAndEmptiesThePassword)
{
    const bool enter = GetParam().dialog == PasswordDialog::Enter;
    WriteContainer(Path("alpha.vtxt"), "alpha text", L"pw", L"alpha hint");
    StartEditor();
    SetEditText(L"before", false);
    app()->protectMemoryFn = RefuseProtection;
    app()->unprotectMemoryFn = AllowProtection;
    const std::vector<int> fields =
        enter ? std::vector<int>{IDC_PASSWORD} : std::vector<int>{IDC_NEW_PASSWORD, IDC_CONFIRM_PASSWORD};
    DialogReport message;
    std::vector<std::wstring> after;
    const DWORD ui = uiThread();
    const DialogResponse typeThenCancel = [&](HWND dialog) {
        for (int id : fields) {
            SetDlgItemTextW(dialog, id, L"pw");
        }
        ClickButton(dialog, IDOK);
        HWND shown = nullptr;
        WaitFor([&]() { return (shown = FindOwnedDialog(ui, dialog)) != nullptr; });
        message.found = shown != nullptr;
        message.caption = WindowText(shown);
        message.text = DialogItemText(shown, IDC_MESSAGE_TEXT);
        ClickButton(shown, IDOK);
        WaitFor([&]() { return !IsWindow(shown); });
        for (int id : fields) {
            after.push_back(DialogItemText(dialog, id));
        }
        ClickButton(dialog, IDCANCEL);
    };
    if (enter) {
        Run(IDM_OPEN, {ChooseFile(Path("alpha.vtxt")), typeThenCancel});
    } else {
        Run(IDM_SAVE_AS, {typeThenCancel});
    }
    ASSERT_TRUE(message.found);
    EXPECT_EQ(message.caption, L"Memory Error");
    EXPECT_EQ(message.text, L"Memory access failed.");
    EXPECT_EQ(after, std::vector<std::wstring>(fields.size(), L""));
    EXPECT_EQ(EditText(), L"before");
    EXPECT_EQ(WindowText(main()), L"Tarnwick");
    EXPECT_EQ(listDirectory(dir_).size(), 1u);  // alpha alone
    EXPECT_EQ(app()->passwordEntry.password[0], L'\0');
}

INSTANTIATE_TEST_SUITE_P(Dialogs, ProtectionFailureInADialog,
                         ::testing::Values(ProtectionCase{"EnterPassword", PasswordDialog::Enter},
                                           ProtectionCase{"SelectPassword", PasswordDialog::Select}),
                         [](const ::testing::TestParamInfo<ProtectionCase>& c) { return std::string(c.param.label); });

TEST_F(DataLoss, ProtectionFailureInASaveDropsTheRememberedPassword)
{
    WriteContainer(Path("alpha.vtxt"), "alpha text, long enough", L"pw", L"");
    StartEditor();
    app()->protectMemoryFn = AllowProtection;
    app()->unprotectMemoryFn = AllowProtection;
    OpenContainer("alpha.vtxt", L"pw");
    // The protected password no longer sums up: as if its memory had been damaged.
    app()->rememberedPassword.password[0] ^= 1;
    SetEditText(L"changed", true);
    const std::vector<DialogReport> seen = Run(IDM_SAVE, {Press(IDOK)});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, L"Memory access failed.");
    EXPECT_EQ(ReadContainer(Path("alpha.vtxt"), L"pw").text, "alpha text, long enough");
    EXPECT_TRUE(Modified());
    const std::vector<DialogReport> again = Run(IDM_SAVE, {Press(IDCANCEL)});
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].caption, L"Select Password");
}

// ---------------------------------------------------------------- what cannot be created

TEST_F(DataLoss, AJobThreadThatCannotStartIsReportedAndTheDeferredCommandStillRuns)
{
    StartEditor();
    SetEditText(L"to be saved", true);
    refuseJobThreads(1);
    HWND window = main();
    // Word Wrap given while Select Password is up waits for the command.
    const DialogResponse wrapThenSelect = [window](HWND dialog) {
        PostMessageW(window, WM_COMMAND, IDM_WORD_WRAP, 0);
        SelectPassword(L"pw", L"pw", L"")(dialog);
    };
    const std::vector<DialogReport> seen =
        Run(IDM_SAVE_AS, {wrapThenSelect, ChooseFile(Path("saved.vtxt")), Acknowledge()});
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].text, L"Thread creation failed.");
    EXPECT_TRUE(PumpUntil([this]() { return app()->wordWrap == 1u; }));
    EXPECT_EQ(EditText(), L"to be saved");
    EXPECT_TRUE(Modified());
    EXPECT_TRUE(listDirectory(dir_).empty());
}

TEST_F(DataLoss, WordWrapWithoutANewEditControlKeepsTheOldOneAndItsText)
{
    StartEditor();
    std::wstring text;
    while (text.size() < 20000) {
        text += L"a line that must survive the word wrap toggle\r\n";
    }
    SetEditText(text.c_str(), true);
    HWND before = edit();
    std::vector<DialogReport> seen;
    {
        WindowCreationRefusal refusal(L"Edit");
        DialogResponder responder(uiThread(), app()->findDialog, {Acknowledge()});
        Command(IDM_WORD_WRAP);
        seen = responder.Finish();
        EXPECT_EQ(refusal.Refused(), 1);
    }
    PumpQueued();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, L"Window creation failed.");
    ASSERT_TRUE(IsWindow(main()));
    EXPECT_EQ(app()->runState, RUN_IDLE);
    EXPECT_EQ(edit(), before);
    EXPECT_TRUE(FullText() == text);
    EXPECT_TRUE(Modified());
    EXPECT_EQ(app()->wordWrap, 0u);

    // Once a control can be made again, the toggle carries text and flag over.
    Command(IDM_WORD_WRAP);
    EXPECT_EQ(app()->wordWrap, 1u);
    EXPECT_NE(edit(), before);
    EXPECT_FALSE(IsWindow(before));
    EXPECT_EQ(GetDlgItem(main(), IDC_EDIT), edit());
    EXPECT_TRUE(FullText() == text);
    EXPECT_TRUE(Modified());
}

struct DialogFailureCase {
    const char* label;
    const wchar_t* caption;
};

class PasswordDialogThatCannotBeShown : public DataLoss, public ::testing::WithParamInterface<DialogFailureCase> {};

TEST_P(PasswordDialogThatCannotBeShown, IsAFailureNeverAnEmptyPassword)
{
    const bool open = std::wstring(GetParam().caption) == L"Enter Password";
    WriteContainer(Path("alpha.vtxt"), "alpha text", L"pw", L"");
    StartEditor();
    SetEditText(L"unsaved words", true);
    std::vector<DialogReport> seen;
    {
        WindowCreationRefusal refusal(L"#32770", GetParam().caption);
        seen = open ? Run(IDM_OPEN, {Press(IDNO), ChooseFile(Path("alpha.vtxt")), Acknowledge()})
                    : Run(IDM_SAVE_AS, {Acknowledge()});
        EXPECT_EQ(refusal.Refused(), 1);
    }
    ASSERT_EQ(seen.size(), open ? 3u : 1u);
    EXPECT_EQ(seen.back().text, L"Window creation failed.");
    EXPECT_EQ(EditText(), L"unsaved words");
    EXPECT_TRUE(Modified());
    EXPECT_EQ(WindowText(main()), L"Tarnwick");
    EXPECT_EQ(listDirectory(dir_).size(), 1u);  // nothing saved beside alpha
    EXPECT_TRUE(Idle());
}

INSTANTIATE_TEST_SUITE_P(Dialogs, PasswordDialogThatCannotBeShown,
                         ::testing::Values(DialogFailureCase{"SelectPassword", L"Select Password"},
                                           DialogFailureCase{"EnterPassword", L"Enter Password"}),
                         [](const ::testing::TestParamInfo<DialogFailureCase>& c) {
                             return std::string(c.param.label);
                         });

}  // namespace
