// Lock seen from outside: the editor runs as a process of its own and this
// test reads its memory. While the document is locked its text is nowhere in
// the editor's writable memory, neither as UTF-16 nor as UTF-8.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gui/document_fixture.h"
#include "gui/gui_harness.h"
#include "resources/resource.h"
#include "support/test_support.h"

namespace {

constexpr wchar_t PASSWORD[] = L"outside view";
// A word no other program holds, many times over: far more text than one
// 4096-character overwrite of the control reaches.
constexpr char MARKER[] = "Quetzalcoatl-7193-kept-under-lock";

std::string SecretText()
{
    std::string text;
    for (int line = 0; line < 400; ++line) {
        text += MARKER + std::string(" line ") + std::to_string(line) + "\r\n";
    }
    return text;
}

std::string Utf16Bytes(const std::string& ascii)
{
    std::string bytes;
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

// How often needle occurs in the committed, writable memory of process:
// heaps, stacks and every buffer a program can leave text in.
std::size_t CountInMemory(HANDLE process, const std::string& needle)
{
    constexpr DWORD WRITABLE = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    std::size_t count = 0;
    std::vector<char> region;
    MEMORY_BASIC_INFORMATION info{};
    const char* address = nullptr;
    while (VirtualQueryEx(process, address, &info, sizeof info) == sizeof info) {
        address = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (info.State != MEM_COMMIT || (info.Protect & WRITABLE) == 0 || (info.Protect & PAGE_GUARD) != 0) {
            continue;
        }
        region.resize(info.RegionSize);
        SIZE_T got = 0;
        if (!ReadProcessMemory(process, info.BaseAddress, region.data(), info.RegionSize, &got)) {
            continue;
        }
        const auto end = region.begin() + static_cast<std::ptrdiff_t>(got);
        for (auto at = std::search(region.begin(), end, needle.begin(), needle.end()); at != end;
             at = std::search(at + 1, end, needle.begin(), needle.end())) {
            ++count;
        }
    }
    return count;
}

struct ProcessWindowSearch {
    DWORD processId;
    const wchar_t* className;
    const wchar_t* caption;  // null: any
    HWND found;
};

// A visible top-level window of the process, by class and caption.
HWND FindProcessWindow(DWORD processId, const wchar_t* className, const wchar_t* caption)
{
    ProcessWindowSearch search{processId, className, caption, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<ProcessWindowSearch*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->processId && IsWindowVisible(window) && ClassName(window) == s->className &&
                (s->caption == nullptr || WindowText(window) == s->caption)) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class LockFromOutside : public Documents {
protected:
    void TearDown() override
    {
        if (process_.hProcess != nullptr) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process_.hProcess, 1);
            }
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        Documents::TearDown();
    }
    void Start(const std::string& document)
    {
        std::wstring commandLine = L"\"" + WindowsPath(TARNWICK_EXE_PATH) + L"\" \"" + Wide(document) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process_));
    }
    HWND WaitForWindow(const wchar_t* className, const wchar_t* caption)
    {
        HWND found = nullptr;
        WaitFor([&]() { return (found = FindProcessWindow(process_.dwProcessId, className, caption)) != nullptr; },
                30000);
        return found;
    }
    void AnswerPassword()
    {
        HWND dialog = WaitForWindow(L"#32770", L"Enter Password");
        ASSERT_NE(dialog, nullptr);
        SetDlgItemTextW(dialog, IDC_PASSWORD, PASSWORD);
        ClickButton(dialog, IDOK);
    }
    // The edit control's own length: GetWindowTextLengthW gives another
    // process's windows their caption only.
    static int TextLength(HWND edit)
    {
        return static_cast<int>(SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0));
    }
    std::size_t Occurrences(const std::string& needle)
    {
        return CountInMemory(process_.hProcess, needle);
    }

    PROCESS_INFORMATION process_{};
};

TEST_F(LockFromOutside, TheLockedTextIsNowhereInTheEditorsMemory)
{
    WriteContainer(Path("secret.vtxt"), SecretText(), PASSWORD, L"");
    Start(Path("secret.vtxt"));
    AnswerPassword();
    HWND main = WaitForWindow(L"Tarnwick", L"secret - Tarnwick");
    ASSERT_NE(main, nullptr);
    HWND edit = GetDlgItem(main, IDC_EDIT);
    ASSERT_EQ(TextLength(edit), static_cast<int>(SecretText().size()));
    const std::string utf16 = Utf16Bytes(MARKER);
    const std::string utf8 = MARKER;
    // The reading works: the open document's text is found.
    ASSERT_GE(Occurrences(utf16), 400u);

    PostMessageW(main, WM_COMMAND, IDM_LOCK, 0);
    ASSERT_NE(WaitForWindow(L"Tarnwick", L"Locked - Tarnwick"), nullptr);
    EXPECT_EQ(TextLength(edit), 0);
    EXPECT_EQ(Occurrences(utf16), 0u);
    EXPECT_EQ(Occurrences(utf8), 0u);

    PostMessageW(main, WM_COMMAND, IDM_LOCK, 0);
    AnswerPassword();
    ASSERT_NE(WaitForWindow(L"Tarnwick", L"secret - Tarnwick"), nullptr);
    EXPECT_EQ(TextLength(edit), static_cast<int>(SecretText().size()));
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(process_.hProcess, WAIT_TIMEOUT_MS), WAIT_OBJECT_0);
}

}  // namespace
