#include <windows.h>

#include "app/document_lock.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/system_library.h"
#include "app/view_settings.h"
#include "dialogs/file_commands.h"
#include "dialogs/message_dialogs.h"
#include "dialogs/password_dialogs.h"
#include "jobs/document_jobs.h"
#include "platform/locked_memory.h"
#include "platform/secure_wipe.h"
#include "platform/wide_text.h"
#include "resources/resource.h"

namespace {

static_assert(LOCK_HINT_CAPACITY == HINT_CAPACITY);

constexpr UINT_PTR LOCK_TIMER = 1;
constexpr DWORD REAL_MINUTE_MS = 60000;
// The idle timer looks this often a minute, and never more often than every
// MIN_TICK_MS; a requested lock waits at most one tick for the editor to be idle.
constexpr DWORD TICKS_PER_MINUTE = 120;
constexpr DWORD MIN_TICK_MS = 10;
constexpr DWORD SAME_PROCESS = 0;
constexpr std::size_t TITLE_CAPACITY = 512;
constexpr wchar_t LOCK_CAPTION[] = L"&Lock\tCtrl+L";
constexpr wchar_t UNLOCK_CAPTION[] = L"&Unlock\tCtrl+L";
constexpr wchar_t LOCKED_TITLE[] = L"Locked - ";

// WTSRegisterSessionNotification's flag for the notifications of this session.
constexpr DWORD THIS_SESSION = 0;

using RegisterSessionFunction = BOOL(WINAPI*)(HWND window, DWORD flags);
using UnregisterSessionFunction = BOOL(WINAPI*)(HWND window);

DWORD minuteMs = REAL_MINUTE_MS;

bool ProtectionAvailable(const AppState* app)
{
    return app->protectMemoryFn != nullptr && app->unprotectMemoryFn != nullptr;
}

void ProtectKey(AppState* app)
{
    DocumentLock& lock = app->documentLock;
    if (lock.keyProtected == 0 && ProtectionAvailable(app) &&
        app->protectMemoryFn(lock.secrets.key, sizeof lock.secrets.key, SAME_PROCESS) != FALSE) {
        lock.keyProtected = 1;
    }
}

// The key in clear for use; false when the platform does not give it back.
bool RevealKey(AppState* app)
{
    DocumentLock& lock = app->documentLock;
    if (lock.keyProtected == 0) {
        return true;
    }
    if (!ProtectionAvailable(app) ||
        app->unprotectMemoryFn(lock.secrets.key, sizeof lock.secrets.key, SAME_PROCESS) == FALSE) {
        return false;
    }
    lock.keyProtected = 0;
    return true;
}

void WipeKey(DocumentLock& lock)
{
    wipeObject(lock.secrets.key);
    lock.keyProtected = 0;
}

void ReleaseLockedText(DocumentLock& lock)
{
    releaseLockedPages(lock.text, lock.textCapacity);
    lock.text = nullptr;
    lock.textUnits = 0;
    lock.textCapacity = 0;
}

// The document can no longer be locked: plain, new, or its key lost.
void ForgetDocumentLock(DocumentLock& lock)
{
    lock.ready = 0;
    lock.prepared = 0;
    wipeObject(lock.passwordSetup);
    wipeObject(lock.secrets);
    wipeObject(lock.hint);
    lock.keyProtected = 0;
}

bool Lockable(const AppState* app)
{
    return app->documentLock.ready != 0 && app->editWindow != nullptr;
}

void SetLockCaption(const AppState* app, const wchar_t* caption)
{
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = const_cast<wchar_t*>(caption);
    SetMenuItemInfoW(GetMenu(app->mainWindow), IDM_LOCK, FALSE, &info);
}

// After an unlock: what the lock greyed is available again. The Edit menu's
// items are set anew by their own rules whenever that menu opens.
void EnableMenuCommands(HMENU menu)
{
    const int count = GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        HMENU popup = GetSubMenu(menu, position);
        if (popup != nullptr) {
            EnableMenuCommands(popup);
            continue;
        }
        const UINT id = GetMenuItemID(menu, position);
        if (id >= IDM_FIRST_COMMAND && id <= IDM_LAST_COMMAND) {
            EnableMenuItem(menu, id, MF_BYCOMMAND | MF_ENABLED);
        }
    }
}

void ShowLockedTitle(HWND window)
{
    wchar_t title[TITLE_CAPACITY] = {};
    std::wcsncat(title, LOCKED_TITLE, TITLE_CAPACITY - 1);
    std::wcsncat(title, gApp->appName, TITLE_CAPACITY - 1 - std::wcslen(title));
    SetWindowTextW(window, title);
}

void ShowDocumentTitle(HWND window)
{
    wchar_t title[TITLE_CAPACITY];
    ComposeDocumentTitle(title, TITLE_CAPACITY);
    SetWindowTextW(window, title);
}

// Copies units characters of an edit control's text to into (when not null),
// then wipes the control (its whole buffer, not only the part in use) and its
// undo step.
void TakeEditText(HWND edit, std::uint8_t* into, std::size_t units)
{
    if (into != nullptr) {
        SendMessageW(edit, WM_GETTEXT, units + 1, reinterpret_cast<LPARAM>(into));
    }
    WipeEditText(edit);
    SendMessageW(edit, EM_EMPTYUNDOBUFFER, 0, 0);
}

// Takes an edit control's text into the locked text, enciphered under the
// key and a fresh salt, and leaves the control empty. False, with the control
// untouched, when there is no memory for it.
bool EncipherEditText(DocumentLock& lock, HWND edit)
{
    const auto units = static_cast<std::size_t>(GetWindowTextLengthW(edit));
    const std::size_t capacity = (units + 1) * sizeof(wchar_t);
    if (lock.textCapacity < capacity) {
        auto* fresh = static_cast<std::uint8_t*>(allocateLockedPages(capacity, nullptr));
        if (fresh == nullptr) {
            return false;
        }
        ReleaseLockedText(lock);
        lock.text = fresh;
        lock.textCapacity = capacity;
    }
    secureWipe(lock.text, lock.textCapacity);
    TakeEditText(edit, lock.text, units);
    lock.textUnits = units;
    DrawLockKeySetup(&lock.textSetup);
    ApplyLockKeystream(lock.secrets.key, lock.textSetup, lock.text, units * sizeof(wchar_t));
    return true;
}

// Gives the locked text to an edit control, deciphered in place. keep: it is
// enciphered again once the control has it; otherwise it is wiped and freed.
void PutLockedText(DocumentLock& lock, HWND edit, const std::uint8_t (&key)[LOCK_KEY_SIZE], bool keep)
{
    const std::size_t bytes = lock.textUnits * sizeof(wchar_t);
    ApplyLockKeystream(key, lock.textSetup, lock.text, bytes);
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lock.text));
    if (keep) {
        ApplyLockKeystream(key, lock.textSetup, lock.text, bytes);
    } else {
        ReleaseLockedText(lock);
    }
}

void RecordView(DocumentLock& lock, HWND edit)
{
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&lock.selectionStart),
                 reinterpret_cast<LPARAM>(&lock.selectionEnd));
    lock.firstVisibleLine = static_cast<std::int32_t>(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
    lock.horizontalScroll = GetScrollPos(edit, SB_HORZ);
    lock.modified = SendMessageW(edit, EM_GETMODIFY, 0, 0) != 0 ? 1 : 0;
}

void RestoreView(const DocumentLock& lock, HWND edit)
{
    SendMessageW(edit, EM_SETSEL, lock.selectionStart, static_cast<LPARAM>(lock.selectionEnd));
    const auto first = static_cast<std::int32_t>(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
    SendMessageW(edit, EM_LINESCROLL, 0, lock.firstVisibleLine - first);
    if (lock.horizontalScroll != 0) {
        SendMessageW(edit, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, lock.horizontalScroll), 0);
    }
    SendMessageW(edit, EM_SETMODIFY, static_cast<WPARAM>(lock.modified), 0);
}

void LockDocument(AppState* app)
{
    DocumentLock& lock = app->documentLock;
    HWND edit = app->editWindow;
    if (!RevealKey(app)) {
        ForgetDocumentLock(lock);
        ShowResultCode(app->mainWindow, RESULT_MEMORY_PROTECT_FAILED);
        return;
    }
    RecordView(lock, edit);
    if (!EncipherEditText(lock, edit)) {
        ProtectKey(app);
        ShowResultCode(app->mainWindow, RESULT_OUT_OF_MEMORY);
        return;
    }
    WipeKey(lock);
    lock.locked = 1;
    SendMessageW(edit, EM_SETMODIFY, FALSE, 0);
    SendMessageW(edit, EM_SETREADONLY, TRUE, 0);
    if (app->findDialogVisible != 0) {
        ShowWindow(app->findDialog, SW_HIDE);
        app->findDialogVisible = 0;
    }
    ShowLockedTitle(app->mainWindow);
    SetLockCaption(app, UNLOCK_CAPTION);
}

// Enter Password for the document, with its hint: what the typed password
// gives, and *accepted when it is the document's. RESULT_OK without
// *accepted when the dialog was cancelled.
ResultCode AskDocumentPassword(AppState* app, LockSecrets* typed, bool* accepted)
{
    DocumentLock& lock = app->documentLock;
    *accepted = false;
    // The dialog shows the hint of the header read last, which a cancelled
    // Open may have taken from another file.
    char16_t* shown = app->containerSession.header.hint;
    for (std::size_t k = 0; k < LOCK_HINT_CAPACITY; ++k) {
        shown[k] = static_cast<char16_t>(lock.hint[k]);
    }
    if (DialogBoxParamW(app->instance, MAKEINTRESOURCEW(IDD_ENTER_PASSWORD), app->mainWindow, EnterPasswordDialogProc,
                        0) != 1) {
        return RESULT_OK;
    }
    if (UnprotectPasswords(app) == 0) {
        return RESULT_MEMORY_PROTECT_FAILED;
    }
    DeriveLockSecrets(text16(app->passwordEntry.password), lock.passwordSetup, typed);
    wipeObject(app->passwordEntry);
    ProtectRememberedPassword(app);
    if (!LockChecksEqual(typed->check, lock.secrets.check)) {
        return RESULT_WRONG_PASSWORD;
    }
    *accepted = true;
    return RESULT_OK;
}

void UnlockDocument(AppState* app)
{
    DocumentLock& lock = app->documentLock;
    app->runState = RUN_BUSY;
    LockSecrets typed{};
    bool accepted = false;
    const ResultCode code = AskDocumentPassword(app, &typed, &accepted);
    if (accepted) {
        HWND edit = app->editWindow;
        SendMessageW(edit, EM_SETREADONLY, FALSE, 0);
        PutLockedText(lock, edit, typed.key, false);
        RestoreView(lock, edit);
        std::memcpy(lock.secrets.key, typed.key, sizeof lock.secrets.key);
        ProtectKey(app);
        lock.locked = 0;
        lock.lastInput = GetTickCount64();
        ShowDocumentTitle(app->mainWindow);
        SetLockCaption(app, LOCK_CAPTION);
        EnableMenuCommands(GetMenu(app->mainWindow));
    }
    wipeObject(typed);
    // Shows a wrong password, replays what was deferred meanwhile, back to idle.
    finishJob(app, code);
}

// A silent save keeps the document's password: it gives the text back for the
// save without asking, as the save itself does not ask.
bool SecretsOfRememberedPassword(AppState* app, LockSecrets* secrets)
{
    if (UnprotectPasswords(app) == 0) {
        return false;
    }
    DeriveLockSecrets(text16(app->rememberedPassword.password), app->documentLock.passwordSetup, secrets);
    ProtectRememberedPassword(app);
    return LockChecksEqual(secrets->check, app->documentLock.secrets.check);
}

// The locked text, deciphered, goes into an edit control that is never shown,
// and the save reads that one in place of the empty control on screen.
bool HideUnlockedText(AppState* app, const std::uint8_t (&key)[LOCK_KEY_SIZE])
{
    DocumentLock& lock = app->documentLock;
    HWND hidden = CreateWindowExW(0, L"EDIT", nullptr, WS_CHILD | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL, 0, 0,
                                  0, 0, app->mainWindow, nullptr, app->instance, nullptr);
    if (hidden == nullptr) {
        ShowResultCode(app->mainWindow, RESULT_WINDOW_FAILED);
        return false;
    }
    SendMessageW(hidden, EM_LIMITTEXT, static_cast<WPARAM>(EDIT_TEXT_LIMIT), 0);
    PutLockedText(lock, hidden, key, true);
    SendMessageW(hidden, EM_SETMODIFY, TRUE, 0);
    lock.hiddenEdit = hidden;
    lock.shownEdit = app->editWindow;
    lock.hiddenKeyGeneration = lock.keyGeneration;
    app->editWindow = hidden;
    return true;
}

// Makes the locked text ready for a save: with the remembered password when
// the document has one, otherwise after asking for the password.
bool RevealForSave(AppState* app)
{
    LockSecrets secrets{};
    bool accepted = SecretsOfRememberedPassword(app, &secrets);
    if (!accepted) {
        app->runState = RUN_BUSY;
        const ResultCode code = AskDocumentPassword(app, &secrets, &accepted);
        finishJob(app, code);
    }
    if (accepted) {
        accepted = app->runState == RUN_IDLE && HideUnlockedText(app, secrets.key);
    }
    wipeObject(secrets);
    return accepted;
}

void StartTimer(HWND window)
{
    DocumentLock& lock = gApp->documentLock;
    const DWORD tick = std::max(MIN_TICK_MS, minuteMs / TICKS_PER_MINUTE);
    if (lock.timerRunning == 0 && SetTimer(window, LOCK_TIMER, tick, nullptr) != 0) {
        lock.timerRunning = 1;
    }
}

// A requested lock happens once the editor is idle: no job running and no
// dialog of ours open (a save-changes question must never find the text gone).
void TryPendingLock(AppState* app)
{
    DocumentLock& lock = app->documentLock;
    if (app->runState != RUN_IDLE || !IsWindowEnabled(app->mainWindow)) {
        return;
    }
    lock.pending = 0;
    if (lock.locked == 0 && Lockable(app)) {
        LockDocument(app);
    }
}

void RequestLock(AppState* app)
{
    DocumentLock& lock = app->documentLock;
    if (lock.locked != 0) {
        return;
    }
    lock.pending = 1;
    TryPendingLock(app);
    if (lock.pending != 0) {
        StartTimer(app->mainWindow);
    }
}

bool IsUserInput(const MSG& message)
{
    const UINT kind = message.message;
    if (kind == WM_MOUSEMOVE || kind == WM_NCMOUSEMOVE) {
        // A window moving under a still pointer brings moves too: only a new
        // position is the user's.
        DocumentLock& lock = gApp->documentLock;
        const auto position = static_cast<DWORD>(MAKELONG(message.pt.x, message.pt.y));
        const bool moved = position != lock.lastMousePosition;
        lock.lastMousePosition = position;
        return moved;
    }
    return (kind >= WM_KEYFIRST && kind <= WM_KEYLAST) || (kind >= WM_MOUSEFIRST && kind <= WM_MOUSELAST) ||
           (kind >= WM_NCLBUTTONDOWN && kind <= WM_NCXBUTTONDBLCLK);
}

// Sees every message the user-interface thread takes from its queue, in the
// main window, its menus and every dialog.
LRESULT CALLBACK InputHookProc(int code, WPARAM removed, LPARAM message)
{
    if (code == HC_ACTION && gApp != nullptr && IsUserInput(*reinterpret_cast<const MSG*>(message))) {
        gApp->documentLock.lastInput = GetTickCount64();
    }
    return CallNextHookEx(nullptr, code, removed, message);
}

bool IdleTooLong(const AppState* app)
{
    const ULONGLONG limit = static_cast<ULONGLONG>(app->lockAfterMinutes) * minuteMs;
    return app->lockAfterMinutes > 0 && GetTickCount64() - app->documentLock.lastInput >= limit;
}

}  // namespace

void StartDocumentLock(HWND window)
{
    AppState* app = gApp;
    DocumentLock& lock = app->documentLock;
    lock.lastInput = GetTickCount64();
    lock.inputHook = SetWindowsHookExW(WH_GETMESSAGE, InputHookProc, nullptr, GetCurrentThreadId());
    lock.sessionModule = LoadSystemLibrary(L"wtsapi32.dll");
    if (lock.sessionModule != nullptr) {
        auto registerSession =
            LoadSystemProcedure<RegisterSessionFunction>(lock.sessionModule, "WTSRegisterSessionNotification");
        if (registerSession != nullptr && registerSession(window, THIS_SESSION) != FALSE) {
            lock.sessionRegistered = 1;
        }
    }
    if (app->lockAfterMinutes > 0) {
        StartTimer(window);
    }
}

void StopDocumentLock(HWND window)
{
    AppState* app = gApp;
    DocumentLock& lock = app->documentLock;
    if (lock.timerRunning != 0) {
        KillTimer(window, LOCK_TIMER);
    }
    if (lock.sessionRegistered != 0) {
        auto unregisterSession =
            LoadSystemProcedure<UnregisterSessionFunction>(lock.sessionModule, "WTSUnRegisterSessionNotification");
        if (unregisterSession != nullptr) {
            unregisterSession(window);
        }
    }
    if (lock.sessionModule != nullptr) {
        FreeLibrary(lock.sessionModule);
    }
    if (lock.inputHook != nullptr) {
        UnhookWindowsHookEx(lock.inputHook);
    }
    if (lock.hiddenEdit != nullptr) {
        TakeEditText(lock.hiddenEdit, nullptr, 0);
        DestroyWindow(lock.hiddenEdit);
        app->editWindow = lock.shownEdit;
    }
    ReleaseLockedText(lock);
    wipeObject(lock);
}

void PrepareDocumentLock(AppState* app, const wchar_t* password, const wchar_t* hint)
{
    DocumentLock& lock = app->documentLock;
    wipeObject(lock.secrets);
    lock.keyProtected = 0;
    DrawLockKeySetup(&lock.passwordSetup);
    DeriveLockSecrets(text16(password), lock.passwordSetup, &lock.secrets);
    wipeObject(lock.hint);
    for (std::size_t k = 0; k + 1 < LOCK_HINT_CAPACITY && hint[k] != L'\0'; ++k) {
        lock.hint[k] = hint[k];
    }
    // A locked document saved under a new password takes its text under the
    // new key at once (SettleLockedSave), so that key stays at hand.
    if (lock.locked == 0) {
        ProtectKey(app);
    }
    ++lock.keyGeneration;
    lock.prepared = 1;
}

void NoteDocumentSynced(HWND window)
{
    AppState* app = gApp;
    DocumentLock& lock = app->documentLock;
    if (lock.prepared != 0) {
        lock.prepared = 0;
        lock.ready = 1;
    } else if (app->documentIsContainer == 0 && lock.locked == 0) {
        ForgetDocumentLock(lock);
    }
    if (lock.locked != 0) {
        ShowLockedTitle(window);
    }
}

void NoteNewDocument()
{
    AppState* app = gApp;
    if (app->documentLock.locked == 0 && app->documentPath[0] == L'\0') {
        ForgetDocumentLock(app->documentLock);
    }
}

void ToggleDocumentLock()
{
    AppState* app = gApp;
    DocumentLock& lock = app->documentLock;
    if (app->runState == RUN_BUSY) {
        RequestLock(app);
        return;
    }
    if (app->runState != RUN_IDLE) {
        return;
    }
    if (lock.locked == 0) {
        if (Lockable(app)) {
            LockDocument(app);
        }
        return;
    }
    SettleLockedSave();
    if (lock.hiddenEdit == nullptr) {
        UnlockDocument(app);
    }
}

bool DocumentLocked()
{
    return gApp->documentLock.locked != 0;
}

bool LockRefusesCommand(UINT command)
{
    return DocumentLocked() && command != IDM_LOCK && command != IDM_EXIT && command != IDM_ABOUT;
}

void UpdateLockMenuState(HMENU popup)
{
    const AppState* app = gApp;
    const bool locked = app->documentLock.locked != 0;
    const int count = GetMenuItemCount(popup);
    for (int position = 0; position < count; ++position) {
        const UINT id = GetMenuItemID(popup, position);
        // Separators, nested popups and the window's system menu are not ours.
        if (id < IDM_FIRST_COMMAND || id > IDM_LOCK) {
            continue;
        }
        bool enabled = id == IDM_EXIT || id == IDM_ABOUT;
        if (id == IDM_LOCK) {
            enabled = app->runState != RUN_BUSY && (locked || Lockable(app));
        } else if (!locked) {
            continue;  // as the menu's own rules leave it
        }
        EnableMenuItem(popup, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    }
}

int AskSaveDocumentChanges(std::int32_t command)
{
    AppState* app = gApp;
    DocumentLock& lock = app->documentLock;
    if (lock.locked == 0) {
        return AskSaveChanges(command);
    }
    SettleLockedSave();
    if (lock.modified == 0) {
        return 0;
    }
    const INT_PTR answer = AskSaveChangesDialog(app->mainWindow);
    if (answer == IDNO) {
        return 0;
    }
    if (answer != IDYES || !RevealForSave(app)) {
        return 1;
    }
    SaveDocument();
    if (app->runState == RUN_IDLE) {
        SettleLockedSave();
        return lock.modified != 0 ? 1 : 0;
    }
    // The save job runs: the asking command is replayed when it has ended.
    if (app->pendingCommand != PENDING_CLOSE) {
        app->pendingCommand = command;
    }
    return 1;
}

bool DocumentModified()
{
    AppState* app = gApp;
    if (app->documentLock.locked == 0) {
        return app->editWindow != nullptr && SendMessageW(app->editWindow, EM_GETMODIFY, 0, 0) != 0;
    }
    SettleLockedSave();
    return app->documentLock.modified != 0;
}

void SettleLockedSave()
{
    AppState* app = gApp;
    DocumentLock& lock = app->documentLock;
    HWND hidden = lock.hiddenEdit;
    if (hidden == nullptr || app->runState != RUN_IDLE) {
        return;
    }
    lock.modified = SendMessageW(hidden, EM_GETMODIFY, 0, 0) != 0 ? 1 : 0;
    if (lock.keyGeneration != lock.hiddenKeyGeneration) {
        // Save As gave the document a new password: from now on the text is
        // locked under the key it gives. The hidden control keeps the text
        // until that has succeeded.
        if (!EncipherEditText(lock, hidden)) {
            ShowResultCode(app->mainWindow, RESULT_OUT_OF_MEMORY);
            return;
        }
        WipeKey(lock);
    }
    TakeEditText(hidden, nullptr, 0);
    app->editWindow = lock.shownEdit;
    lock.hiddenEdit = nullptr;
    lock.shownEdit = nullptr;
    DestroyWindow(hidden);
    ShowLockedTitle(app->mainWindow);
}

void OnSessionChange(WPARAM event)
{
    // After these nobody may be at the screen.
    if (event == WTS_SESSION_LOCK || event == WTS_CONSOLE_DISCONNECT || event == WTS_REMOTE_DISCONNECT) {
        RequestLock(gApp);
    }
}

LRESULT OnPowerBroadcast(WPARAM event)
{
    if (event == PBT_APMSUSPEND) {
        RequestLock(gApp);
    }
    return TRUE;
}

void OnLockTimer(UINT_PTR timer)
{
    AppState* app = gApp;
    DocumentLock& lock = app->documentLock;
    if (timer != LOCK_TIMER) {
        return;
    }
    if (lock.pending == 0 && lock.locked == 0 && Lockable(app) && IdleTooLong(app)) {
        lock.pending = 1;
    }
    if (lock.pending != 0) {
        TryPendingLock(app);
    }
    if (lock.pending == 0 && app->lockAfterMinutes == 0) {
        KillTimer(app->mainWindow, LOCK_TIMER);
        lock.timerRunning = 0;
    }
}

void SetLockMinuteForTesting(DWORD milliseconds)
{
    minuteMs = milliseconds != 0 ? milliseconds : REAL_MINUTE_MS;
}
