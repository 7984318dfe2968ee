#include <windows.h>
#include <process.h>

#include "jobs/document_jobs.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>

#include "app/app_state.h"
#include "app/document_lock.h"
#include "app/view_settings.h"
#include "cipher/checksum.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "dialogs/message_dialogs.h"
#include "dialogs/password_dialogs.h"
#include "platform/locked_memory.h"
#include "platform/platform.h"
#include "platform/secure_wipe.h"
#include "platform/wide_text.h"
#include "resources/resource.h"
#include "text/loaded_text.h"
#include "text/text_encoding.h"

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

// Plain files beyond this are loaded only as far as this.
constexpr std::uint32_t PLAIN_READ_LIMIT = 8388608;

// The notice after a plain file was loaded in part: the bytes loaded, the file's size.
constexpr const wchar_t* PARTIAL_LOAD_CAPTION = L"File Too Large";
constexpr const wchar_t* PARTIAL_LOAD_TEXT =
    L"Only the first %ls bytes of this file of %ls bytes were loaded. They open as a new document, so that "
    L"saving cannot replace the file with a part of it.";
constexpr std::size_t PARTIAL_LOAD_TEXT_CAPACITY = 256;
// A save refused because the file has other names: replacing it would leave
// them with the old text and the old password.
constexpr const wchar_t* HARD_LINKS_TEXT =
    L"The file cannot be saved: it has other names (hard links), which would keep the old text and password. "
    L"Save it under a new name with Save As.";

// Hands the text to the edit control. False when the control refused it (it
// could not make room) or did not take it whole: such a text must never be
// taken for the file's.
bool sendText(const AppState* app, const char16_t* text)
{
    const char16_t* shown = skipByteOrderMark(text);
    if (SendMessageW(app->editWindow, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(shown)) == FALSE) {
        return false;
    }
    const std::size_t length = std::char_traits<char16_t>::length(shown);
    return static_cast<std::size_t>(GetWindowTextLengthW(app->editWindow)) == length;
}

void reportSynced(const AppState* app)
{
    SendNotifyMessageW(app->mainWindow, WM_DOCUMENT_SYNCED, DOCUMENT_SYNCED_FLAG, 0);
}

void reportDone(const AppState* app, ResultCode code)
{
    SendNotifyMessageW(app->mainWindow, WM_JOB_DONE, app->jobToken, static_cast<LPARAM>(code));
}

void copyPath(wchar_t (&target)[PATH_CAPACITY], const wchar_t (&source)[PATH_CAPACITY])
{
    std::memcpy(target, source, sizeof target);
}

// The typed password and hint become the document's.
void rememberEnteredPassword(AppState* app)
{
    wipeObject(app->rememberedPassword);
    std::memcpy(app->rememberedPassword.password, app->passwordEntry.password, sizeof app->passwordEntry.password);
    std::memcpy(app->rememberedPassword.hint, app->passwordEntry.hint, sizeof app->passwordEntry.hint);
    PrepareDocumentLock(app, app->passwordEntry.password, app->passwordEntry.hint);
}

// The deciphering part of the open job, between unprotecting and protecting
// the passwords. Loads the text and the document state on success.
ResultCode openEncrypted(AppState* app, LockedBuffer& buffer, const OpenBufferSize& size, bool isTextContainer)
{
    ContainerSession* session = &app->containerSession;
    if (openContainer(session, text16(app->requestedPath)) != RESULT_OK) {
        return session->result;
    }
    if (!withinMemoryLimit(session->header)) {
        return RESULT_LIMIT_EXCEEDED;
    }
    if (setupKey(session, text16(app->passwordEntry.password)) != RESULT_OK) {
        return session->result;
    }
    decryptPayload(session, buffer.data(), size.capacity);
    teardownSession(session);
    if (session->result != RESULT_OK) {
        return session->result;
    }
    const std::uint32_t plainSize = cappedPlainSize(session->header);
    const std::size_t textLength = openedTextLength(session->header, size.capacity);

    LockedBuffer converted;
    const char16_t* text = nullptr;
    if (const ResultCode code = loadedBytesToText(&buffer, textLength, size.source, &converted, &text);
        code != RESULT_OK) {
        return code;
    }
    if (!sendText(app, text)) {
        return RESULT_OUT_OF_MEMORY;
    }

    copyPath(app->documentPath, app->requestedPath);
    rememberEnteredPassword(app);
    if (isTextContainer) {
        app->documentIsContainer = 1;
        if ((session->header.flags & HEADER_FLAG_SHORT_TEXT) != 0) {
            app->storedTextSize = static_cast<std::int32_t>(SHORT_TEXT_SIZE);
        } else {
            app->storedTextSize = static_cast<std::int32_t>(plainSize);
        }
        if (app->storedTextSize < QUICK_SAVE_MIN_SIZE) {
            wipeObject(app->rememberedPassword);
        }
    } else {
        app->documentIsContainer = 0;
        app->storedTextSize = 0;
        wipeObject(app->rememberedPassword);
    }
    reportSynced(app);
    return RESULT_OK;
}

ResultCode readPlainFile(AppState* app, FileHandle file)
{
    std::uint64_t size = 0;
    if (!fileSize(file, &size)) {
        return RESULT_OPEN_FAILED;
    }
    const std::uint32_t n = size >= PLAIN_READ_LIMIT ? PLAIN_READ_LIMIT : static_cast<std::uint32_t>(size);
    LockedBuffer raw;
    if (!raw.allocate(n)) {
        return RESULT_OUT_OF_MEMORY;
    }
    // Bytes that were not read stay zero; the count read is not needed.
    std::uint32_t got = 0;
    if (!readFile(file, raw.data(), n, &got)) {
        return RESULT_READ_FAILED;
    }
    LockedBuffer converted;
    const char16_t* text = nullptr;
    if (const ResultCode code = loadedBytesToText(&raw, n, LOADED_PLAIN_FILE, &converted, &text); code != RESULT_OK) {
        return code;
    }
    if (!sendText(app, text)) {
        return RESULT_OUT_OF_MEMORY;
    }
    app->documentIsContainer = 0;
    app->storedTextSize = 0;
    wipeObject(app->rememberedPassword);
    if (size > n) {
        // Only the start of the file is in the editor: it becomes a new
        // document, with no path a Save could overwrite the whole file at.
        // finishJob tells the user and marks it as changed.
        wipeObject(app->documentPath);
        app->partialLoadBytes = n;
        app->partialFileBytes = size;
        return RESULT_OK;
    }
    copyPath(app->documentPath, app->requestedPath);
    reportSynced(app);
    return RESULT_OK;
}

// Digits in groups of three, as "10,485,760".
void formatCount(std::uint64_t value, wchar_t* out, std::size_t capacity)
{
    wchar_t digits[32];
    std::size_t count = 0;
    do {
        if (count % 4 == 3) {
            digits[count++] = L',';
        }
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0 && count < std::size(digits));
    std::size_t used = 0;
    while (count > 0 && used + 1 < capacity) {
        out[used++] = digits[--count];
    }
    out[used] = L'\0';
}

// The plain file just opened was cut to what the editor loads: the document
// is new and changed, and the user learns how much of the file it holds.
void reportPartialLoad(AppState* app)
{
    wchar_t loaded[32];
    wchar_t whole[32];
    formatCount(app->partialLoadBytes, loaded, std::size(loaded));
    formatCount(app->partialFileBytes, whole, std::size(whole));
    app->partialLoadBytes = 0;
    app->partialFileBytes = 0;
    SendMessageW(app->editWindow, EM_SETMODIFY, TRUE, 0);
    SetWindowTextW(app->mainWindow, app->appName);
    wchar_t text[PARTIAL_LOAD_TEXT_CAPACITY];
    std::swprintf(text, std::size(text), PARTIAL_LOAD_TEXT, loaded, whole);
    ShowMessageText(app->mainWindow, PARTIAL_LOAD_CAPTION, text);
}

// The failure under the title of its code; a save refused for hard links
// says why in a text of its own.
void showJobFailure(AppState* app, ResultCode code)
{
    ResultText text{};
    if (code == RESULT_SAVE_FAILED && saveRefusedForHardLinks(&app->containerSession) &&
        LookupResultText(code, &text)) {
        ShowMessageText(app->mainWindow, wideText(text.title), HARD_LINKS_TEXT);
        return;
    }
    ShowResultCode(app->mainWindow, code);
}

#ifdef TARNWICK_FAULT_INJECTION
std::atomic<int> refusedJobThreads{0};

bool jobThreadRefused()
{
    int left = refusedJobThreads.load();
    while (left > 0 && !refusedJobThreads.compare_exchange_weak(left, left - 1)) {
    }
    return left > 0;
}
#else
constexpr bool jobThreadRefused()
{
    return false;
}
#endif

}  // namespace

#ifdef TARNWICK_FAULT_INJECTION
void refuseJobThreads(int count)
{
    refusedJobThreads = count;
}
#endif

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
    const std::uintptr_t thread = jobThreadRefused() ? 0 : _beginthreadex(nullptr, 0, job, app, 0, &threadId);
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
    // A text just loaded over a longer one leaves that one's tail in the
    // control's buffer.
    if (app->editWindow != nullptr) {
        WipeEditSlack(app->editWindow);
    }
    if (code != RESULT_OK) {
        showJobFailure(app, code);
        if (app->commandLineOpen != 0) {
            app->pendingCommand = PENDING_CLOSE;
        }
    } else if (app->partialFileBytes != 0) {
        reportPartialLoad(app);
    }
    app->commandLineOpen = 0;
    replayPendingCommand(app);
    app->pendingCommand = PENDING_NONE;
    app->runState = RUN_IDLE;
}

unsigned __stdcall openEncryptedJob(void* argument)
{
    auto* app = static_cast<AppState*>(argument);
    ContainerSession* session = &app->containerSession;
    const bool isTextContainer = equalsIgnoreCase(fileExtension(text16(app->requestedPath)), u"vtxt");
    const OpenBufferSize size = sizeOpenBuffer(session->header, isTextContainer);

    ResultCode code = RESULT_OK;
    LockedBuffer buffer;
    if (!buffer.allocate(size.capacity)) {
        teardownSession(session);
        reportDone(app, RESULT_OUT_OF_MEMORY);
        return 0;
    }
    if (UnprotectPasswords(app) == 0) {
        code = RESULT_MEMORY_PROTECT_FAILED;
    } else {
        code = openEncrypted(app, buffer, size, isTextContainer);
        ProtectRememberedPassword(app);
    }
    teardownSession(session);
    buffer.release();
    reportDone(app, code);
    return 0;
}

unsigned __stdcall saveJob(void* argument)
{
    auto* app = static_cast<AppState*>(argument);
    ContainerSession* session = &app->containerSession;
    SendMessageW(app->editWindow, EM_SETREADONLY, TRUE, 0);
    ResultCode code = RESULT_OK;
    {
        const auto count = static_cast<std::size_t>(GetWindowTextLengthW(app->editWindow));
        LockedBuffer wide;
        LockedBuffer utf8;
        if (!wide.allocate(2 * (count + 1)) || !utf8.allocate(4 * count + 1)) {
            teardownSession(session);
            code = RESULT_OUT_OF_MEMORY;
        } else {
            SendMessageW(app->editWindow, WM_GETTEXT, count + 1, reinterpret_cast<LPARAM>(wide.data()));
            const std::size_t bytes = encodeUtf8(wide.units(), utf8.data());
            const std::uint32_t level = chooseShuffleLevel(bytes - 1);
            if (UnprotectPasswords(app) == 0) {
                code = RESULT_MEMORY_PROTECT_FAILED;
            } else {
                if (app->quickSave != 0) {
                    code = saveContainer(session, utf8.data(), bytes - 1, text16(app->documentPath),
                                         text16(app->rememberedPassword.password), text16(app->rememberedPassword.hint),
                                         level);
                } else {
                    code = saveContainer(session, utf8.data(), bytes - 1, text16(app->requestedPath),
                                         text16(app->passwordEntry.password), text16(app->passwordEntry.hint), level);
                    if (code == RESULT_OK) {
                        copyPath(app->documentPath, app->requestedPath);
                        rememberEnteredPassword(app);
                    }
                }
                if (code == RESULT_OK) {
                    app->documentIsContainer = 1;
                    app->storedTextSize = static_cast<std::int32_t>(cappedPlainSize(session->header));
                    if (app->storedTextSize < QUICK_SAVE_MIN_SIZE) {
                        wipeObject(app->rememberedPassword);
                    }
                    reportSynced(app);
                }
                ProtectRememberedPassword(app);
            }
            teardownSession(session);
        }
    }
    if (code != RESULT_OK) {
        app->storedTextSize = 0;
        app->commandLineOpen = 0;
    }
    SendMessageW(app->editWindow, EM_SETREADONLY, FALSE, 0);
    reportDone(app, code);
    return 0;
}

unsigned __stdcall openPlainJob(void* argument)
{
    auto* app = static_cast<AppState*>(argument);
    app->partialLoadBytes = 0;
    app->partialFileBytes = 0;
    ResultCode code = RESULT_OPEN_FAILED;
    const FileHandle file = openFileForRead(text16(app->requestedPath));
    if (file != INVALID_FILE) {
        code = readPlainFile(app, file);
        closeFile(file);
    }
    reportDone(app, code);
    return 0;
}
