#include <windows.h>

#include "app/app_state.h"

#include <cstddef>
#include <cstring>

#include "platform/secure_wipe.h"

AppState* gApp = nullptr;

namespace {

void SetDefaults(AppState* app)
{
    app->appName = L"Tarnwick";
    app->pendingCommand = PENDING_NONE;
    app->fontSize = FONT_SIZE_DEFAULT;
    app->fontFace = FONT_FACE_COURIER_NEW;
    app->margin = MARGIN_MIN;
    app->dpi = BASE_DPI;
    app->backColor = RGB(255, 255, 255);
    app->textColor = RGB(0, 0, 0);
    app->readOnlyBackColor = RGB(240, 240, 240);
    app->runState = RUN_IDLE;
    initSession(&app->containerSession);
}

// Owns the record for the life of the process: its destructor runs at exit
// and leaves no header bytes or session buffers behind.
struct AppStateHolder {
    AppState state;

    AppStateHolder()
    {
        std::memset(&state, 0, sizeof state);
        SetDefaults(&state);
    }
    ~AppStateHolder()
    {
        wipeObject(state.containerSession.header);
        teardownSession(&state.containerSession);
    }
    AppStateHolder(const AppStateHolder&) = delete;
    AppStateHolder& operator=(const AppStateHolder&) = delete;
};

}  // namespace

AppState* EnterAppState()
{
    static AppStateHolder holder;
    gApp = &holder.state;
    return gApp;
}

void ResetAppState(AppState* app)
{
    teardownSession(&app->containerSession);
    secureWipe(app, sizeof *app);
    SetDefaults(app);
}

void WipeDocumentBuffers(AppState* app)
{
    auto* first = reinterpret_cast<unsigned char*>(app->requestedPath);
    auto* end = reinterpret_cast<unsigned char*>(app->findText) + sizeof app->findText;
    secureWipe(first, static_cast<std::size_t>(end - first));
}

bool DeferCommand(AppState* app, std::int32_t pending)
{
    if (app->runState == RUN_IDLE) {
        return false;
    }
    if (app->runState == RUN_BUSY && app->pendingCommand != PENDING_CLOSE) {
        app->pendingCommand = pending;
    }
    return true;
}
