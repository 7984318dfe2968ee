#include <windows.h>
#include <process.h>

#include "jobs/document_jobs.h"

#include "app/app_state.h"
#include "cipher/checksum.h"
#include "dialogs/message_dialogs.h"
#include "platform/secure_wipe.h"
#include "resources/resource.h"

namespace {

// Identifies the job about to start: the application's handles and the
// previous job's thread id and token, so consecutive jobs differ.
std::uint32_t makeJobToken(const AppState* app)
{
    const std::uint64_t material[] = {
        reinterpret_cast<std::uintptr_t>(app->instance),
        app->processId,
        reinterpret_cast<std::uintptr_t>(app->crypt32Module),
        reinterpret_cast<std::uintptr_t>(app->mainWindow),
        reinterpret_cast<std::uintptr_t>(app->editWindow),
        reinterpret_cast<std::uintptr_t>(app->passwordFocusEdit),
        reinterpret_cast<std::uintptr_t>(app->findDialog),
        reinterpret_cast<std::uintptr_t>(app->editFont),
        reinterpret_cast<std::uintptr_t>(app->jobThread),
        app->jobThreadId,
        app->jobToken,
    };
    std::uint32_t token = rotateAddChecksum(material, sizeof material);
    if (token == app->jobToken) {
        ++token;
    }
    return token;
}

}  // namespace

int startJob(AppState* app, JobProcedure job)
{
    if (app->runState != RUN_BUSY) {
        return 0;
    }
    if (app->jobThread != nullptr) {
        CloseHandle(app->jobThread);
        app->jobThread = nullptr;
    }
    app->jobToken = makeJobToken(app);
    unsigned threadId = 0;
    const std::uintptr_t thread = _beginthreadex(nullptr, 0, job, app, 0, &threadId);
    if (thread == 0) {
        finishJob(app, RESULT_THREAD_FAILED);
        return 0;
    }
    app->jobThread = reinterpret_cast<HANDLE>(thread);
    app->jobThreadId = threadId;
    return 1;
}

void replayPendingCommand(AppState* app)
{
    static constexpr UINT COMMANDS[] = {0, 0, IDM_NEW, IDM_OPEN, IDM_SAVE, IDM_SAVE_AS, IDM_WORD_WRAP, IDM_ABOUT};
    const std::int32_t pending = app->pendingCommand;
    if (pending == PENDING_CLOSE) {
        PostMessageW(app->mainWindow, WM_CLOSE, 0, 0);
    } else if (pending > PENDING_CLOSE && pending <= PENDING_ABOUT) {
        PostMessageW(app->mainWindow, WM_COMMAND, COMMANDS[pending], 0);
    }
}

void finishJob(AppState* app, ResultCode code)
{
    if (app->runState == RUN_CLOSING || app->runState == RUN_CLOSED) {
        return;
    }
    wipeObject(app->passwordEntry);
    if (code != RESULT_OK) {
        ShowResultCode(app->mainWindow, code);
        if (app->commandLineOpen != 0) {
            app->pendingCommand = PENDING_CLOSE;
        }
    }
    app->commandLineOpen = 0;
    replayPendingCommand(app);
    app->pendingCommand = PENDING_NONE;
    app->runState = RUN_IDLE;
}
