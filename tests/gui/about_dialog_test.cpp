// The About box from its template: its texts and icon, the ways of closing it,
// and its link button, which opens the user guide beside the program through
// the shell.
#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "dialogs/about_dialog.h"
#include "gui/document_fixture.h"
#include "gui/gui_harness.h"
#include "resources/resource.h"
#include "support/test_support.h"

namespace {

// The type of .html files and its open command in the test's Wine prefix,
// replaced for the test by a stand-in browser that leaves a file for every
// start. The machine's classes, because that is where this Wine's shell looks
// them up.
constexpr const wchar_t* HTML_TYPE_KEY = L"Software\\Classes\\.html";
constexpr const wchar_t* HANDLER_COMMAND_KEY = L"Software\\Classes\\htmlfile\\shell\\open\\command";
constexpr const wchar_t* HANDLER_EXE_NAME = L"link_handler.exe";

std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

bool IsMarker(const std::string& name)
{
    return name.rfind("opened-", 0) == 0;
}

bool IsFinishedMarker(const std::string& name)
{
    return IsMarker(name) && name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0;
}

// Files the stand-in started, finished or not.
std::size_t MarkerCount(const std::string& folder)
{
    std::size_t count = 0;
    for (const std::string& name : listDirectory(folder)) {
        count += IsMarker(name) ? 1 : 0;
    }
    return count;
}

// The stand-in's finished files: one per start, holding the address it got.
std::vector<std::wstring> OpenedAddresses(const std::string& folder)
{
    std::vector<std::wstring> addresses;
    for (const std::string& name : listDirectory(folder)) {
        if (!IsFinishedMarker(name)) {
            continue;
        }
        const std::vector<std::uint8_t> bytes = readBytes(joinPath(folder, name));
        std::wstring address(bytes.size() / sizeof(wchar_t), L'\0');
        for (std::size_t i = 0; i < address.size(); ++i) {
            address[i] = static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        }
        addresses.push_back(address);
    }
    return addresses;
}

// Running copies of the stand-in.
int RunningHandlers()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int running = 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, HANDLER_EXE_NAME) == 0) {
            ++running;
        }
    }
    CloseHandle(snapshot);
    return running;
}

struct AboutSeen {
    DialogReport report;
    std::wstring text;
    std::wstring link;
    std::wstring ok;
    RECT iconControl{};
    RECT textControl{};
    int textLines = 0;  // as the control breaks them
    LONG textHeight = 0;
    SIZE iconSize{};
    DWORD iconStyle = 0;
    DWORD linkStyle = 0;
    DWORD okStyle = 0;
};

// Lays the control's text out as a left-aligned static does, word-wrapped in
// the control's width with its font.
void MeasureText(HWND control, AboutSeen* seen)
{
    GetClientRect(control, &seen->textControl);
    const std::wstring text = WindowText(control);
    HDC dc = GetDC(control);
    auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    RECT layout = seen->textControl;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &layout,
              DT_CALCRECT | DT_WORDBREAK | DT_LEFT | DT_EXPANDTABS | DT_NOPREFIX);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    seen->textHeight = layout.bottom - layout.top;
    seen->textLines = metrics.tmHeight > 0 ? static_cast<int>(seen->textHeight / metrics.tmHeight) : 0;
}

// The size of the icon an icon control draws.
SIZE IconSize(HWND control)
{
    auto icon = reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0));
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info)) {
        return {};
    }
    BITMAP bitmap{};
    GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor != nullptr) {
        DeleteObject(info.hbmColor);
    }
    DeleteObject(info.hbmMask);
    return {bitmap.bmWidth, bitmap.bmHeight};
}

DWORD Style(HWND window)
{
    return static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
}

// Everything the tests look at, read from another thread while the box is up.
void ReadAboutBox(HWND dialog, AboutSeen* seen)
{
    seen->text = DialogItemText(dialog, IDC_ABOUT_TEXT);
    seen->link = DialogItemText(dialog, IDC_ABOUT_LINK);
    seen->ok = DialogItemText(dialog, IDCANCEL);
    MeasureText(GetDlgItem(dialog, IDC_ABOUT_TEXT), seen);
    HWND icon = GetDlgItem(dialog, IDC_ABOUT_ICON);
    GetClientRect(icon, &seen->iconControl);
    seen->iconStyle = Style(icon);
    seen->iconSize = IconSize(icon);
    seen->linkStyle = Style(GetDlgItem(dialog, IDC_ABOUT_LINK));
    seen->okStyle = Style(GetDlgItem(dialog, IDCANCEL));
}

class AboutBox : public EditorTest {
protected:
    void SetUp() override
    {
        EditorTest::SetUp();
        markers_ = makeTempDir("about-link");
        const std::wstring command =
            L"\"" + Widen(sourceLikePath(TARNWICK_LINK_HANDLER)) + L"\" \"" + Widen(markers_) + L"\" \"%1\"";
        for (Replaced& value : replaced_) {
            wchar_t previous[1024] = {};
            DWORD size = sizeof previous;
            value.existed = RegGetValueW(HKEY_LOCAL_MACHINE, value.key, nullptr, RRF_RT_REG_SZ, nullptr, previous,
                                         &size) == ERROR_SUCCESS;
            value.previous = previous;
        }
        ASSERT_TRUE(SetDefault(HTML_TYPE_KEY, L"htmlfile"));
        ASSERT_TRUE(SetDefault(HANDLER_COMMAND_KEY, command));
    }
    void TearDown() override
    {
        EditorTest::TearDown();
        for (const Replaced& value : replaced_) {
            if (value.existed) {
                EXPECT_TRUE(SetDefault(value.key, value.previous));
            } else {
                RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, value.key, nullptr);
            }
        }
    }

    static bool SetDefault(const wchar_t* keyName, const std::wstring& command)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyName, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
            ERROR_SUCCESS) {
            return false;
        }
        const LONG status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                                           static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }

    // The handler's path as the running program sees it.
    static std::string sourceLikePath(const char* path)
    {
        std::string windowsPath = path;
        if (!windowsPath.empty() && windowsPath[0] == '/') {
            windowsPath = "Z:" + windowsPath;
        }
        for (char& c : windowsPath) {
            if (c == '/') {
                c = '\\';
            }
        }
        return windowsPath;
    }

    // Nothing was opened: checked after the box has ended, when every call
    // it made has returned. A stand-in that already ended has left its file
    // first, so a look at the running ones and then at the files misses none.
    void ExpectNothingOpened()
    {
        EXPECT_EQ(RunningHandlers(), 0);
        EXPECT_EQ(MarkerCount(markers_), 0u);
    }

    // The About command with the box answered on a helper thread; returns
    // what the helper read of the box before answering.
    AboutSeen ShowAbout(const std::function<void(HWND)>& respond)
    {
        AboutSeen seen;
        DialogResponder responder(uiThread(), app()->findDialog, {[&](HWND dialog) {
                                      ReadAboutBox(dialog, &seen);
                                      respond(dialog);
                                  }});
        Command(IDM_ABOUT);
        seen.report = responder.FinishOne();
        return seen;
    }

    // The user guide beside the running program, here the test executable.
    static std::wstring UserGuidePath()
    {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring guide = path;
        return guide.substr(0, guide.rfind(L'\\') + 1) + USER_GUIDE_FILE_NAME;
    }

    struct Replaced {
        const wchar_t* key;
        bool existed;
        std::wstring previous;
    };

    std::string markers_;
    Replaced replaced_[2] = {{HTML_TYPE_KEY, false, L""}, {HANDLER_COMMAND_KEY, false, L""}};
};

TEST_F(AboutBox, ShowsNameDescriptionVersionAndNotice)
{
    StartEditor();
    const AboutSeen seen = ShowAbout([](HWND dialog) { ClickButton(dialog, IDCANCEL); });
    ASSERT_TRUE(seen.report.found);
    EXPECT_EQ(seen.report.caption, L"About");
    EXPECT_EQ(seen.report.owner, main());
    EXPECT_EQ(seen.text, L"Tarnwick\r\nEncrypted Text Editor\r\n23.8 (x64)\r\n\u00A9 2026 Tarnwick authors");
    // Each of the four lines fits the control's width, and all four its height.
    EXPECT_EQ(seen.textLines, 4);
    EXPECT_LE(seen.textHeight, seen.textControl.bottom);
    EXPECT_EQ(seen.link, L"User Guide");
    EXPECT_EQ(seen.ok, L"OK");
    // Neither button is a tab stop.
    EXPECT_EQ(seen.linkStyle & WS_TABSTOP, 0u);
    EXPECT_EQ(seen.okStyle & WS_TABSTOP, 0u);
    EXPECT_EQ(app()->runState, RUN_IDLE);
    ExpectNothingOpened();
}

TEST_F(AboutBox, IconIsTheProgramsOwnStretchedToItsControl)
{
    StartEditor();
    const AboutSeen seen = ShowAbout([](HWND dialog) { ClickButton(dialog, IDCANCEL); });
    ASSERT_TRUE(seen.report.found);
    EXPECT_EQ(seen.iconStyle & SS_TYPEMASK, static_cast<DWORD>(SS_ICON));
    EXPECT_NE(seen.iconStyle & SS_REALSIZECONTROL, 0u);
    // The control keeps its template size, 53 x 42 dialog units, and the icon
    // drawn in it has exactly that size.
    EXPECT_GT(seen.iconControl.right, 53);
    EXPECT_GT(seen.iconControl.bottom, 42);
    EXPECT_EQ(seen.iconSize.cx, seen.iconControl.right);
    EXPECT_EQ(seen.iconSize.cy, seen.iconControl.bottom);
}

TEST_F(AboutBox, IsCentredOverTheMainWindow)
{
    StartEditor();
    SetWindowPos(main(), nullptr, 30, 20, 800, 600, SWP_NOZORDER | SWP_NOACTIVATE);
    PumpQueued();
    const AboutSeen seen = ShowAbout([](HWND dialog) { ClickButton(dialog, IDCANCEL); });
    ASSERT_TRUE(seen.report.found);
    RECT over{};
    GetWindowRect(main(), &over);
    const RECT& own = seen.report.rect;
    EXPECT_EQ(own.left, over.left + ((over.right - over.left) - (own.right - own.left)) / 2);
    EXPECT_EQ(own.top, over.top + ((over.bottom - over.top) - (own.bottom - own.top)) / 2);
}

enum class CloseBy { Enter, Escape, OkButton, CloseBox };

struct CloseCase {
    const char* name;
    CloseBy how;
};

class AboutBoxClosing : public AboutBox, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(AboutBoxClosing, ClosesWithoutOpeningTheAddress)
{
    StartEditor();
    const CloseBy how = GetParam().how;
    const AboutSeen seen = ShowAbout([how](HWND dialog) {
        // Keys as a user types them, into the box in front.
        WaitFor([dialog]() { return GetForegroundWindow() == dialog; });
        KeyInput keys;
        switch (how) {
            case CloseBy::Enter:
                keys.Tap(VK_RETURN);
                break;
            case CloseBy::Escape:
                keys.Tap(VK_ESCAPE);
                break;
            case CloseBy::OkButton:
                PostMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
                break;
            case CloseBy::CloseBox:
                PressCloseBox(dialog);
                break;
        }
    });
    ASSERT_TRUE(seen.report.found);
    // The command returned: the box has ended.
    EXPECT_EQ(GetWindow(main(), GW_ENABLEDPOPUP), nullptr);
    EXPECT_TRUE(IsWindowEnabled(main()));
    ExpectNothingOpened();
}

INSTANTIATE_TEST_SUITE_P(Ways, AboutBoxClosing,
                         ::testing::Values(CloseCase{"Enter", CloseBy::Enter}, CloseCase{"Escape", CloseBy::Escape},
                                           CloseCase{"OkButton", CloseBy::OkButton},
                                           CloseCase{"CloseBox", CloseBy::CloseBox}),
                         [](const ::testing::TestParamInfo<CloseCase>& item) { return std::string(item.param.name); });

TEST_F(AboutBox, LinkButtonOpensTheUserGuideEachTimeAndLeavesTheBoxOpen)
{
    StartEditor();
    std::string folder = markers_;
    bool stillOpen = false;
    const AboutSeen seen = ShowAbout([&](HWND dialog) {
        HWND link = GetDlgItem(dialog, IDC_ABOUT_LINK);
        PostMessageW(link, BM_CLICK, 0, 0);
        WaitFor([&]() { return OpenedAddresses(folder).size() == 1; });
        PostMessageW(link, BM_CLICK, 0, 0);
        WaitFor([&]() { return OpenedAddresses(folder).size() == 2; });
        stillOpen = IsWindowVisible(dialog) != FALSE;
        ClickButton(dialog, IDCANCEL);
    });
    ASSERT_TRUE(seen.report.found);
    EXPECT_TRUE(stillOpen);
    const std::wstring guide = UserGuidePath();
    ASSERT_NE(GetFileAttributesW(guide.c_str()), INVALID_FILE_ATTRIBUTES);
    const std::vector<std::wstring> opened = OpenedAddresses(markers_);
    ASSERT_EQ(opened.size(), 2u);
    for (const std::wstring& path : opened) {
        EXPECT_EQ(_wcsicmp(path.c_str(), guide.c_str()), 0);
    }
}

TEST_F(AboutBox, AMissingUserGuideIsReportedOverTheBox)
{
    const std::wstring guide = UserGuidePath();
    const std::wstring aside = guide + L".aside";
    ASSERT_TRUE(MoveFileW(guide.c_str(), aside.c_str()));
    StartEditor();
    const DWORD ui = uiThread();
    DialogReport message;
    bool stillOpen = false;
    const AboutSeen seen = ShowAbout([&](HWND dialog) {
        PostMessageW(GetDlgItem(dialog, IDC_ABOUT_LINK), BM_CLICK, 0, 0);
        HWND shown = nullptr;
        WaitFor([&]() { return (shown = FindOwnedDialog(ui, dialog)) != nullptr; });
        message.found = shown != nullptr;
        message.caption = WindowText(shown);
        message.text = DialogItemText(shown, IDC_MESSAGE_TEXT);
        message.owner = GetWindow(shown, GW_OWNER);
        ClickButton(shown, IDOK);
        WaitFor([&]() { return !IsWindow(shown); });
        stillOpen = IsWindowVisible(dialog) != FALSE;
        ClickButton(dialog, IDCANCEL);
    });
    MoveFileW(aside.c_str(), guide.c_str());
    ASSERT_TRUE(seen.report.found);
    ASSERT_TRUE(message.found);
    EXPECT_EQ(message.caption, L"User Guide");
    EXPECT_EQ(message.text, L"The user guide, user-guide.html, is not in the program's folder.");
    EXPECT_TRUE(stillOpen);
    ExpectNothingOpened();
}

TEST_F(AboutBox, WhileBusyItWaitsForTheJobAndThenShows)
{
    StartEditor();
    app()->runState = RUN_BUSY;
    app()->jobToken = 0x5151;
    DialogResponder responder(uiThread(), app()->findDialog, {[](HWND dialog) { ClickButton(dialog, IDCANCEL); }});
    Command(IDM_ABOUT);
    EXPECT_EQ(app()->pendingCommand, PENDING_ABOUT);
    EXPECT_EQ(responder.Answered(), 0);

    // The job's last message: the deferred About runs once.
    SendNotifyMessageW(main(), WM_JOB_DONE, app()->jobToken, 0);
    ASSERT_TRUE(PumpUntil([&]() { return responder.Answered() == 1; }));
    PumpQueued();
    const std::vector<DialogReport> seen = responder.Finish();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, L"About");
    EXPECT_EQ(app()->pendingCommand, PENDING_NONE);
    EXPECT_EQ(app()->runState, RUN_IDLE);
}

}  // namespace
