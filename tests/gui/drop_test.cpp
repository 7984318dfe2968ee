// Files dropped on the main window, handed over as a drop hands them: a
// global DROPFILES block with the wide paths, posted with WM_DROPFILES, which
// the window releases. The first file opens as File > Open would open it.
#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/drop_open.h"
#include "gui/document_fixture.h"
#include "gui/gui_harness.h"
#include "resources/resource.h"
#include "support/test_support.h"

namespace {

constexpr wchar_t SEVERAL_NOTE[] = L"Only the first of the dropped files is opened.";

HDROP MakeDrop(const std::vector<std::wstring>& paths)
{
    std::size_t units = 1;  // the closing empty name
    for (const std::wstring& path : paths) {
        units += path.size() + 1;
    }
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + units * sizeof(wchar_t));
    auto* files = static_cast<DROPFILES*>(GlobalLock(memory));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    auto* names = reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(files) + sizeof(DROPFILES));
    for (const std::wstring& path : paths) {
        std::memcpy(names, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        names += path.size() + 1;
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

std::vector<std::uint8_t> Ascii(const std::string& text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

class Drop : public Documents {
protected:
    // Drops the files, answers the dialogs, and waits until every answer was
    // given and the editor is idle again (and, when given, until done holds).
    std::vector<DialogReport> DropFiles(const std::vector<std::string>& paths, std::vector<DialogResponse> responses,
                                        const std::function<bool()>& done = nullptr)
    {
        std::vector<std::wstring> wide;
        for (const std::string& path : paths) {
            wide.push_back(Wide(path));
        }
        const auto count = static_cast<int>(responses.size());
        DialogResponder responder(uiThread(), app()->findDialog, std::move(responses));
        PostMessageW(main(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(wide)), 0);
        EXPECT_TRUE(PumpUntil(
            [&]() { return responder.Answered() == count && Idle() && IsWindowEnabled(main()) && (!done || done()); }));
        PumpQueued();
        return responder.Finish();
    }
    void WritePlain(const std::string& name, const std::string& text)
    {
        writeBytes(Path(name), Ascii(text));
    }
};

TEST_F(Drop, OneContainerAsksItsPasswordAndOpens)
{
    WriteContainer(Path("letter.vtxt"), "dropped and deciphered", L"pw", L"as always");
    StartEditor();
    std::wstring hint;
    const std::vector<DialogReport> seen = DropFiles({Path("letter.vtxt")}, {EnterPassword(L"pw", &hint)});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, L"Enter Password");
    EXPECT_EQ(seen[0].owner, main());
    EXPECT_EQ(hint, L"as always");
    EXPECT_EQ(EditText(), L"dropped and deciphered");
    EXPECT_EQ(WindowText(main()), L"letter - Tarnwick");
    EXPECT_FALSE(Modified());
    // A document like any other opened container: Save re-saves silently.
    SetEditText(L"changed after the drop", true);
    EXPECT_TRUE(Run(IDM_SAVE, {}).empty());
    EXPECT_EQ(ReadContainer(Path("letter.vtxt"), L"pw").text, "changed after the drop");
}

TEST_F(Drop, OnePlainFileOpensWithoutADialog)
{
    WritePlain("notes.txt", "one\ntwo");
    StartEditor();
    EXPECT_TRUE(DropFiles({Path("notes.txt")}, {}, [this]() { return !EditText().empty(); }).empty());
    EXPECT_EQ(EditText(), L"one\r\ntwo");
    EXPECT_EQ(WindowText(main()), L"notes.txt - Tarnwick");
}

TEST_F(Drop, SeveralFilesOpenTheFirstAndSaySo)
{
    WritePlain("first.txt", "the first file");
    WritePlain("second.txt", "the second file");
    WriteContainer(Path("third.vtxt"), "the third file", L"pw", L"");
    StartEditor();
    const std::vector<DialogReport> seen = DropFiles({Path("first.txt"), Path("second.txt"), Path("third.vtxt")},
                                                     {Press(IDOK)}, [this]() { return !EditText().empty(); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, L"Tarnwick");
    EXPECT_EQ(seen[0].text, SEVERAL_NOTE);
    EXPECT_EQ(seen[0].owner, main());
    EXPECT_EQ(EditText(), L"the first file");
    EXPECT_EQ(WindowText(main()), L"first.txt - Tarnwick");
}

TEST_F(Drop, UnsavedChangesAreAskedAboutFirst)
{
    WritePlain("other.txt", "the dropped file");
    StartEditor();
    SetEditText(L"my draft", true);
    // Cancel: nothing opens.
    std::vector<DialogReport> seen = DropFiles({Path("other.txt")}, {Press(IDCANCEL)});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, L"Do you want to save changes?");
    EXPECT_EQ(EditText(), L"my draft");
    EXPECT_TRUE(Modified());
    // Yes: the draft is saved, then the dropped file opens.
    seen = DropFiles({Path("other.txt")}, {Press(IDOK), SelectPassword(L"pw", L"pw", L""), ChooseFile(Path("draft"))},
                     [this]() { return EditText() == L"the dropped file"; });
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(ReadContainer(Path("draft.vtxt"), L"pw").text, "my draft");
    EXPECT_EQ(WindowText(main()), L"other.txt - Tarnwick");
    // No: the changes go, the dropped file opens.
    SetEditText(L"thrown away", true);
    WritePlain("last.txt", "the last drop");
    seen = DropFiles({Path("last.txt")}, {Press(IDNO)}, [this]() { return EditText() == L"the last drop"; });
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(ReadContainer(Path("draft.vtxt"), L"pw").text, "my draft");
}

enum class Bad { DamagedHeader, WrongPassword, Binary, PathTooLong };

struct BadCase {
    const char* name;
    Bad bad;
    const wchar_t* message;
};

class DropErrors : public Drop, public ::testing::WithParamInterface<BadCase> {};

TEST_P(DropErrors, AreOpensErrorsAndTheWindowStays)
{
    const BadCase& c = GetParam();
    std::string path = Path("letter.vtxt");
    std::vector<DialogResponse> responses;
    switch (c.bad) {
        case Bad::DamagedHeader: {
            WriteContainer(path, "intact text", L"pw", L"a hint");
            std::vector<std::uint8_t> bytes = readBytes(path);
            bytes[608] ^= 0x01;
            writeBytes(path, bytes);
            break;
        }
        case Bad::WrongPassword:
            WriteContainer(path, "locked text", L"pw", L"");
            responses.push_back(EnterPassword(RefusedPassword(path, L"Pw")));
            break;
        case Bad::Binary:
            path = Path("picture.bin");
            writeBytes(path, {0x89, 'P', 'N', 'G', 0, 0, 0, 0x0D, 0, 0x01, 0x02, 0x00, 0x00, 0x03});
            break;
        case Bad::PathTooLong:
            path = Path(std::string(300, 'n') + ".txt");
            break;
    }
    responses.push_back(Press(IDOK));
    StartEditor();
    SetEditText(L"before", false);
    const std::vector<DialogReport> seen = DropFiles({path}, responses);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().text, c.message);
    EXPECT_EQ(seen.back().owner, main());
    EXPECT_EQ(EditText(), L"before");
    EXPECT_EQ(WindowText(main()), L"Tarnwick");
    // Unlike a failed open from the command line, a failed drop closes nothing.
    PumpUntil([]() { return false; }, 300);
    EXPECT_EQ(app()->runState, RUN_IDLE);
    EXPECT_TRUE(IsWindow(main()));
}

INSTANTIATE_TEST_SUITE_P(
    Drop, DropErrors,
    ::testing::Values(BadCase{"DamagedHeader", Bad::DamagedHeader, L"Checksum failed. The file may be corrupt."},
                      BadCase{"WrongPassword", Bad::WrongPassword, L"The password you have entered is incorrect."},
                      BadCase{"Binary", Bad::Binary, L"The file is not a text file."},
                      BadCase{"PathTooLong", Bad::PathTooLong, L"The file cannot be opened."}),
    [](const ::testing::TestParamInfo<BadCase>& test) { return std::string(test.param.name); });

TEST_F(Drop, DropsWhileAJobRunsAreIgnored)
{
    WritePlain("ignored.txt", "must not open");
    StartEditor();
    const std::wstring text = L"saved while a file is dropped";
    SetEditText(text.c_str(), true);
    DialogResponder responder(uiThread(), app()->findDialog,
                              {SelectPassword(L"pw", L"pw", L""), ChooseFile(Path("large.vtxt"))});
    // Busy from here until this thread has handled the job's end.
    SendMessageW(main(), WM_COMMAND, IDM_SAVE_AS, 0);
    ASSERT_EQ(app()->runState, RUN_BUSY);
    SendMessageW(main(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({Wide(Path("ignored.txt"))})), 0);
    EXPECT_TRUE(PumpUntil([this]() { return Idle(); }));
    PumpUntil([]() { return false; }, 300);
    EXPECT_EQ(responder.Finish().size(), 2u);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(FullText(), text);
    EXPECT_EQ(WindowText(main()), L"large - Tarnwick");
}

TEST_F(Drop, DropsOnALockedDocumentAreIgnored)
{
    WriteContainer(Path("letter.vtxt"), "a letter long enough to be saved silently", L"pw", L"");
    WritePlain("ignored.txt", "must not open");
    StartEditor();
    Open(Path("letter.vtxt"), {EnterPassword(L"pw")});
    Command(IDM_LOCK);
    ASSERT_EQ(WindowText(main()), L"Locked - Tarnwick");
    EXPECT_TRUE(DropFiles({Path("ignored.txt")}, {}).empty());
    PumpUntil([]() { return false; }, 300);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(WindowText(main()), L"Locked - Tarnwick");
    EXPECT_EQ(EditText(), L"");
    Run(IDM_LOCK, {EnterPassword(L"pw")});
    EXPECT_EQ(EditText(), L"a letter long enough to be saved silently");
}

}  // namespace
