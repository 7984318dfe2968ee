#include <windows.h>
#include <commdlg.h>

#include "dialogs/file_commands.h"

#include <cstring>
#include <cwchar>
#include <iterator>

#include "app/app_state.h"
#include "app/view_settings.h"
#include "container/container_session.h"
#include "dialogs/message_dialogs.h"
#include "dialogs/password_dialogs.h"
#include "jobs/document_jobs.h"
#include "platform/secure_wipe.h"
#include "platform/wide_text.h"
#include "resources/resource.h"
#include "text/text_encoding.h"

namespace {

// Pairs of description and pattern, the first preselected.
constexpr wchar_t OPEN_FILTER[] = L"Vellic Text (.vtxt)\0*.vtxt\0Plain Text (.txt)\0*.txt\0All Files\0*.*\0";
constexpr wchar_t SAVE_FILTER[] = L"Vellic Text (.vtxt)\0*.vtxt\0";
constexpr wchar_t CONTAINER_EXTENSION[] = L".vtxt";
// What DialogBoxParamW gives for a password dialog that ended with OK, and
// when the dialog could not be created at all.
constexpr INT_PTR DIALOG_OK = 1;
constexpr INT_PTR DIALOG_FAILED = -1;

bool IsContainerExtension(const wchar_t* path)
{
    const char16_t* extension = fileExtension(text16(path));
    return equalsIgnoreCase(extension, u"vtxt") || equalsIgnoreCase(extension, u"kzx");
}

bool Modified(const AppState* app)
{
    return SendMessageW(app->editWindow, EM_GETMODIFY, 0, 0) != 0;
}

// Save as Save does once it may act. True when a save job was started.
bool SaveNow(AppState* app)
{
    if (app->documentIsContainer != 0 && app->storedTextSize >= QUICK_SAVE_MIN_SIZE) {
        app->runState = RUN_BUSY;
        app->quickSave = 1;
        return startJob(app, saveJob) != 0;
    }
    return SaveDocumentAs() != 0;
}

// The abandoned command's way back to idle, as when a job ends without a message.
void AbandonCommand(AppState* app)
{
    if (app->runState == RUN_CLOSING || app->runState == RUN_CLOSED) {
        return;
    }
    wipeObject(app->passwordEntry);
    app->commandLineOpen = 0;
    replayPendingCommand(app);
    app->pendingCommand = PENDING_NONE;
    app->runState = RUN_IDLE;
}

// The name Save As proposes: the document's, with the container extension.
void ProposeSaveName(AppState* app)
{
    wchar_t* name = app->requestedPath;
    std::memcpy(name, app->documentPath, sizeof app->requestedPath);
    name[PATH_DIALOG_CAPACITY - 1] = L'\0';
    const char16_t* extension = fileExtension(text16(name));
    if (*extension != u'\0') {
        const std::size_t dot = static_cast<std::size_t>(extension - text16(name)) - 1;
        if (dot + std::size(CONTAINER_EXTENSION) <= PATH_DIALOG_CAPACITY) {
            std::memcpy(name + dot, CONTAINER_EXTENSION, sizeof CONTAINER_EXTENSION);
        }
    }
    const std::size_t length = std::wcslen(name);
    if (length > 0 && (name[length - 1] == L'\\' || name[length - 1] == L'/')) {
        secureWipe(name, PATH_DIALOG_CAPACITY * sizeof(wchar_t));
    }
}

// The Open and Save As dialogs' common fields: owned by the main window, the
// first filter chosen, the path read from and written to requestedPath.
OPENFILENAMEW FileDialogFor(AppState* app, const wchar_t* filter, DWORD flags)
{
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = app->mainWindow;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = app->requestedPath;
    dialog.nMaxFile = PATH_DIALOG_CAPACITY;
    dialog.Flags = flags;
    return dialog;
}

bool AskOpenFileName(AppState* app)
{
    secureWipe(app->requestedPath, sizeof app->requestedPath);
    OPENFILENAMEW dialog = FileDialogFor(app, OPEN_FILTER, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
    return GetOpenFileNameW(&dialog) != FALSE;
}

bool AskSaveFileName(AppState* app)
{
    OPENFILENAMEW dialog = FileDialogFor(app, SAVE_FILTER, OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR);
    dialog.lpstrDefExt = L"vtxt";
    return GetSaveFileNameW(&dialog) != FALSE;
}

}  // namespace

int OpenRequestedFile(AppState* app, int fromCommandLine)
{
    ContainerSession* session = &app->containerSession;
    const bool containerName = IsContainerExtension(app->requestedPath);
    openContainer(session, text16(app->requestedPath));
    teardownSession(session);  // closes the file; header and result stay
    const ResultCode result = session->result;
    if (result == RESULT_BAD_FORMAT || !containerName) {
        return startJob(app, openPlainJob);
    }
    if (result != RESULT_OK) {
        finishJob(app, result);
        return 0;
    }
    if (!withinOpenLimits(session->header)) {
        finishJob(app, RESULT_LIMIT_EXCEEDED);
        return 0;
    }
    const INT_PTR answer = DialogBoxParamW(app->instance, MAKEINTRESOURCEW(IDD_ENTER_PASSWORD), app->mainWindow,
                                           EnterPasswordDialogProc, 0);
    if (answer == DIALOG_OK) {
        return startJob(app, openEncryptedJob);
    }
    // A dialog that could not be shown (-1) is a failure, not a password.
    finishJob(app, answer == DIALOG_FAILED ? RESULT_WINDOW_FAILED : RESULT_OK);
    if (fromCommandLine != 0 && answer != DIALOG_FAILED) {
        PostMessageW(app->mainWindow, WM_CLOSE, 0, 0);
    }
    return 0;
}

int AskSaveChanges(std::int32_t command)
{
    AppState* app = gApp;
    if (app->editWindow == nullptr || !Modified(app)) {
        return 0;
    }
    const INT_PTR answer = AskSaveChangesDialog(app->mainWindow);
    if (answer == IDNO) {
        return 0;
    }
    if (answer == DIALOG_FAILED) {
        ShowResultCode(app->mainWindow, RESULT_WINDOW_FAILED);
        return 1;
    }
    if (answer != IDYES) {
        return 1;
    }
    if (!SaveNow(app)) {
        return 1;
    }
    if (app->runState == RUN_IDLE) {
        return Modified(app) ? 1 : 0;
    }
    // The save job runs: the asking command is replayed when it has ended.
    if (app->pendingCommand != PENDING_CLOSE) {
        app->pendingCommand = command;
    }
    return 1;
}

void NewDocument()
{
    AppState* app = gApp;
    if (DeferCommand(app, PENDING_NEW)) {
        return;
    }
    if (AskSaveChanges(PENDING_NEW) != 0) {
        return;
    }
    app->documentIsContainer = 0;
    app->storedTextSize = 0;
    WipeDocumentBuffers(app);
    if (app->editWindow != nullptr) {
        WipeEditText(app->editWindow);
        SendMessageW(app->editWindow, EM_SETMODIFY, FALSE, 0);
    }
    SetWindowTextW(app->mainWindow, app->appName);
}

int OpenDocument(int fromCommandLine)
{
    AppState* app = gApp;
    if (DeferCommand(app, PENDING_OPEN)) {
        return 0;
    }
    if (AskSaveChanges(PENDING_OPEN) != 0) {
        return 0;
    }
    app->runState = RUN_BUSY;
    if (fromCommandLine == 0 && !AskOpenFileName(app)) {
        finishJob(app, RESULT_OK);
        return 0;
    }
    app->commandLineOpen = fromCommandLine;
    return OpenRequestedFile(app, fromCommandLine);
}

void SaveDocument()
{
    AppState* app = gApp;
    if (DeferCommand(app, PENDING_SAVE)) {
        return;
    }
    SaveNow(app);
}

int SaveDocumentAs()
{
    AppState* app = gApp;
    if (DeferCommand(app, PENDING_SAVE_AS)) {
        return 0;
    }
    app->runState = RUN_BUSY;
    const INT_PTR answer = DialogBoxParamW(app->instance, MAKEINTRESOURCEW(IDD_SELECT_PASSWORD), app->mainWindow,
                                           SelectPasswordDialogProc, 0);
    if (answer == DIALOG_OK) {
        ProposeSaveName(app);
        if (AskSaveFileName(app)) {
            app->quickSave = 0;
            return startJob(app, saveJob);
        }
    } else if (answer == DIALOG_FAILED) {
        // Never a save under a password nobody chose.
        wipeObject(app->passwordEntry);
        ShowResultCode(app->mainWindow, RESULT_WINDOW_FAILED);
    }
    AbandonCommand(app);
    return 0;
}
