#include <windows.h>

#include "dialogs/file_commands.h"

#include "app/app_state.h"
#include "app/view_settings.h"
#include "dialogs/message_dialogs.h"

namespace {

// Saves as Save does once it may act; true when a save job was started.
bool SaveForPrompt()
{
    // Until the save job exists, every save goes through Save As.
    return SaveDocumentAs() != 0;
}

}  // namespace

int AskSaveChanges(std::int32_t command)
{
    AppState* app = gApp;
    if (app->editWindow == nullptr || SendMessageW(app->editWindow, EM_GETMODIFY, 0, 0) == 0) {
        return 0;
    }
    const INT_PTR answer = AskSaveChangesDialog(app->mainWindow);
    if (answer == IDNO) {
        return 0;
    }
    if (answer != IDYES) {
        return 1;
    }
    if (!SaveForPrompt()) {
        return 1;
    }
    if (app->runState == RUN_IDLE) {
        return SendMessageW(app->editWindow, EM_GETMODIFY, 0, 0) != 0 ? 1 : 0;
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

int OpenDocument(int)
{
    if (DeferCommand(gApp, PENDING_OPEN)) {
        return 0;
    }
    return 0;
}

void SaveDocument()
{
    if (DeferCommand(gApp, PENDING_SAVE)) {
        return;
    }
}

int SaveDocumentAs()
{
    if (DeferCommand(gApp, PENDING_SAVE_AS)) {
        return 0;
    }
    return 0;
}
