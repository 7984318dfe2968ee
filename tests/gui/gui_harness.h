#pragma once
// Drives the real editor window inside the test process: starts it through the
// program's own start-up, pumps its messages until a condition holds, answers
// its modal dialogs from a helper thread, and closes it in order.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"

// Generous: a slow run under Wine must not fail a test, and a broken one
// still ends.
inline constexpr DWORD WAIT_TIMEOUT_MS = 10000;

// Processes this thread's messages until done() holds or the time is up; true
// when done() held. Every message taken from the queue is shown to observer
// first (when given). A WM_QUIT taken here is remembered in quitSeen and
// otherwise dropped.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = WAIT_TIMEOUT_MS,
               const std::function<void(const MSG&)>& observer = nullptr);
// Processes whatever is queued now, without waiting.
void PumpQueued(const std::function<void(const MSG&)>& observer = nullptr);
// Waits, from any thread, until done() holds; true when it did.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = WAIT_TIMEOUT_MS);

std::wstring WindowText(HWND window);
std::wstring DialogItemText(HWND dialog, int id);
std::wstring ClassName(HWND window);
// A path of the build machine (a CMake target file, a test folder) as the
// program under Wine sees it: the Linux root is drive Z:.
std::wstring WindowsPath(const std::string& hostPath);

// Empties the clipboard and, when text is not null, puts text on it (owner:
// the window that opens it).
void PutClipboardText(HWND owner, const wchar_t* text);
// The clipboard's Unicode text; empty when there is none.
std::wstring ClipboardText();

// The settings key of the editor, removed for a clean start.
void DeleteSettingsKey();
void WriteSetting(const wchar_t* name, DWORD value);
// False when the value (or the whole key) does not exist.
bool ReadSetting(const wchar_t* name, DWORD* value);
bool SettingsKeyExists();

// What a helper thread found of a modal dialog.
struct DialogReport {
    bool found = false;
    std::wstring caption;
    std::wstring text;  // of control 1004 (IDC_MESSAGE_TEXT), when present
    RECT rect{};
    HWND owner = nullptr;
};

using DialogResponse = std::function<void(HWND dialog)>;

// Watches, on a helper thread, for visible dialogs of the user-interface
// thread (other than the one ignored, the hidden Find dialog), reads each one
// and answers the n-th with responses[n]; any further dialog is cancelled.
// Watching goes on until Finish, so a test first runs what raises the dialogs
// (a SendMessageW that returns once they are answered, or posted messages and
// PumpUntil), then calls Finish.
class DialogResponder {
public:
    DialogResponder(DWORD uiThreadId, HWND ignored, std::vector<DialogResponse> responses);
    ~DialogResponder();
    DialogResponder(const DialogResponder&) = delete;
    DialogResponder& operator=(const DialogResponder&) = delete;
    // Stops watching, joins the helper thread and returns the dialogs seen, in order.
    std::vector<DialogReport> Finish();
    // The first dialog seen (found is false when there was none).
    DialogReport FinishOne();
    // Dialogs answered so far.
    int Answered() const
    {
        return answered_.load();
    }

private:
    void Watch(DWORD uiThreadId, HWND ignored);

    std::vector<DialogResponse> responses_;
    std::vector<DialogReport> reports_;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::thread thread_;
};

// Responses, to be called on the helper thread.
void ClickButton(HWND dialog, int id);
// Escape typed into the dialog's focused control.
void PressEscapeIn(HWND dialog, DWORD uiThreadId);
// The close box of the caption.
void PressCloseBox(HWND dialog);

// Keys sent as real input to the focused window; released again on scope exit.
class KeyInput {
public:
    ~KeyInput();
    void Down(WORD key);
    void Up(WORD key);
    void Tap(WORD key);

private:
    std::vector<WORD> held_;
};

// Starts the editor window (registry prepared by the test beforehand) and
// closes it in order at the end of each test.
class EditorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The program's start-up; asserts that the window came up.
    void StartEditor(const wchar_t* commandLine = L"");
    // Orderly close of the window with no unsaved changes; waits for RUN_CLOSED.
    void CloseEditor();

    AppState* app() const
    {
        return gApp;
    }
    HWND main() const
    {
        return gApp->mainWindow;
    }
    HWND edit() const
    {
        return gApp->editWindow;
    }
    DWORD uiThread() const
    {
        return GetCurrentThreadId();
    }

    // Sends a menu command as the menu does and processes what it posts.
    void Command(UINT id);
    // Runs a command and tells whether it left the edit control to be repainted.
    bool CommandRepaints(UINT id);
    void SetEditText(const wchar_t* text, bool modified);
    std::wstring EditText() const;
    // Height of the edit control's current font (LOGFONT lfHeight).
    LONG FontHeight() const;
    std::wstring FontFace() const;
    // The menu state after the popup at position was about to open.
    UINT MenuState(UINT position, UINT command);
    // Brings the window forward and the keyboard focus into the edit control.
    void FocusEditor();

    bool started_ = false;
};
