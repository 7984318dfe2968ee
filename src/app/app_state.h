#pragma once
// The one application record of the editor: window handles, view settings,
// paths, password records, find text and the container session. It lives for
// the whole process; every window procedure, dialog and job reaches it through
// gApp.
#include <windows.h>

#include <cstdint>

#include "app/document_lock.h"
#include "app/drop_open.h"
#include "app/title_bar.h"
#include "container/container_session.h"

// The editor's run state.
inline constexpr std::int32_t RUN_IDLE = 0;     // no file command dialog open, no job running
inline constexpr std::int32_t RUN_CLOSING = 1;  // a close was accepted; the window is being destroyed
inline constexpr std::int32_t RUN_CLOSED = 2;   // the window is gone and WM_QUIT is posted
inline constexpr std::int32_t RUN_BUSY = 3;     // a file command's dialog or a worker job is in progress

// A command deferred while busy, replayed when the job or the command ends.
inline constexpr std::int32_t PENDING_NONE = 0;
inline constexpr std::int32_t PENDING_CLOSE = 1;
inline constexpr std::int32_t PENDING_NEW = 2;
inline constexpr std::int32_t PENDING_OPEN = 3;
inline constexpr std::int32_t PENDING_SAVE = 4;
inline constexpr std::int32_t PENDING_SAVE_AS = 5;
inline constexpr std::int32_t PENDING_WORD_WRAP = 6;
inline constexpr std::int32_t PENDING_ABOUT = 7;

// Messages of the main window.
inline constexpr UINT WM_DEFER_COMMAND = WM_APP + 1;    // wParam: a PENDING_ value
inline constexpr UINT WM_DOCUMENT_SYNCED = WM_APP + 2;  // wParam DOCUMENT_SYNCED_FLAG: loaded or saved
inline constexpr UINT WM_JOB_DONE = WM_APP + 3;         // wParam: job token; lParam: ResultCode
inline constexpr WPARAM DOCUMENT_SYNCED_FLAG = 1000;

inline constexpr std::size_t PATH_CAPACITY = 512;
// What the file dialogs may fill in of a path buffer.
inline constexpr DWORD PATH_DIALOG_CAPACITY = 260;
// Longest path taken from the command line.
inline constexpr std::size_t COMMAND_LINE_PATH_LIMIT = 259;
inline constexpr std::size_t PASSWORD_CAPACITY = 256;
inline constexpr std::size_t HINT_CAPACITY = 128;
inline constexpr std::size_t FIND_TEXT_CAPACITY = 128;

inline constexpr std::int32_t FONT_SIZE_MIN = 10;
inline constexpr std::int32_t FONT_SIZE_MAX = 80;
inline constexpr std::int32_t FONT_SIZE_DEFAULT = 16;
inline constexpr std::int32_t FONT_FACE_LUCIDA_CONSOLE = 0;
inline constexpr std::int32_t FONT_FACE_COURIER_NEW = 1;
inline constexpr std::int32_t FONT_FACE_CONSOLAS = 2;
inline constexpr std::int32_t MARGIN_MIN = 4;
inline constexpr std::int32_t MARGIN_MAX = 324;
inline constexpr std::int32_t THEME_COUNT = 15;
inline constexpr std::int32_t BASE_DPI = 96;
// The edit control's text limit in characters.
inline constexpr LPARAM EDIT_TEXT_LIMIT = 0x800000;

// The password dialogs' record: what was typed, protected in memory between uses.
struct PasswordEntry {
    std::uint32_t protectedBlocks;
    std::uint32_t byteSum;
    wchar_t password[PASSWORD_CAPACITY];
    wchar_t confirm[PASSWORD_CAPACITY];
    wchar_t hint[HINT_CAPACITY];
};

// The current document's password and hint, kept for a silent re-save.
struct RememberedPassword {
    std::uint32_t protectedBlocks;
    std::uint32_t byteSum;
    wchar_t password[PASSWORD_CAPACITY];
    wchar_t hint[HINT_CAPACITY];
};

using ProtectMemoryFunction = BOOL(WINAPI*)(LPVOID data, DWORD size, DWORD flags);

struct AppState {
    const wchar_t* appName;
    std::int32_t pendingCommand;
    HINSTANCE instance;
    std::uint32_t processId;
    HMODULE crypt32Module;
    HWND mainWindow;
    HWND editWindow;
    HWND passwordFocusEdit;
    HWND findDialog;
    HFONT editFont;
    HANDLE jobThread;
    std::uint32_t jobThreadId;
    std::uint32_t jobToken;
    std::int32_t documentIsContainer;
    std::int32_t storedTextSize;
    std::int32_t quickSave;
    std::int32_t commandLineOpen;
    std::int32_t colorTheme;
    std::int32_t fontSize;
    std::int32_t fontFace;
    std::int32_t margin;
    std::uint32_t wordWrap;
    std::int32_t initialWidth;
    std::int32_t initialHeight;
    std::int32_t dpi;
    COLORREF backColor;
    COLORREF textColor;
    COLORREF readOnlyBackColor;
    std::int32_t findDialogVisible;
    std::int32_t findPosition;
    std::int32_t savedColorTheme;
    std::int32_t savedFontSize;
    std::int32_t savedFontFace;
    std::int32_t savedMargin;
    std::uint32_t savedWordWrap;
    // From requestedPath through findText the buffers lie together and are
    // wiped together (WipeDocumentBuffers).
    wchar_t requestedPath[PATH_CAPACITY];
    wchar_t documentPath[PATH_CAPACITY];
    PasswordEntry passwordEntry;
    RememberedPassword rememberedPassword;
    wchar_t findText[FIND_TEXT_CAPACITY];
    ContainerSession containerSession;
    std::int32_t runState;
    ProtectMemoryFunction protectMemoryFn;
    ProtectMemoryFunction unprotectMemoryFn;
    WNDPROC editClassProc;
    // Beyond the five view settings: idle minutes before a container document
    // locks itself, 0 never ("LockAfterMinutes", read at start, never written).
    std::int32_t lockAfterMinutes;
    DocumentLock documentLock;
    DroppedFile droppedFile;
    TitleBarState titleBar;
    // A plain file larger than the editor loads (openPlainJob): the bytes
    // loaded and the file's size, for the notice at the end of the job; both
    // zero otherwise.
    std::uint64_t partialLoadBytes;
    std::uint64_t partialFileBytes;
    // The clipboard's sequence number after the last private Cut or Copy of a
    // container's text (app/clipboard.h); 0 when there was none.
    DWORD privateClipboardSequence;
};

// The record of this process; null until EnterAppState ran.
extern AppState* gApp;

// Builds the record on the first call (zeroed, defaults set, its container
// session destroyed at process exit) and points gApp at it on every call.
AppState* EnterAppState();
// Puts the record back to the state of a fresh start: tears the container
// session down, zeroes everything, sets the defaults. For a process that
// starts the main window more than once.
void ResetAppState(AppState* app);
// Zeroes, as one span, both paths, both password records and the find text.
void WipeDocumentBuffers(AppState* app);
// Defers a command while busy: stores it unless a close is already pending.
// Returns true when the command must not run now (busy, closing or closed).
bool DeferCommand(AppState* app, std::int32_t pending);
