#pragma once
// Lock: the open container document's text kept in memory only enciphered
// under a key that only the document's password gives back, the edit control
// emptied and read-only, until the password is entered again. The automatic
// lock (session locked or disconnected, system suspending, idle minutes), and
// the save of a locked document's changes at exit or log-off without showing
// them. All on the user-interface thread except PrepareDocumentLock.
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "app/lock_cipher.h"

struct AppState;

// The registry value beside the five view settings: minutes without input to
// the program before a container document locks itself; 0 never.
inline constexpr const wchar_t* LOCK_AFTER_MINUTES_VALUE = L"LockAfterMinutes";
inline constexpr std::int32_t LOCK_AFTER_MINUTES_MAX = 1440;
inline constexpr std::size_t LOCK_HINT_CAPACITY = 128;

struct DocumentLock {
    // The document has a password check and a lock key: it can be locked.
    std::int32_t ready;
    // A job has just made them; WM_DOCUMENT_SYNCED makes the document ready.
    std::int32_t prepared;
    // Counts the keys made, so that a save while locked can tell a new password.
    std::uint32_t keyGeneration;
    std::int32_t locked;
    // Lock as soon as no job runs and no dialog is open.
    std::int32_t pending;
    // secrets.key is under the platform's memory protection.
    std::int32_t keyProtected;
    LockKeySetup passwordSetup;
    // The check stays; the key is wiped while the document is locked.
    LockSecrets secrets;
    wchar_t hint[LOCK_HINT_CAPACITY];

    // While locked: the edit control's UTF-16 text, enciphered under
    // secrets.key and textSetup, and how it was shown.
    LockKeySetup textSetup;
    std::uint8_t* text;
    std::size_t textUnits;
    std::size_t textCapacity;
    DWORD selectionStart;
    DWORD selectionEnd;
    std::int32_t firstVisibleLine;
    std::int32_t horizontalScroll;
    std::int32_t modified;

    // While a locked document's changes are being saved: the hidden edit
    // control the save reads, the one on screen, and the key it started with.
    HWND hiddenEdit;
    HWND shownEdit;
    std::uint32_t hiddenKeyGeneration;

    // The automatic lock.
    ULONGLONG lastInput;
    DWORD lastMousePosition;
    HHOOK inputHook;
    HMODULE sessionModule;
    std::int32_t sessionRegistered;
    std::int32_t timerRunning;
};

// WM_CREATE: asks for session notifications, watches the program's input and
// starts the idle timer when "LockAfterMinutes" is set.
void StartDocumentLock(HWND window);
// WM_DESTROY: stops all that and wipes and frees everything the lock holds.
void StopDocumentLock(HWND window);

// Called by a job, on its thread, when password (clear text) and hint become
// the document's: makes the document's password check and lock key under a
// fresh salt. The document becomes lockable at WM_DOCUMENT_SYNCED.
void PrepareDocumentLock(AppState* app, const wchar_t* password, const wchar_t* hint);
// WM_DOCUMENT_SYNCED: a plain document forgets the lock key; a locked one
// keeps its "Locked - Tarnwick" title.
void NoteDocumentSynced(HWND window);
// After the New command: an emptied document forgets the lock key.
void NoteNewDocument();

// The Lock command: locks the document, or asks for its password and unlocks
// it. While a job runs the lock waits for its end.
void ToggleDocumentLock();
bool DocumentLocked();
// Whether a command must not run now: while locked only Lock (as Unlock),
// Exit and About run.
bool LockRefusesCommand(UINT command);
// Greys what a lock makes unavailable in the popup about to open, and the Lock
// item itself while there is nothing to lock or a job runs.
void UpdateLockMenuState(HMENU popup);

// AskSaveChanges for any document: for a locked one with changes the same
// question, and Yes saves the locked text without showing it.
int AskSaveDocumentChanges(std::int32_t command);
// The edit control's modification flag, or the locked document's.
bool DocumentModified();
// After a job: a locked document whose changes were being saved goes back to
// holding its text enciphered.
void SettleLockedSave();

// WM_WTSSESSION_CHANGE, WM_POWERBROADCAST and the lock's WM_TIMER.
void OnSessionChange(WPARAM event);
LRESULT OnPowerBroadcast(WPARAM event);
void OnLockTimer(UINT_PTR timer);

// For tests only: how many milliseconds count as one of "LockAfterMinutes"'s
// minutes (0 restores 60000). The idle timer's tick follows it from the next
// start of the timer; the minute itself counts at once.
void SetLockMinuteForTesting(DWORD milliseconds);
