// What the program leaves behind of a text or a password: the edit control's
// whole buffer when a document goes (New, close, word wrap), the password
// fields however their dialog ends, and the clipboard, where a container's
// text goes without a place in the clipboard history or the cloud and leaves
// when the program ends.
#include <windows.h>

#include <string>
#include <vector>

#include "gui/document_fixture.h"
#include "gui/window_hooks.h"
#include "resources/resource.h"
#include "support/test_support.h"

namespace {

// Distinct characters, many more than one early wipe of 4,095 would cover.
std::wstring SecretText()
{
    std::wstring text;
    for (int line = 0; text.size() < 20000; ++line) {
        text += L"secret line " + std::to_wstring(line) + L"\r\n";
    }
    return text;
}

const DestroyedEdit* MultiLineEdit(const std::vector<DestroyedEdit>& seen)
{
    for (const DestroyedEdit& edit : seen) {
        if (edit.multiLine) {
            return &edit;
        }
    }
    return nullptr;
}

class Secrets : public Documents {
protected:
    void TearDown() override
    {
        Documents::TearDown();
        PutClipboardText(nullptr, nullptr);
    }
};

TEST_F(Secrets, NewOverwritesTheWholeBufferOfALargeDocument)
{
    StartEditor();
    SetEditText(SecretText().c_str(), false);
    ASSERT_GT(EditBufferLeftovers(edit()), 10000u);
    Command(IDM_NEW);
    EXPECT_EQ(EditText(), L"");
    std::wstring sample;
    EXPECT_EQ(EditBufferLeftovers(edit(), &sample), 0u) << Utf8(sample);
}

TEST_F(Secrets, AShorterDocumentOpenedOverALongerOneLeavesNothingOfIt)
{
    std::string secret;
    for (const wchar_t c : SecretText()) {
        secret += static_cast<char>(c);
    }
    writeBytes(Path("long.txt"), std::vector<std::uint8_t>(secret.begin(), secret.end()));
    writeBytes(Path("short.txt"), Ascii("short text"));
    StartEditor();
    Open(Path("long.txt"));
    ASSERT_GT(EditBufferLeftovers(edit()), 10000u);
    Open(Path("short.txt"));
    ASSERT_EQ(EditText(), L"short text");
    std::wstring sample;
    EXPECT_EQ(EditBufferLeftovers(edit(), &sample), 9u) << Utf8(sample);  // "short text" less its blank
}

struct GoneCase {
    const char* label;
    bool close;  // closing the window; otherwise the word wrap toggle
};

class ControlThatGoes : public Secrets, public ::testing::WithParamInterface<GoneCase> {};

TEST_P(ControlThatGoes, HasItsWholeBufferOverwrittenFirst)
{
    StartEditor();
    const std::wstring text = SecretText();
    SetEditText(text.c_str(), false);
    EditDestructionWatch watch;
    if (GetParam().close) {
        CloseEditor();
    } else {
        Command(IDM_WORD_WRAP);
        EXPECT_TRUE(FullText() == text);  // in the new control
    }
    const DestroyedEdit* gone = MultiLineEdit(watch.Seen());
    ASSERT_NE(gone, nullptr);
    EXPECT_EQ(gone->text, L"");
    EXPECT_EQ(gone->leftovers, 0u) << Utf8(gone->sample);
}

INSTANTIATE_TEST_SUITE_P(Ways, ControlThatGoes, ::testing::Values(GoneCase{"Close", true}, GoneCase{"WordWrap", false}),
                         [](const ::testing::TestParamInfo<GoneCase>& c) { return std::string(c.param.label); });

struct FieldCase {
    const char* label;
    bool enter;   // Enter Password (from Open); otherwise Select Password (from Save As)
    bool escape;  // Escape; otherwise the Cancel button
};

class PasswordFields : public Secrets, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(PasswordFields, AreEmptyWhenTheirDialogIsCancelled)
{
    const FieldCase& c = GetParam();
    WriteContainer(Path("alpha.vtxt"), "alpha text", L"pw", L"");
    StartEditor();
    const DWORD ui = uiThread();
    const bool escape = c.escape;
    const DialogResponse typeThenLeave = [ui, escape](HWND dialog) {
        for (int id : {IDC_PASSWORD, IDC_NEW_PASSWORD, IDC_CONFIRM_PASSWORD}) {
            SetDlgItemTextW(dialog, id, L"hunter2 typed here");
        }
        if (escape) {
            PressEscapeIn(dialog, ui);
        } else {
            ClickButton(dialog, IDCANCEL);
        }
    };
    EditDestructionWatch watch;
    const std::vector<DialogReport> seen =
        c.enter ? Run(IDM_OPEN, {ChooseFile(Path("alpha.vtxt")), typeThenLeave}) : Run(IDM_SAVE_AS, {typeThenLeave});
    ASSERT_EQ(seen.back().caption, c.enter ? L"Enter Password" : L"Select Password");
    int fields = 0;
    for (const DestroyedEdit& gone : watch.Seen()) {
        EXPECT_EQ(gone.text.find(L"hunter2"), std::wstring::npos) << Utf8(gone.text);
        fields += gone.text.empty() ? 1 : 0;
    }
    EXPECT_GE(fields, c.enter ? 1 : 2);
    EXPECT_EQ(app()->passwordEntry.password[0], L'\0');
}

INSTANTIATE_TEST_SUITE_P(Dialogs, PasswordFields,
                         ::testing::Values(FieldCase{"EnterCancel", true, false}, FieldCase{"EnterEscape", true, true},
                                           FieldCase{"SelectCancel", false, false},
                                           FieldCase{"SelectEscape", false, true}),
                         [](const ::testing::TestParamInfo<FieldCase>& c) { return std::string(c.param.label); });

// ---------------------------------------------------------------- the clipboard

constexpr const wchar_t* PRIVACY_FORMATS[] = {L"ExcludeClipboardContentFromMonitorProcessing",
                                              L"CanIncludeInClipboardHistory", L"CanUploadToCloudClipboard"};

// The DWORD under a registered clipboard format; false when the format is not there.
bool ClipboardDword(const wchar_t* name, DWORD* value)
{
    const UINT format = RegisterClipboardFormatW(name);
    if (!WaitFor([]() { return OpenClipboard(nullptr) != FALSE; })) {
        return false;
    }
    HANDLE data = GetClipboardData(format);
    const auto* stored = data != nullptr ? static_cast<const DWORD*>(GlobalLock(data)) : nullptr;
    if (stored != nullptr) {
        *value = GlobalSize(data) >= sizeof(DWORD) ? *stored : 0xFFFFFFFF;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return stored != nullptr;
}

enum class CopyWay { MenuCopy, MenuCut, CtrlC, CtrlX, CtrlInsert, ShiftDelete };

struct CopyCase {
    const char* label;
    CopyWay way;
    bool cut;
};

class ContainerCopy : public Secrets, public ::testing::WithParamInterface<CopyCase> {
protected:
    static constexpr const wchar_t* DIARY = L"Dear diary: the secret part stays.";
    static constexpr const wchar_t* SELECTED = L"the secret part";

    void OpenDiary()
    {
        WriteContainer(Path("diary.vtxt"), Utf8(DIARY), L"pw", L"");
        StartEditor();
        ASSERT_EQ(Open(Path("diary.vtxt"), {EnterPassword(L"pw")}).size(), 2u);
        PutClipboardText(nullptr, nullptr);
        SendMessageW(edit(), EM_SETSEL, 12, 27);
    }
    void CopyBy(CopyWay way)
    {
        const auto keys = [this](WORD modifier, WORD key) {
            FocusEditor();
            KeyInput input;
            input.Down(modifier);
            input.Tap(key);
            input.Up(modifier);
            PumpUntil([]() { return !ClipboardText().empty(); });
        };
        switch (way) {
            case CopyWay::MenuCopy:
                Command(IDM_COPY);
                break;
            case CopyWay::MenuCut:
                Command(IDM_CUT);
                break;
            case CopyWay::CtrlC:
                keys(VK_CONTROL, 'C');
                break;
            case CopyWay::CtrlX:
                keys(VK_CONTROL, 'X');
                break;
            case CopyWay::CtrlInsert:
                keys(VK_CONTROL, VK_INSERT);
                break;
            case CopyWay::ShiftDelete:
                keys(VK_SHIFT, VK_DELETE);
                break;
        }
        PumpQueued();
    }
};

TEST_P(ContainerCopy, StaysOutOfTheHistoryPastesAndLeavesAtExit)
{
    OpenDiary();
    CopyBy(GetParam().way);
    EXPECT_EQ(ClipboardText(), SELECTED);
    for (const wchar_t* name : PRIVACY_FORMATS) {
        DWORD value = 1;
        EXPECT_TRUE(ClipboardDword(name, &value)) << Utf8(name);
        EXPECT_EQ(value, 0u) << Utf8(name);
    }
    EXPECT_EQ(EditText(), GetParam().cut ? L"Dear diary:  stays." : DIARY);
    EXPECT_EQ(Modified(), GetParam().cut);

    // It pastes as usual.
    const auto end = static_cast<WPARAM>(GetWindowTextLengthW(edit()));
    SendMessageW(edit(), EM_SETSEL, end, static_cast<LPARAM>(end));
    Command(IDM_PASTE);
    const std::wstring text = EditText();
    EXPECT_EQ(text.substr(text.size() - 15), SELECTED);

    CloseEditor();
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_UNICODETEXT));
}

INSTANTIATE_TEST_SUITE_P(Ways, ContainerCopy,
                         ::testing::Values(CopyCase{"MenuCopy", CopyWay::MenuCopy, false},
                                           CopyCase{"MenuCut", CopyWay::MenuCut, true},
                                           CopyCase{"CtrlC", CopyWay::CtrlC, false},
                                           CopyCase{"CtrlX", CopyWay::CtrlX, true},
                                           CopyCase{"CtrlInsert", CopyWay::CtrlInsert, false},
                                           CopyCase{"ShiftDelete", CopyWay::ShiftDelete, true}),
                         [](const ::testing::TestParamInfo<CopyCase>& c) { return std::string(c.param.label); });

TEST_F(ContainerCopy, ACopyMadeLaterElsewhereStaysAtExit)
{
    OpenDiary();
    Command(IDM_COPY);
    ASSERT_EQ(ClipboardText(), SELECTED);
    PutClipboardText(nullptr, L"copied in another program");
    CloseEditor();
    EXPECT_EQ(ClipboardText(), L"copied in another program");
}

TEST_F(Secrets, PlainDocumentCopiesAsBefore)
{
    StartEditor();
    SetEditText(L"plain words, nothing secret", false);
    PutClipboardText(nullptr, nullptr);
    SendMessageW(edit(), EM_SETSEL, 0, 5);
    Command(IDM_COPY);
    EXPECT_EQ(ClipboardText(), L"plain");
    for (const wchar_t* name : PRIVACY_FORMATS) {
        DWORD value = 0;
        EXPECT_FALSE(ClipboardDword(name, &value)) << Utf8(name);
    }
}

}  // namespace
