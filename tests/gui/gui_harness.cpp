#include <windows.h>

#include "gui/gui_harness.h"

#include <chrono>
#include <utility>

#include "app/app_entry.h"
#include "app/settings.h"
#include "resources/resource.h"

namespace {

bool quitSeen = false;

void Handle(MSG& message, const std::function<void(const MSG&)>& observer)
{
    if (observer) {
        observer(message);
    }
    if (message.message == WM_QUIT) {
        quitSeen = true;
        return;
    }
    AppState* app = gApp;
    if (app != nullptr && app->findDialogVisible != 0 && IsDialogMessageW(app->findDialog, &message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

struct FindDialogSearch {
    HWND ignored;
    HWND found;
};

BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<FindDialogSearch*>(data);
    if (window != search->ignored && IsWindowVisible(window) && ClassName(window) == L"#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

INPUT KeyEvent(WORD key, bool up)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

}  // namespace

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs, const std::function<void(const MSG&)>& observer)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        PumpQueued(observer);
        if (done()) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return done();
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        // Wakes for every new message, and now and then for conditions that
        // change without one (a helper thread's work).
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left < 20 ? left : 20), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

void PumpQueued(const std::function<void(const MSG&)>& observer)
{
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        Handle(message, observer);
    }
}

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return done();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring DialogItemText(HWND dialog, int id)
{
    wchar_t text[1024] = {};
    GetDlgItemTextW(dialog, id, text, 1024);
    return text;
}

std::wstring ClassName(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring WindowsPath(const std::string& hostPath)
{
    const int units = MultiByteToWideChar(CP_UTF8, 0, hostPath.data(), static_cast<int>(hostPath.size()), nullptr, 0);
    std::wstring path(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, hostPath.data(), static_cast<int>(hostPath.size()), path.data(), units);
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path.size() > 1 && path[0] == L'\\' ? L"Z:" + path : path;
}

void PutClipboardText(HWND owner, const wchar_t* text)
{
    ASSERT_TRUE(WaitFor([owner]() { return OpenClipboard(owner) != FALSE; }));
    EmptyClipboard();
    if (text != nullptr) {
        const std::size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
        CopyMemory(GlobalLock(memory), text, bytes);
        GlobalUnlock(memory);
        SetClipboardData(CF_UNICODETEXT, memory);
    }
    CloseClipboard();
}

std::wstring ClipboardText()
{
    std::wstring text;
    if (!WaitFor([]() { return OpenClipboard(nullptr) != FALSE; })) {
        return text;
    }
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto* units = data != nullptr ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    if (units != nullptr) {
        text = units;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

void DeleteSettingsKey()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, SETTINGS_KEY);
    RegDeleteKeyW(HKEY_CURRENT_USER, SETTINGS_KEY);
}

void WriteSetting(const wchar_t* name, DWORD value)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

bool ReadSetting(const wchar_t* name, DWORD* value)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD size = sizeof *value;
    const LONG status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof *value;
}

bool SettingsKeyExists()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

DialogResponder::DialogResponder(DWORD uiThreadId, HWND ignored, std::vector<DialogResponse> responses)
    : responses_(std::move(responses)), thread_([this, uiThreadId, ignored]() { Watch(uiThreadId, ignored); })
{
}

DialogResponder::~DialogResponder()
{
    if (thread_.joinable()) {
        stop_ = true;
        thread_.join();
    }
}

void DialogResponder::Watch(DWORD uiThreadId, HWND ignored)
{
    std::vector<HWND> answered;
    for (;;) {
        FindDialogSearch search{ignored, nullptr};
        const auto fresh = [&]() {
            search.found = nullptr;
            EnumThreadWindows(uiThreadId, FindVisibleDialog, reinterpret_cast<LPARAM>(&search));
            for (HWND old : answered) {
                if (search.found == old) {
                    search.found = nullptr;  // still closing
                }
            }
            return search.found != nullptr;
        };
        // Bounded, so that a test whose dialog never comes still ends.
        WaitFor([&]() { return stop_.load() || fresh(); }, 60000);
        if (search.found == nullptr) {
            return;
        }
        HWND dialog = search.found;
        DialogReport report;
        report.found = true;
        report.caption = WindowText(dialog);
        report.text = DialogItemText(dialog, IDC_MESSAGE_TEXT);
        GetWindowRect(dialog, &report.rect);
        report.owner = GetWindow(dialog, GW_OWNER);
        reports_.push_back(report);
        const std::size_t index = answered.size();
        answered.push_back(dialog);
        if (index < responses_.size()) {
            responses_[index](dialog);
        } else {
            ClickButton(dialog, IDCANCEL);
        }
        ++answered_;
    }
}

std::vector<DialogReport> DialogResponder::Finish()
{
    if (thread_.joinable()) {
        stop_ = true;
        thread_.join();
    }
    return reports_;
}

DialogReport DialogResponder::FinishOne()
{
    const std::vector<DialogReport> reports = Finish();
    return reports.empty() ? DialogReport{} : reports.front();
}

void ClickButton(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PressEscapeIn(HWND dialog, DWORD uiThreadId)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    HWND target = dialog;
    if (GetGUIThreadInfo(uiThreadId, &info) && info.hwndFocus != nullptr) {
        target = info.hwndFocus;
    }
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(VK_ESCAPE, MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, scan | 1);
    PostMessageW(target, WM_KEYUP, VK_ESCAPE, scan | 1 | (3LL << 30));
}

void PressCloseBox(HWND dialog)
{
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

KeyInput::~KeyInput()
{
    while (!held_.empty()) {
        Up(held_.back());
    }
}

void KeyInput::Down(WORD key)
{
    INPUT input = KeyEvent(key, false);
    SendInput(1, &input, sizeof input);
    held_.push_back(key);
}

void KeyInput::Up(WORD key)
{
    INPUT input = KeyEvent(key, true);
    SendInput(1, &input, sizeof input);
    for (auto it = held_.begin(); it != held_.end(); ++it) {
        if (*it == key) {
            held_.erase(it);
            break;
        }
    }
}

void KeyInput::Tap(WORD key)
{
    Down(key);
    Up(key);
}

void EditorTest::SetUp()
{
    DeleteSettingsKey();
    quitSeen = false;
}

void EditorTest::TearDown()
{
    if (started_) {
        CloseEditor();
    }
    DeleteSettingsKey();
}

void EditorTest::StartEditor(const wchar_t* commandLine)
{
    ResetAppState(EnterAppState());
    quitSeen = false;
    ASSERT_TRUE(StartApplication(GetModuleHandleW(nullptr), commandLine));
    started_ = true;
    ASSERT_NE(main(), nullptr);
    ASSERT_NE(edit(), nullptr);
    PumpQueued();
}

void EditorTest::CloseEditor()
{
    if (!started_) {
        return;
    }
    started_ = false;
    if (app()->runState == RUN_BUSY) {
        app()->runState = RUN_IDLE;
        app()->pendingCommand = PENDING_NONE;
    }
    if (app()->runState != RUN_CLOSED && IsWindow(main())) {
        if (IsWindow(edit())) {
            SendMessageW(edit(), EM_SETMODIFY, FALSE, 0);
        }
        PostMessageW(main(), WM_CLOSE, 0, 0);
        EXPECT_TRUE(PumpUntil([this]() { return app()->runState == RUN_CLOSED; }));
    }
    // Takes the quit message, which comes once the queue is empty: it must
    // not end the next test's dialogs.
    PumpQueued();
    UnregisterClassW(L"Tarnwick", GetModuleHandleW(nullptr));
}

void EditorTest::Command(UINT id)
{
    SendMessageW(main(), WM_COMMAND, id, 0);
    PumpQueued();
}

bool EditorTest::CommandRepaints(UINT id)
{
    UpdateWindow(edit());
    SendMessageW(main(), WM_COMMAND, id, 0);
    RECT dirty{};
    const bool repaints = GetUpdateRect(edit(), &dirty, FALSE) != FALSE;
    PumpQueued();
    return repaints;
}

void EditorTest::SetEditText(const wchar_t* text, bool modified)
{
    SendMessageW(edit(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    SendMessageW(edit(), EM_SETMODIFY, modified ? TRUE : FALSE, 0);
}

std::wstring EditorTest::EditText() const
{
    return WindowText(edit());
}

LONG EditorTest::FontHeight() const
{
    auto font = reinterpret_cast<HFONT>(SendMessageW(edit(), WM_GETFONT, 0, 0));
    LOGFONTW log{};
    if (font == nullptr || GetObjectW(font, sizeof log, &log) == 0) {
        return 0;
    }
    return log.lfHeight;
}

std::wstring EditorTest::FontFace() const
{
    auto font = reinterpret_cast<HFONT>(SendMessageW(edit(), WM_GETFONT, 0, 0));
    LOGFONTW log{};
    if (font == nullptr || GetObjectW(font, sizeof log, &log) == 0) {
        return L"";
    }
    return log.lfFaceName;
}

UINT EditorTest::MenuState(UINT position, UINT command)
{
    HMENU popup = GetSubMenu(GetMenu(main()), static_cast<int>(position));
    SendMessageW(main(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), MAKELPARAM(position, FALSE));
    return GetMenuState(popup, command, MF_BYCOMMAND);
}

void EditorTest::FocusEditor()
{
    SetForegroundWindow(main());
    SetFocus(edit());
    ASSERT_TRUE(PumpUntil([this]() { return GetForegroundWindow() == main() && GetFocus() == edit(); }));
}
