// The editor's main job end to end: new documents saved as containers through
// the password and Save As dialogs, containers and plain files opened through
// the Open dialog and the command line, silent re-saves, failed saves, the
// unsaved-changes prompt at close and at log-off, and commands given while a
// job runs.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "gui/document_fixture.h"
#include "gui/gui_harness.h"
#include "jobs/document_jobs.h"
#include "platform/secure_wipe.h"
#include "resources/resource.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

TEST_F(Documents, SaveAsOfANewDocumentWritesAContainerAndRetitles)
{
    StartEditor();
    SetEditText(L"Dear diary,\r\nnothing happened. \x00E9t\x00E9 \x263A", true);
    const std::vector<DialogReport> seen = SaveAs(Path("notes"), L"Pa55 word", L"favourite colour");

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].caption, L"Select Password");
    EXPECT_EQ(seen[0].owner, main());
    EXPECT_EQ(seen[1].owner, main());
    // The dialog added the default extension.
    ASSERT_TRUE(fileExists(Path("notes.vtxt")));
    const ContainerContent content = ReadContainer(Path("notes.vtxt"), L"Pa55 word");
    EXPECT_EQ(content.code, RESULT_OK);
    EXPECT_EQ(content.text, "Dear diary,\r\nnothing happened. \xC3\xA9t\xC3\xA9 \xE2\x98\xBA");
    EXPECT_EQ(content.hint, L"favourite colour");
    const std::vector<std::uint8_t> stored = readBytes(Path("notes.vtxt"));
    const std::string diary = "Dear diary";
    EXPECT_TRUE(std::search(stored.begin(), stored.end(), diary.begin(), diary.end()) == stored.end());

    EXPECT_EQ(WindowText(main()), L"notes - Tarnwick");
    EXPECT_FALSE(Modified());
    // No temporary file is left beside it.
    EXPECT_EQ(listDirectory(dir_).size(), 1u);
    // Editable again after the save.
    EXPECT_EQ(GetWindowLongW(edit(), GWL_STYLE) & ES_READONLY, 0);
}

TEST_F(Documents, OpenShowsTheHintAndSaveRewritesSilently)
{
    WriteContainer(Path("letter.vtxt"), "first version", L"secret", L"the usual one");
    StartEditor();
    std::wstring hint;
    std::vector<DialogReport> seen = Open(Path("letter.vtxt"), {EnterPassword(L"secret", &hint)});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].caption, L"Enter Password");
    EXPECT_EQ(hint, L"the usual one");
    EXPECT_EQ(EditText(), L"first version");
    EXPECT_EQ(WindowText(main()), L"letter - Tarnwick");
    EXPECT_FALSE(Modified());

    SetEditText(L"second version, longer", true);
    seen = Run(IDM_SAVE, {});
    EXPECT_TRUE(seen.empty());  // no dialog at all
    const ContainerContent content = ReadContainer(Path("letter.vtxt"), L"secret");
    EXPECT_EQ(content.code, RESULT_OK);
    EXPECT_EQ(content.text, "second version, longer");
    EXPECT_EQ(content.hint, L"the usual one");
    EXPECT_FALSE(Modified());
    EXPECT_EQ(WindowText(main()), L"letter - Tarnwick");
}

TEST_F(Documents, WrongPasswordIsReportedAndTheOldTextStays)
{
    WriteContainer(Path("letter.vtxt"), "locked away", L"secret", L"");
    StartEditor();
    SetEditText(L"what I was writing", true);
    std::wstring hint = L"unset";
    // No: the unsaved text is not saved, then the open fails.
    const std::vector<DialogReport> seen =
        Run(IDM_OPEN, {Press(IDNO), ChooseFile(Path("letter.vtxt")),
                       EnterPassword(RefusedPassword(Path("letter.vtxt"), L"Secret"), &hint), Press(IDOK)});
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(hint, L"");
    EXPECT_EQ(seen[3].text, L"The password you have entered is incorrect.");
    EXPECT_EQ(seen[3].owner, main());
    EXPECT_EQ(EditText(), L"what I was writing");
    EXPECT_EQ(WindowText(main()), L"Tarnwick");
    EXPECT_EQ(ReadContainer(Path("letter.vtxt"), L"secret").text, "locked away");
}

TEST_F(Documents, SelectPasswordMismatchEmptiesBothFieldsAndKeepsTheHint)
{
    StartEditor();
    SetEditText(L"unsaved", true);
    DialogReport mismatch;
    const DWORD ui = uiThread();
    std::wstring password = L"x";
    std::wstring confirm = L"x";
    std::wstring hint;
    const std::vector<DialogReport> seen =
        Run(IDM_SAVE_AS, {[&](HWND dialog) {
                SetDlgItemTextW(dialog, IDC_NEW_PASSWORD, L"Same");
                SetDlgItemTextW(dialog, IDC_CONFIRM_PASSWORD, L"same");
                SetDlgItemTextW(dialog, IDC_HINT, L"case matters");
                ClickButton(dialog, IDOK);
                HWND message = nullptr;
                WaitFor([&]() { return (message = FindOwnedDialog(ui, dialog)) != nullptr; });
                mismatch.found = message != nullptr;
                mismatch.caption = WindowText(message);
                mismatch.text = DialogItemText(message, IDC_MESSAGE_TEXT);
                ClickButton(message, IDOK);
                WaitFor([&]() { return !IsWindow(message); });
                password = DialogItemText(dialog, IDC_NEW_PASSWORD);
                confirm = DialogItemText(dialog, IDC_CONFIRM_PASSWORD);
                hint = DialogItemText(dialog, IDC_HINT);
                ClickButton(dialog, IDCANCEL);
            }});
    ASSERT_TRUE(mismatch.found);
    EXPECT_EQ(mismatch.caption, L"Password Error");
    EXPECT_EQ(mismatch.text, L"Password and Confirm do not match. Try again.");
    EXPECT_EQ(password, L"");
    EXPECT_EQ(confirm, L"");
    EXPECT_EQ(hint, L"case matters");
    // Cancelled: nothing written, nothing changed.
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_TRUE(listDirectory(dir_).empty());
    EXPECT_TRUE(Modified());
    EXPECT_EQ(WindowText(main()), L"Tarnwick");
}

TEST_F(Documents, ShowRevealsBothPasswordFieldsAndReturnsToTheConfirmation)
{
    StartEditor();
    wchar_t masks[2][2] = {};
    const DWORD ui = uiThread();
    bool focusBack = false;
    Run(IDM_SAVE_AS, {[&](HWND dialog) {
            HWND password = GetDlgItem(dialog, IDC_NEW_PASSWORD);
            HWND confirm = GetDlgItem(dialog, IDC_CONFIRM_PASSWORD);
            SetDlgItemTextW(dialog, IDC_NEW_PASSWORD, L"abc");
            SetDlgItemTextW(dialog, IDC_CONFIRM_PASSWORD, L"abcdef");
            GUITHREADINFO info{};
            info.cbSize = sizeof info;
            // The dialog starts in the password field, once it is active (an
            // activation that comes late puts the focus back where the dialog
            // began); the user then moves to the confirmation and selects part of it.
            WaitFor([&]() {
                return GetGUIThreadInfo(ui, &info) && info.hwndActive == dialog && info.hwndFocus == password;
            });
            SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(confirm), TRUE);
            WaitFor([&]() { return GetGUIThreadInfo(ui, &info) && info.hwndFocus == confirm; });
            SendMessageW(confirm, EM_SETSEL, 2, 4);
            masks[0][0] = static_cast<wchar_t>(SendMessageW(password, EM_GETPASSWORDCHAR, 0, 0));
            SendMessageW(GetDlgItem(dialog, IDC_SHOW_PASSWORD), BM_CLICK, 0, 0);
            focusBack = WaitFor([&]() {
                DWORD start = 0;
                DWORD end = 0;
                SendMessageW(confirm, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
                return GetGUIThreadInfo(ui, &info) && info.hwndFocus == confirm && start == 2 && end == 4;
            });
            masks[1][0] = static_cast<wchar_t>(SendMessageW(password, EM_GETPASSWORDCHAR, 0, 0));
            masks[1][1] = static_cast<wchar_t>(SendMessageW(confirm, EM_GETPASSWORDCHAR, 0, 0));
            SendMessageW(GetDlgItem(dialog, IDC_SHOW_PASSWORD), BM_CLICK, 0, 0);
            masks[0][1] = static_cast<wchar_t>(SendMessageW(confirm, EM_GETPASSWORDCHAR, 0, 0));
            ClickButton(dialog, IDCANCEL);
        }});
    EXPECT_EQ(masks[0][0], L'\x25CF');
    EXPECT_EQ(masks[1][0], L'\0');
    EXPECT_EQ(masks[1][1], L'\0');
    EXPECT_EQ(masks[0][1], L'\x25CF');
    EXPECT_TRUE(focusBack);
}

struct PlainCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const wchar_t* text;     // expected in the editor; null when refused
    const wchar_t* message;  // expected message when refused
};

class PlainFiles : public Documents, public ::testing::WithParamInterface<PlainCase> {};

TEST_P(PlainFiles, OpenAsTextOrAreRefused)
{
    const PlainCase& c = GetParam();
    writeBytes(Path(c.name), c.bytes);
    StartEditor();
    SetEditText(L"before", false);
    const std::vector<DialogReport> seen = Open(Path(c.name));
    if (c.text != nullptr) {
        ASSERT_EQ(seen.size(), 1u);  // the Open dialog only: no password for plain text
        EXPECT_EQ(EditText(), c.text);
        EXPECT_EQ(WindowText(main()), Wide(c.name) + L" - Tarnwick");
        EXPECT_FALSE(Modified());
    } else {
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[1].text, c.message);
        EXPECT_EQ(EditText(), L"before");
        EXPECT_EQ(WindowText(main()), L"Tarnwick");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Documents, PlainFiles,
    ::testing::Values(
        PlainCase{"marked.txt", Bytes({0xEF, 0xBB, 0xBF, 'h', 0xC3, 0xA9, 'l', 'l', 'o', '\r', '\n'}),
                  L"h\x00E9llo\r\n", nullptr},
        PlainCase{"unmarked.txt", Bytes({'h', 0xC3, 0xA9, 'l', 'l', 'o', ' ', 0xE2, 0x82, 0xAC}), L"h\x00E9llo \x20AC",
                  nullptr},
        PlainCase{"little.txt", Bytes({0xFF, 0xFE, 'a', 0, 0xAC, 0x20, '\r', 0, '\n', 0, 'z', 0}), L"a\x20AC\r\nz",
                  nullptr},
        PlainCase{"big.txt", Bytes({0xFE, 0xFF, 0, 'a', 0x20, 0xAC, 0, '\r', 0, '\n', 0, 'z'}), L"a\x20AC\r\nz",
                  nullptr},
        PlainCase{"unix.txt", Ascii("one\ntwo\n\nthree"), L"one\r\ntwo\r\n\r\nthree", nullptr},
        PlainCase{"letter.vtxt", Ascii("Not a container at all.\r\n"), L"Not a container at all.\r\n", nullptr},
        PlainCase{"picture.bin", Bytes({0x89, 'P', 'N', 'G', 0, 0, 0, 0x0D, 0, 0x01, 0x02, 0x00, 0x00, 0x03}), nullptr,
                  L"The file is not a text file."}),
    [](const ::testing::TestParamInfo<PlainCase>& test) {
        std::string name;
        for (const char* p = test.param.name; *p != '\0' && *p != '.'; ++p) {
            name += *p;
        }
        return name;
    });

TEST_F(Documents, ContainerWithADamagedHeaderIsRefused)
{
    WriteContainer(Path("letter.vtxt"), "intact text", L"pw", L"a hint");
    std::vector<std::uint8_t> bytes = readBytes(Path("letter.vtxt"));
    bytes[608] ^= 0x01;  // a letter of the hint: only the header checksum can tell
    writeBytes(Path("letter.vtxt"), bytes);
    StartEditor();
    SetEditText(L"before", false);
    const std::vector<DialogReport> seen = Open(Path("letter.vtxt"));
    ASSERT_EQ(seen.size(), 2u);  // no password asked
    EXPECT_EQ(seen[1].text, L"Checksum failed. The file may be corrupt.");
    EXPECT_EQ(EditText(), L"before");
}

TEST_F(Documents, ContainerOverTheSizeLimitIsRefusedBeforeThePassword)
{
    WriteContainer(Path("huge.vtxt"), "a text longer than the short-text block of the header", L"pw", L"");
    std::vector<std::uint8_t> bytes = readBytes(Path("huge.vtxt"));
    ContainerHeader header{};
    loadHeader(bytes.data(), &header);
    header.plainSizeLow = 0x8000001;  // one byte over 128 MiB
    header.shuffleLevel = 0;          // the weighted size alone would pass
    header.blockSize = chooseBlockSize(0x8000001);
    header.headerChecksum = computeHeaderChecksum(header);
    storeHeader(header, bytes.data());
    writeBytes(Path("huge.vtxt"), bytes);
    StartEditor();
    const std::vector<DialogReport> seen = Open(Path("huge.vtxt"));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].text, L"The file exceeds the size and/or sanity limit.");
}

struct LimitCase {
    double megabytes;
    std::uint32_t shuffleLevel;
    bool within;
};

class MemoryLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(MemoryLimit, WeighsTheSizeByTheShuffleLevel)
{
    ContainerHeader header{};
    const auto bytes = static_cast<std::uint64_t>(GetParam().megabytes * 1048576.0);
    header.plainSizeLow = static_cast<std::uint32_t>(bytes);
    header.plainSizeHigh = static_cast<std::uint32_t>(bytes >> 32);
    header.shuffleLevel = GetParam().shuffleLevel;
    EXPECT_EQ(withinMemoryLimit(header), GetParam().within);
}

INSTANTIATE_TEST_SUITE_P(Documents, MemoryLimit,
                         ::testing::Values(LimitCase{600, 0, true}, LimitCase{600, 1, false},
                                           LimitCase{1024.4, 0, true}, LimitCase{1024.5, 0, false},
                                           LimitCase{128, 7, true}, LimitCase{128, 8, false}, LimitCase{4096, 0, false},
                                           LimitCase{0, 0xFFFFFFFF, true}));

TEST_F(Documents, CloseWithUnsavedChangesYesSavesThenCloses)
{
    StartEditor();
    SetEditText(L"keep this text", true);
    DialogResponder responder(uiThread(), app()->findDialog,
                              {Press(IDOK), SelectPassword(L"pw", L"pw", L""), ChooseFile(Path("kept.vtxt"))});
    PostMessageW(main(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(PumpUntil([this]() { return app()->runState == RUN_CLOSED; }));
    const std::vector<DialogReport> seen = responder.Finish();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].text, L"Do you want to save changes?");
    EXPECT_EQ(ReadContainer(Path("kept.vtxt"), L"pw").text, "keep this text");
    EXPECT_FALSE(IsWindow(main()));
}

TEST_F(Documents, CloseWithUnsavedChangesNoClosesAndCancelStays)
{
    StartEditor();
    SetEditText(L"throw away", true);
    {
        DialogResponder responder(uiThread(), app()->findDialog, {Press(IDCANCEL)});
        SendMessageW(main(), WM_CLOSE, 0, 0);
        EXPECT_EQ(responder.Finish().size(), 1u);
        EXPECT_TRUE(IsWindow(main()));
        EXPECT_TRUE(Modified());
        EXPECT_EQ(EditText(), L"throw away");
    }
    DialogResponder responder(uiThread(), app()->findDialog, {Press(IDNO)});
    SendMessageW(main(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(PumpUntil([this]() { return app()->runState == RUN_CLOSED; }));
    EXPECT_EQ(responder.Finish().size(), 1u);
    EXPECT_TRUE(listDirectory(dir_).empty());
}

TEST_F(Documents, YesThenACancelledSaveAsStaysOpenAndModified)
{
    StartEditor();
    SetEditText(L"not yet saved", true);
    for (int cancelAt = 1; cancelAt <= 2; ++cancelAt) {
        std::vector<DialogResponse> responses{Press(IDOK), SelectPassword(L"pw", L"pw", L"")};
        responses.resize(static_cast<std::size_t>(cancelAt));  // the next dialog is cancelled
        DialogResponder responder(uiThread(), app()->findDialog, responses);
        SendMessageW(main(), WM_CLOSE, 0, 0);
        PumpQueued();
        const std::vector<DialogReport> seen = responder.Finish();
        EXPECT_EQ(seen.size(), static_cast<std::size_t>(cancelAt + 1));
        EXPECT_TRUE(IsWindow(main()));
        EXPECT_TRUE(Idle());
        EXPECT_TRUE(Modified());
        EXPECT_EQ(EditText(), L"not yet saved");
    }
    EXPECT_TRUE(listDirectory(dir_).empty());
}

// A text of a few MiB: its save is long enough to give commands meanwhile.
std::wstring LargeText()
{
    std::wstring text;
    const std::wstring line = L"The quick brown fox jumps over the lazy dog, again and again.\r\n";
    while (text.size() < 3u * 1024u * 1024u) {
        text += line;
    }
    return text;
}

TEST_F(Documents, CommandsDuringASaveAreDeferredAndTheLastIsReplayed)
{
    StartEditor();
    const std::wstring text = LargeText();
    SetEditText(text.c_str(), true);
    DialogResponder responder(uiThread(), app()->findDialog,
                              {SelectPassword(L"pw", L"pw", L""), ChooseFile(Path("large.vtxt"))});
    SendMessageW(main(), WM_COMMAND, IDM_SAVE_AS, 0);
    ASSERT_EQ(app()->runState, RUN_BUSY);  // the job runs
    SendMessageW(main(), WM_COMMAND, IDM_ABOUT, 0);
    SendMessageW(main(), WM_COMMAND, IDM_WORD_WRAP, 0);
    EXPECT_EQ(app()->wordWrap, 0u);  // not now
    EXPECT_TRUE(PumpUntil([this]() { return app()->wordWrap == 1u; }));
    EXPECT_EQ(responder.Finish().size(), 2u);  // About was replaced, never shown
    EXPECT_TRUE(FullText() == text);
    EXPECT_FALSE(Modified());
    EXPECT_TRUE(ReadContainer(Path("large.vtxt"), L"pw").text == Utf8(text));
}

TEST_F(Documents, CloseDuringASaveWaitsThenClosesWithoutAsking)
{
    StartEditor();
    const std::wstring text = LargeText();
    SetEditText(text.c_str(), true);
    DialogResponder responder(uiThread(), app()->findDialog,
                              {SelectPassword(L"pw", L"pw", L""), ChooseFile(Path("large.vtxt"))});
    SendMessageW(main(), WM_COMMAND, IDM_SAVE_AS, 0);
    ASSERT_EQ(app()->runState, RUN_BUSY);
    SendMessageW(main(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(main()));
    EXPECT_TRUE(PumpUntil([this]() { return app()->runState == RUN_CLOSED; }));
    EXPECT_EQ(responder.Finish().size(), 2u);  // no save-changes prompt
    EXPECT_TRUE(ReadContainer(Path("large.vtxt"), L"pw").text == Utf8(text));
}

TEST_F(Documents, CommandLinePathOpensAtStart)
{
    WriteContainer(Path("diary.vtxt"), "from the command line", L"pw", L"hint here");
    std::wstring hint;
    const std::vector<DialogReport> seen =
        StartWith(L"\"" + Wide(Path("diary.vtxt")) + L"\"", {EnterPassword(L"pw", &hint)});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(hint, L"hint here");
    EXPECT_EQ(EditText(), L"from the command line");
    EXPECT_EQ(WindowText(main()), L"diary - Tarnwick");
    EXPECT_EQ(app()->runState, RUN_IDLE);
}

enum class StartFile { Missing, Binary, Container };

struct FailedStartCase {
    const char* label;
    const char* file;
    StartFile kind;
    const wchar_t* password;  // the answer to Enter Password; null cancels it
    const wchar_t* message;   // expected message; null when none
};

class FailedCommandLineOpen : public Documents, public ::testing::WithParamInterface<FailedStartCase> {};

TEST_P(FailedCommandLineOpen, ClosesTheProgram)
{
    const FailedStartCase& c = GetParam();
    if (c.kind == StartFile::Container) {
        WriteContainer(Path(c.file), "a locked text", L"right", L"");
    } else if (c.kind == StartFile::Binary) {
        writeBytes(Path(c.file), Bytes({0x89, 'P', 'N', 'G', 0, 0, 0, 0x0D, 0, 0x01, 0x02, 0x00, 0x00, 0x03}));
    }
    std::vector<DialogResponse> responses;
    if (c.kind == StartFile::Container) {
        responses.push_back(c.password != nullptr ? EnterPassword(RefusedPassword(Path(c.file), c.password))
                                                  : Press(IDCANCEL));
    }
    responses.push_back(Press(IDOK));
    const std::vector<DialogReport> seen = StartWith(Wide(Path(c.file)), responses);
    EXPECT_TRUE(PumpUntil([this]() { return app()->runState == RUN_CLOSED; }));
    EXPECT_FALSE(IsWindow(main()));
    if (c.message != nullptr) {
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().text, c.message);
    } else {
        EXPECT_EQ(seen.size(), 1u);  // only the cancelled password prompt
    }
}

INSTANTIATE_TEST_SUITE_P(
    Documents, FailedCommandLineOpen,
    ::testing::Values(
        FailedStartCase{"missing", "missing.vtxt", StartFile::Missing, nullptr, L"The file cannot be opened."},
        FailedStartCase{"binary", "data.bin", StartFile::Binary, nullptr, L"The file is not a text file."},
        FailedStartCase{"wrongpassword", "locked.vtxt", StartFile::Container, L"wrong",
                        L"The password you have entered is incorrect."},
        FailedStartCase{"cancelled", "locked.vtxt", StartFile::Container, nullptr, nullptr}),
    [](const ::testing::TestParamInfo<FailedStartCase>& test) { return std::string(test.param.label); });

TEST_F(Documents, FailedSaveToAVanishedDirectoryKeepsTheDocumentModified)
{
    fs::create_directory(Path("gone"));
    const std::string target = joinPath(Path("gone"), "doc.vtxt");
    WriteContainer(target, "saved once, long enough", L"pw", L"");
    StartEditor();
    Open(target, {EnterPassword(L"pw")});
    ASSERT_EQ(EditText(), L"saved once, long enough");
    fs::remove_all(Path("gone"));
    SetEditText(L"changed after the directory went away", true);

    const std::vector<DialogReport> seen = Run(IDM_SAVE, {Press(IDOK)});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0].text.empty());
    EXPECT_NE(seen[0].text, L"Error");
    EXPECT_TRUE(Modified());
    EXPECT_EQ(WindowText(main()), L"doc - Tarnwick");
    // The next Save asks for a name and password again.
    const std::vector<DialogReport> again = Run(IDM_SAVE, {Press(IDCANCEL)});
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].caption, L"Select Password");
}

TEST_F(Documents, FailedSaveOverAReadOnlyFileLeavesItUnchanged)
{
    WriteContainer(Path("protected.vtxt"), "the original", L"old", L"old hint");
    const std::vector<std::uint8_t> before = readBytes(Path("protected.vtxt"));
    SetFileAttributesW(Wide(Path("protected.vtxt")).c_str(), FILE_ATTRIBUTE_READONLY);
    StartEditor();
    SetEditText(L"replacement text", true);
    // The last answer confirms the system's overwrite question, if it asks.
    const std::vector<DialogReport> seen =
        Run(IDM_SAVE_AS,
            {SelectPassword(L"new", L"new", L""), ChooseFile(Path("protected.vtxt")), Press(IDYES), Press(IDOK)});
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().text, L"The file cannot be saved.");
    EXPECT_EQ(readBytes(Path("protected.vtxt")), before);
    EXPECT_TRUE(Modified());
    EXPECT_EQ(WindowText(main()), L"Tarnwick");
    EXPECT_EQ(listDirectory(dir_).size(), 1u);
    SetFileAttributesW(Wide(Path("protected.vtxt")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Documents, NewAfterAnOpenForgetsTheDocument)
{
    WriteContainer(Path("letter.vtxt"), "some letter text", L"pw", L"");
    StartEditor();
    Open(Path("letter.vtxt"), {EnterPassword(L"pw")});
    ASSERT_EQ(WindowText(main()), L"letter - Tarnwick");
    Run(IDM_NEW, {});
    EXPECT_EQ(EditText(), L"");
    EXPECT_EQ(WindowText(main()), L"Tarnwick");
    // Save of the new document asks again instead of writing the old file.
    SetEditText(L"another", true);
    const std::vector<DialogReport> seen = Run(IDM_SAVE, {Press(IDCANCEL)});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, L"Select Password");
    EXPECT_EQ(ReadContainer(Path("letter.vtxt"), L"pw").text, "some letter text");
}

TEST_F(Documents, SaveAsProposesTheDocumentNameWithTheContainerExtension)
{
    writeBytes(Path("notes.txt"), Ascii("plain notes"));
    StartEditor();
    Open(Path("notes.txt"));
    ASSERT_EQ(EditText(), L"plain notes");
    std::wstring proposed;
    Run(IDM_SAVE_AS, {SelectPassword(L"pw", L"pw", L""), [&](HWND dialog) {
                          HWND field = nullptr;
                          WaitFor([&]() { return (field = FileNameField(dialog)) != nullptr; });
                          proposed = WindowText(field);
                          ClickButton(dialog, IDCANCEL);
                      }});
    // The dialog may show the name alone or the whole path.
    EXPECT_TRUE(proposed == L"notes.vtxt" || proposed == Wide(Path("notes.vtxt"))) << Utf8(proposed);
}

class EndSession : public Documents {
protected:
    LRESULT QueryEndSession()
    {
        return SendMessageW(main(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    }
};

TEST_F(EndSession, UnchangedDocumentLetsTheSessionEndWithoutAsking)
{
    StartEditor();
    SetEditText(L"nothing new", false);
    DialogResponder responder(uiThread(), app()->findDialog, {});
    EXPECT_EQ(QueryEndSession(), TRUE);
    EXPECT_TRUE(responder.Finish().empty());
}

TEST_F(EndSession, UnsavedChangesAskAndCancelKeepsTheSession)
{
    StartEditor();
    SetEditText(L"unsaved work", true);
    DialogResponder responder(uiThread(), app()->findDialog, {Press(IDCANCEL)});
    EXPECT_EQ(QueryEndSession(), FALSE);
    const std::vector<DialogReport> seen = responder.Finish();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, L"Do you want to save changes?");
    EXPECT_TRUE(Modified());
}

TEST_F(EndSession, NoLetsTheSessionEnd)
{
    StartEditor();
    SetEditText(L"unsaved work", true);
    DialogResponder responder(uiThread(), app()->findDialog, {Press(IDNO)});
    EXPECT_EQ(QueryEndSession(), TRUE);
    EXPECT_EQ(responder.Finish().size(), 1u);
}

TEST_F(EndSession, YesSavesBeforeTheAnswer)
{
    StartEditor();
    const std::wstring text = LargeText();
    SetEditText(text.c_str(), true);
    DialogResponder responder(uiThread(), app()->findDialog,
                              {Press(IDOK), SelectPassword(L"pw", L"pw", L""), ChooseFile(Path("kept.vtxt"))});
    EXPECT_EQ(QueryEndSession(), TRUE);
    // Answered only once the file was complete.
    EXPECT_TRUE(ReadContainer(Path("kept.vtxt"), L"pw").text == Utf8(text));
    EXPECT_FALSE(Modified());
    EXPECT_EQ(responder.Finish().size(), 3u);
    EXPECT_TRUE(Idle());
}

TEST_F(EndSession, ARunningSaveFinishesBeforeTheAnswer)
{
    StartEditor();
    const std::wstring text = LargeText();
    SetEditText(text.c_str(), true);
    DialogResponder responder(uiThread(), app()->findDialog,
                              {SelectPassword(L"pw", L"pw", L""), ChooseFile(Path("large.vtxt"))});
    SendMessageW(main(), WM_COMMAND, IDM_SAVE_AS, 0);
    ASSERT_EQ(app()->runState, RUN_BUSY);
    EXPECT_EQ(QueryEndSession(), TRUE);
    EXPECT_TRUE(ReadContainer(Path("large.vtxt"), L"pw").text == Utf8(text));
    EXPECT_EQ(responder.Finish().size(), 2u);
}

TEST_F(EndSession, AFailedSaveKeepsTheSession)
{
    StartEditor();
    SetEditText(L"cannot be saved there", true);
    WriteContainer(Path("protected.vtxt"), "the original", L"old", L"");
    SetFileAttributesW(Wide(Path("protected.vtxt")).c_str(), FILE_ATTRIBUTE_READONLY);
    DialogResponder responder(uiThread(), app()->findDialog,
                              {Press(IDOK), SelectPassword(L"pw", L"pw", L""), ChooseFile(Path("protected.vtxt")),
                               Press(IDYES), Press(IDOK)});
    EXPECT_EQ(QueryEndSession(), FALSE);
    EXPECT_TRUE(Modified());
    const std::vector<DialogReport> seen = responder.Finish();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().text, L"The file cannot be saved.");
    SetFileAttributesW(Wide(Path("protected.vtxt")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
