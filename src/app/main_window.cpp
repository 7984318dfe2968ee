#include <windows.h>

#include "app/main_window.h"

#include <cwchar>

#include "app/app_state.h"
#include "app/clipboard.h"
#include "app/document_lock.h"
#include "app/drop_open.h"
#include "app/menu_state.h"
#include "app/settings.h"
#include "app/system_library.h"
#include "app/title_bar.h"
#include "app/view_settings.h"
#include "dialogs/about_dialog.h"
#include "dialogs/file_commands.h"
#include "dialogs/find_dialog.h"
#include "jobs/document_jobs.h"
#include "platform/secure_wipe.h"
#include "resources/resource.h"

namespace {

constexpr std::size_t TITLE_CAPACITY = 512;

// GetDpiForWindow exists only on newer systems, so it is looked up at run time.
std::int32_t QueryWindowDpi(HWND window)
{
    std::int32_t dpi = BASE_DPI;
    HMODULE user32 = LoadSystemLibrary(L"User32.dll");
    if (user32 == nullptr) {
        return dpi;
    }
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    auto getDpiForWindow = LoadSystemProcedure<GetDpiForWindowFunction>(user32, "GetDpiForWindow");
    if (getDpiForWindow != nullptr) {
        const UINT found = getDpiForWindow(window);
        if (found > static_cast<UINT>(BASE_DPI)) {
            dpi = static_cast<std::int32_t>(found);
        }
    }
    FreeLibrary(user32);
    return dpi;
}

void LoadMemoryProtection(AppState* app)
{
    app->crypt32Module = LoadSystemLibrary(L"Crypt32.dll");
    if (app->crypt32Module != nullptr) {
        app->protectMemoryFn = LoadSystemProcedure<ProtectMemoryFunction>(app->crypt32Module, "CryptProtectMemory");
        app->unprotectMemoryFn = LoadSystemProcedure<ProtectMemoryFunction>(app->crypt32Module, "CryptUnprotectMemory");
    }
}

LRESULT OnCreate(HWND window)
{
    AppState* app = gApp;
    app->dpi = QueryWindowDpi(window);
    LoadMemoryProtection(app);
    StartDocumentLock(window);
    DragAcceptFiles(window, TRUE);
    app->findDialog = CreateDialogParamW(app->instance, MAKEINTRESOURCEW(IDD_FIND), window, FindDialogProc, 0);
    if (app->findDialog == nullptr) {
        return 0;  // the window lives on without an edit control
    }
    if (CreateEditControl(window) != 0) {
        ApplyColorTheme(app->colorTheme);
        ApplyTitleBarTheme(window);
    }
    return 0;
}

void OnDestroy()
{
    AppState* app = gApp;
    if (app->runState != RUN_CLOSING) {
        return;
    }
    if (app->jobThread != nullptr) {
        WaitForSingleObject(app->jobThread, INFINITE);
    }
    WipeDocumentBuffers(app);
    StopDocumentLock(app->mainWindow);
    wipeObject(app->droppedFile);
    if (app->editFont != nullptr) {
        DeleteObject(app->editFont);
        app->editFont = nullptr;
    }
    if (app->jobThread != nullptr) {
        CloseHandle(app->jobThread);
        app->jobThread = nullptr;
    }
    if (app->crypt32Module != nullptr) {
        FreeLibrary(app->crypt32Module);
        app->crypt32Module = nullptr;
        // They pointed into the module just freed.
        app->protectMemoryFn = nullptr;
        app->unprotectMemoryFn = nullptr;
    }
    SaveSettings();
    app->runState = RUN_CLOSED;
    PostQuitMessage(0);
}

void OnSize(HWND window, WPARAM kind, LPARAM size)
{
    if (kind == SIZE_MINIMIZED) {
        return;
    }
    // The window argument, not mainWindow: the first WM_SIZE can come before
    // CreateWindowExW has returned the handle.
    SetWindowPos(GetDlgItem(window, IDC_EDIT), nullptr, 0, 0, LOWORD(size), HIWORD(size),
                 SWP_NOACTIVATE | SWP_NOZORDER);
    ApplyMargin(gApp->margin);
}

void OnActivate(HWND window, WPARAM state)
{
    if (LOWORD(state) == WA_ACTIVE || LOWORD(state) == WA_CLICKACTIVE) {
        SetFocus(GetDlgItem(window, IDC_EDIT));
    }
}

void OnClose(HWND window)
{
    AppState* app = gApp;
    switch (app->runState) {
        case RUN_IDLE:
            if (AskSaveDocumentChanges(PENDING_CLOSE) != 0) {
                return;
            }
            if (app->editWindow != nullptr) {
                SetWindowLongPtrW(app->editWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(app->editClassProc));
                WipeEditText(app->editWindow);
            }
            // While the window still owns the clipboard: its destruction gives that up.
            ReleasePrivateClipboard();
            app->runState = RUN_CLOSING;
            DestroyWindow(window);
            return;
        case RUN_BUSY:
            app->pendingCommand = PENDING_CLOSE;
            return;
        default:
            return;  // closing already
    }
}

// Waits for the running job to end, handling only the messages sent to this
// thread meanwhile (the job's text transfers and its last two reports), so
// that no posted command runs inside the caller.
void WaitForJob(AppState* app)
{
    HANDLE thread = app->jobThread;
    if (thread == nullptr) {
        return;
    }
    MSG message{};
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    // The job's WM_JOB_DONE is its last act; it may still wait to be handled.
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// Log-off or shutdown asks first, as a close does: the session may end only
// when nothing would be lost. A save begun here finishes before the answer.
LRESULT OnQueryEndSession(HWND window)
{
    AppState* app = gApp;
    if (app->runState == RUN_CLOSING || app->runState == RUN_CLOSED) {
        return TRUE;
    }
    // A dialog of ours is open: the user is in the middle of something.
    if (!IsWindowEnabled(window)) {
        return FALSE;
    }
    ShutdownBlockReasonCreate(window, L"Tarnwick has a document with unsaved changes.");
    if (app->runState == RUN_BUSY) {
        WaitForJob(app);
    }
    bool mayEnd = false;
    if (app->runState == RUN_IDLE && AskSaveDocumentChanges(PENDING_NONE) == 0) {
        mayEnd = true;
    } else if (app->runState == RUN_BUSY) {
        WaitForJob(app);
    }
    if (!mayEnd && app->runState == RUN_IDLE) {
        mayEnd = !DocumentModified();
    }
    ShutdownBlockReasonDestroy(window);
    return mayEnd ? TRUE : FALSE;
}

// The session ends and the process with it, without a close of the window.
void OnEndSession(WPARAM ending)
{
    if (ending != 0) {
        ReleasePrivateClipboard();
        SaveSettings();
    }
}

void ShowAboutBox(HWND window)
{
    AppState* app = gApp;
    if (DeferCommand(app, PENDING_ABOUT)) {
        return;
    }
    DialogBoxParamW(app->instance, MAKEINTRESOURCEW(IDD_ABOUT), window, AboutDialogProc, 0);
}

void OnCommand(HWND window, UINT command)
{
    AppState* app = gApp;
    HWND edit = app->editWindow;
    if (LockRefusesCommand(command)) {
        return;
    }
    // clang-format off
    switch (command) {
    case IDM_NEW:                  NewDocument(); NoteNewDocument(); return;
    case IDM_OPEN:                 OpenDocument(0); return;
    case IDM_SAVE:                 SaveDocument(); return;
    case IDM_SAVE_AS:              SaveDocumentAs(); return;
    case IDM_LOCK:                 ToggleDocumentLock(); return;
    case IDM_EXIT:                 PostMessageW(window, WM_CLOSE, 0, 0); return;
    case IDM_UNDO:                 SendMessageW(edit, EM_UNDO, 0, 0); return;
    case IDM_CUT:                  SendMessageW(edit, WM_CUT, 0, 0); return;
    case IDM_COPY:                 SendMessageW(edit, WM_COPY, 0, 0); return;
    case IDM_PASTE:                SendMessageW(edit, WM_PASTE, 0, 0); return;
    case IDM_DELETE:               SendMessageW(edit, WM_CLEAR, 0, 0); return;
    case IDM_FIND:                 ShowFindDialog(); return;
    case IDM_SELECT_ALL:           SendMessageW(edit, EM_SETSEL, 0, -1); return;
    case IDM_WORD_WRAP:            ToggleWordWrap(); return;
    case IDM_ABOUT:                ShowAboutBox(window); return;
    case IDM_FONT_CONSOLAS:        ApplyFont(app->fontSize, FONT_FACE_CONSOLAS, app->dpi); return;
    case IDM_FONT_COURIER_NEW:     ApplyFont(app->fontSize, FONT_FACE_COURIER_NEW, app->dpi); return;
    case IDM_FONT_LUCIDA_CONSOLE:  ApplyFont(app->fontSize, FONT_FACE_LUCIDA_CONSOLE, app->dpi); return;
    case IDM_FONT_INCREASE:        ApplyFont(app->fontSize + 1, app->fontFace, app->dpi); return;
    case IDM_FONT_DECREASE:        ApplyFont(app->fontSize - 1, app->fontFace, app->dpi); return;
    case IDM_FONT_RESET:           ApplyFont(FONT_SIZE_DEFAULT, app->fontFace, app->dpi); return;
    case IDM_MARGIN_EXTRA_SMALL:   ApplyMargin(4); return;
    case IDM_MARGIN_SMALL:         ApplyMargin(12); return;
    case IDM_MARGIN_MEDIUM:        ApplyMargin(36); return;
    case IDM_MARGIN_LARGE:         ApplyMargin(108); return;
    case IDM_MARGIN_EXTRA_LARGE:   ApplyMargin(324); return;
    default:
        if (command >= IDM_THEME_FIRST && command <= IDM_THEME_LAST) {
            ApplyColorTheme(static_cast<std::int32_t>(command - IDM_THEME_FIRST));
            ApplyTitleBarTheme(window);
        }
        return;
    }
    // clang-format on
}

// Themes 1-14 paint the edit control with a DC brush; theme 0 leaves it to
// the system's colours.
LRESULT OnControlColor(HWND window, UINT message, WPARAM wParam, LPARAM lParam, COLORREF background)
{
    const AppState* app = gApp;
    if (app->colorTheme == 0 || reinterpret_cast<HWND>(lParam) != app->editWindow) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    HDC dc = reinterpret_cast<HDC>(wParam);
    SetDCBrushColor(dc, background);
    SetBkColor(dc, background);
    SetTextColor(dc, app->textColor);
    return reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH));
}

void OnDpiChanged(WPARAM dpis)
{
    const AppState* app = gApp;
    std::int32_t dpi = HIWORD(dpis);
    if (dpi < BASE_DPI) {
        dpi = BASE_DPI;
    }
    ApplyFont(app->fontSize, app->fontFace, dpi);
}

LRESULT OnDeferCommand(WPARAM pending)
{
    AppState* app = gApp;
    if (app->runState == RUN_IDLE) {
        return 0;
    }
    if (app->runState == RUN_BUSY && app->pendingCommand != PENDING_CLOSE) {
        app->pendingCommand = static_cast<std::int32_t>(pending);
    }
    return 1;
}

void OnDocumentSynced(HWND window, WPARAM flag)
{
    if (flag != DOCUMENT_SYNCED_FLAG) {
        return;
    }
    SendMessageW(gApp->editWindow, EM_SETMODIFY, FALSE, 0);
    wchar_t title[TITLE_CAPACITY];
    ComposeDocumentTitle(title, TITLE_CAPACITY);
    SetWindowTextW(window, title);
    NoteDocumentSynced(window);
}

void OnJobDone(WPARAM token, LPARAM code)
{
    AppState* app = gApp;
    // A message of an older job is dropped.
    if (token != static_cast<WPARAM>(app->jobToken)) {
        return;
    }
    const std::int32_t pending = app->pendingCommand;
    finishJob(app, static_cast<ResultCode>(code));
    SettleLockedSave();
    ReplayDroppedFile(pending);
}

}  // namespace

void ComposeDocumentTitle(wchar_t* title, std::size_t capacity)
{
    const AppState* app = gApp;
    const wchar_t* name = app->documentPath;
    for (const wchar_t* p = app->documentPath; *p != L'\0'; ++p) {
        if (*p == L'\\' || *p == L'/') {
            name = p + 1;
        }
    }
    std::size_t length = std::wcslen(name);
    if (app->documentIsContainer != 0) {
        const wchar_t* dot = std::wcsrchr(name, L'.');
        if (dot != nullptr) {
            length = static_cast<std::size_t>(dot - name);
        }
    }
    std::size_t used = 0;
    const auto append = [&](const wchar_t* text, std::size_t count) {
        for (std::size_t i = 0; i < count && text[i] != L'\0' && used + 1 < capacity; ++i) {
            title[used++] = text[i];
        }
    };
    append(name, length);
    append(L" - ", 3);
    append(app->appName, std::wcslen(app->appName));
    title[used] = L'\0';
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
        case WM_CREATE:
            return OnCreate(window);
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_SIZE:
            OnSize(window, wParam, lParam);
            return 0;
        case WM_ACTIVATE:
            OnActivate(window, wParam);
            return 0;
        case WM_CLOSE:
            OnClose(window);
            return 0;
        case WM_QUERYENDSESSION:
            return OnQueryEndSession(window);
        case WM_ENDSESSION:
            OnEndSession(wParam);
            return 0;
        case WM_COMMAND:
            OnCommand(window, LOWORD(wParam));
            return 0;
        case WM_INITMENUPOPUP:
            UpdateMenuState(reinterpret_cast<HMENU>(wParam), LOWORD(lParam));
            return 0;
        case WM_CTLCOLOREDIT:
            return OnControlColor(window, message, wParam, lParam, gApp->backColor);
        case WM_CTLCOLORSTATIC:
            return OnControlColor(window, message, wParam, lParam, gApp->readOnlyBackColor);
        case WM_DPICHANGED:
            OnDpiChanged(wParam);
            return 0;
        case WM_DEFER_COMMAND:
            return OnDeferCommand(wParam);
        case WM_DOCUMENT_SYNCED:
            OnDocumentSynced(window, wParam);
            return 0;
        case WM_JOB_DONE:
            OnJobDone(wParam, lParam);
            return 0;
        case WM_TIMER:
            OnLockTimer(wParam);
            return 0;
        case WM_WTSSESSION_CHANGE:
            OnSessionChange(wParam);
            return 0;
        case WM_POWERBROADCAST:
            return OnPowerBroadcast(wParam);
        case WM_DROPFILES:
            OnDropFiles(window, reinterpret_cast<HDROP>(wParam));
            return 0;
        case WM_OPEN_DROPPED:
            OpenDroppedFile();
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
