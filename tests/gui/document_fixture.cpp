#include <windows.h>

#include "gui/document_fixture.h"

#include <cstring>
#include <filesystem>
#include <utility>

#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "resources/resource.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

// Control ids of the system file dialogs: the file name field, or the combo
// box that holds it.
constexpr int FILE_NAME_EDIT = 0x480;
constexpr int FILE_NAME_COMBO = 0x47c;

const char16_t* Units(const std::wstring& text)
{
    return reinterpret_cast<const char16_t*>(text.c_str());
}

}  // namespace

std::wstring Wide(const std::string& utf8)
{
    const std::u16string units = toUtf16(utf8);
    return std::wstring(units.begin(), units.end());
}

std::string Utf8(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

ContainerContent ReadContainer(const std::string& path, const std::wstring& password)
{
    ContainerContent content;
    ContainerSession session{};
    initSession(&session);
    const std::u16string path16 = toUtf16(path);
    if (openContainer(&session, path16.c_str()) != RESULT_OK) {
        content.code = session.result;
        teardownSession(&session);
        return content;
    }
    content.hint.assign(reinterpret_cast<const wchar_t*>(session.header.hint));
    setupKey(&session, Units(password));
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(headerPlainSize(session.header)) + 2, 0);
    decryptPayload(&session, buffer.data(), headerPlainSize(session.header));
    content.code = session.result;
    if (content.code == RESULT_OK) {
        content.text.assign(reinterpret_cast<const char*>(buffer.data()),
                            static_cast<std::size_t>(headerPlainSize(session.header)));
    }
    teardownSession(&session);
    return content;
}

std::wstring RefusedPassword(const std::string& path, const std::wstring& base)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::wstring candidate = attempt == 0 ? base : base + std::to_wstring(attempt);
        if (ReadContainer(path, candidate).code == RESULT_WRONG_PASSWORD) {
            return candidate;
        }
    }
    ADD_FAILURE() << "no refused password found for " << path;
    return base;
}

void WriteContainer(const std::string& path, const std::string& text, const std::wstring& password,
                    const std::wstring& hint)
{
    ContainerSession session{};
    initSession(&session);
    const std::u16string path16 = toUtf16(path);
    ASSERT_EQ(saveContainer(&session, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), path16.c_str(),
                            Units(password), Units(hint), 7),
              RESULT_OK);
}

HWND FindOwnedDialog(DWORD uiThread, HWND owner)
{
    struct Search {
        HWND owner;
        HWND found;
    } search{owner, nullptr};
    EnumThreadWindows(
        uiThread,
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == s->owner && ClassName(window) == L"#32770") {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FileNameField(HWND dialog)
{
    HWND found = nullptr;
    EnumChildWindows(
        dialog,
        [](HWND window, LPARAM data) -> BOOL {
            const int id = GetDlgCtrlID(window);
            if (ClassName(window) == L"Edit" && IsWindowVisible(window) &&
                (id == FILE_NAME_EDIT || id == FILE_NAME_COMBO)) {
                *reinterpret_cast<HWND*>(data) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

DialogResponse ChooseFile(const std::string& path)
{
    return [path](HWND dialog) {
        const std::wstring wide = Wide(path);
        HWND field = nullptr;
        if (!WaitFor([&]() { return (field = FileNameField(dialog)) != nullptr; })) {
            ADD_FAILURE() << "no file name field in " << Utf8(WindowText(dialog));
            ClickButton(dialog, IDCANCEL);
            return;
        }
        SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        ClickButton(dialog, IDOK);
    };
}

DialogResponse SelectPassword(const std::wstring& password, const std::wstring& confirm, const std::wstring& hint)
{
    return [=](HWND dialog) {
        SetDlgItemTextW(dialog, IDC_NEW_PASSWORD, password.c_str());
        SetDlgItemTextW(dialog, IDC_CONFIRM_PASSWORD, confirm.c_str());
        SetDlgItemTextW(dialog, IDC_HINT, hint.c_str());
        ClickButton(dialog, IDOK);
    };
}

DialogResponse EnterPassword(const std::wstring& password, std::wstring* hintShown)
{
    return [=](HWND dialog) {
        if (hintShown != nullptr) {
            *hintShown = DialogItemText(dialog, IDC_HINT);
        }
        SetDlgItemTextW(dialog, IDC_PASSWORD, password.c_str());
        ClickButton(dialog, IDOK);
    };
}

DialogResponse Press(int id)
{
    return [id](HWND dialog) { ClickButton(dialog, id); };
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<std::uint8_t> out;
    for (int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

std::vector<std::uint8_t> Ascii(const char* text)
{
    return std::vector<std::uint8_t>(text, text + std::strlen(text));
}

void Documents::SetUp()
{
    EditorTest::SetUp();
    dir_ = makeTempDir("documents");
}

void Documents::TearDown()
{
    EditorTest::TearDown();
    std::error_code ignored;
    for (const std::string& name : listDirectory(dir_)) {
        fs::permissions(joinPath(dir_, name), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(dir_, ignored);
}

std::string Documents::Path(const std::string& name) const
{
    return joinPath(dir_, name);
}

bool Documents::Modified()
{
    return SendMessageW(edit(), EM_GETMODIFY, 0, 0) != 0;
}

std::wstring Documents::FullText() const
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit())) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(edit(), text.data(), static_cast<int>(text.size()))));
    return text;
}

bool Documents::Idle()
{
    return app()->runState == RUN_IDLE;
}

std::vector<DialogReport> Documents::Run(UINT command, std::vector<DialogResponse> responses)
{
    DialogResponder responder(uiThread(), app()->findDialog, std::move(responses));
    SendMessageW(main(), WM_COMMAND, command, 0);
    EXPECT_TRUE(PumpUntil([this]() { return Idle(); }, runTimeoutMs_));
    PumpQueued();
    return responder.Finish();
}

std::vector<DialogReport> Documents::SaveAs(const std::string& path, const std::wstring& password,
                                            const std::wstring& hint)
{
    return Run(IDM_SAVE_AS, {SelectPassword(password, password, hint), ChooseFile(path)});
}

std::vector<DialogReport> Documents::Open(const std::string& path, std::vector<DialogResponse> more)
{
    std::vector<DialogResponse> responses{ChooseFile(path)};
    responses.insert(responses.end(), more.begin(), more.end());
    return Run(IDM_OPEN, std::move(responses));
}

std::vector<DialogReport> Documents::StartWith(const std::wstring& commandLine, std::vector<DialogResponse> responses)
{
    DialogResponder responder(uiThread(), nullptr, std::move(responses));
    StartEditor(commandLine.c_str());
    EXPECT_TRUE(PumpUntil([this]() { return app()->runState == RUN_IDLE || app()->runState == RUN_CLOSED; }));
    PumpQueued();
    return responder.Finish();
}
