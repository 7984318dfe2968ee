#include <windows.h>
#include <shellapi.h>

#include "app/drop_open.h"

#include <cstring>

#include "app/app_state.h"
#include "app/document_lock.h"
#include "app/view_settings.h"
#include "dialogs/file_commands.h"
#include "dialogs/message_dialogs.h"
#include "platform/secure_wipe.h"
#include "resources/resource.h"

namespace {

static_assert(DROPPED_PATH_CAPACITY == PATH_DIALOG_CAPACITY);

constexpr UINT ALL_FILES = 0xFFFFFFFF;
constexpr wchar_t SEVERAL_FILES_NOTE[] = L"Only the first of the dropped files is opened.";

// The message dialog with a text of its own, which no result code carries;
// its buttons and close box behave as the message dialog's.
INT_PTR CALLBACK DropNoteDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_INITDIALOG) {
        return MessageDialogProc(dialog, message, wParam, lParam);
    }
    SetWindowTextW(dialog, gApp->appName);
    SetDlgItemTextW(dialog, IDC_MESSAGE_TEXT, SEVERAL_FILES_NOTE);
    ShowWindow(dialog, SW_SHOW);
    CenterWindow(dialog, GetParent(dialog));
    return TRUE;
}

bool AcceptsDrop(const AppState* app, HWND window)
{
    return app->runState == RUN_IDLE && IsWindowEnabled(window) && !DocumentLocked() && app->editWindow != nullptr;
}

}  // namespace

void OnDropFiles(HWND window, HDROP drop)
{
    AppState* app = gApp;
    const UINT count = DragQueryFileW(drop, ALL_FILES, nullptr, 0);
    const bool accepted = count > 0 && AcceptsDrop(app, window);
    // The length without the terminator; a longer path would be cut short.
    const bool fits = accepted && DragQueryFileW(drop, 0, nullptr, 0) < DROPPED_PATH_CAPACITY;
    if (fits) {
        wipeObject(app->droppedFile);
        DragQueryFileW(drop, 0, app->droppedFile.path, DROPPED_PATH_CAPACITY);
    }
    DragFinish(drop);
    if (!accepted) {
        return;
    }
    if (!fits) {
        ShowResultCode(window, RESULT_OPEN_FAILED);
        return;
    }
    if (count > 1) {
        DialogBoxParamW(app->instance, MAKEINTRESOURCEW(IDD_MESSAGE), window, DropNoteDialogProc, 0);
    }
    OpenDroppedFile();
}

void OpenDroppedFile()
{
    AppState* app = gApp;
    if (app->droppedFile.path[0] == L'\0') {
        return;
    }
    if (!AcceptsDrop(app, app->mainWindow)) {
        wipeObject(app->droppedFile);
        return;
    }
    if (AskSaveChanges(PENDING_OPEN) != 0) {
        if (app->runState == RUN_BUSY && app->pendingCommand == PENDING_OPEN) {
            app->pendingCommand = PENDING_OPEN_DROPPED;
        } else {
            wipeObject(app->droppedFile);
        }
        return;
    }
    app->runState = RUN_BUSY;
    wipeObject(app->requestedPath);
    std::memcpy(app->requestedPath, app->droppedFile.path, sizeof app->droppedFile.path);
    wipeObject(app->droppedFile);
    app->commandLineOpen = 0;
    OpenRequestedFile(app, 0);
}

void ReplayDroppedFile(std::int32_t pending)
{
    AppState* app = gApp;
    if (pending == PENDING_OPEN_DROPPED) {
        PostMessageW(app->mainWindow, WM_OPEN_DROPPED, 0, 0);
    } else {
        wipeObject(app->droppedFile);
    }
}
