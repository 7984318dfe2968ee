#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "cli/cli_cleanup.h"

#include <atomic>
#include <cstring>

#include "cli/cli_console.h"
#include "platform/platform.h"

namespace {

// Fixed storage: the handler may run at any moment and must not allocate.
constexpr int TEMPORARY_SLOTS = 8;
constexpr std::size_t PATH_CAPACITY = 4096;

struct TemporarySlot {
    std::atomic<bool> used;
    NativePathChar path[PATH_CAPACITY];
};

TemporarySlot temporarySlots[TEMPORARY_SLOTS];

// The line reportOnInterrupt leaves for the handler, written before it ends.
constexpr std::size_t NOTE_CAPACITY = 8192;
char interruptNote[NOTE_CAPACITY];
std::size_t interruptNoteLength = 0;
std::atomic<bool> interruptNoteSet{false};

void writeInterruptNote()
{
    if (!interruptNoteSet.load()) {
        return;
    }
#ifdef _WIN32
    writeText(StandardStream::Error, std::string_view(interruptNote, interruptNoteLength));
#else
    [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, interruptNote, interruptNoteLength);
#endif
}

#ifdef _WIN32
std::atomic<bool> interruptsDeferred{false};
std::atomic<bool> interruptPending{false};
std::atomic<bool> consoleSaved{false};
HANDLE consoleInput = nullptr;
DWORD consoleMode = 0;

BOOL WINAPI onConsoleControl(DWORD)
{
    if (interruptsDeferred.load()) {
        interruptPending.store(true);
        return TRUE;
    }
    if (consoleSaved.load()) {
        SetConsoleMode(consoleInput, consoleMode);
    }
    for (TemporarySlot& slot : temporarySlots) {
        if (slot.used.load()) {
            deleteNativePath(slot.path);
        }
    }
    writeInterruptNote();
    return FALSE;  // the default handler ends the process
}
#else
std::atomic<bool> terminalSaved{false};
int terminalDescriptor = -1;
struct termios terminalSettings;

void onInterrupt(int signalNumber)
{
    if (terminalSaved.load()) {
        tcsetattr(terminalDescriptor, TCSAFLUSH, &terminalSettings);
        const char newline = '\n';
        [[maybe_unused]] const ssize_t ignored = write(terminalDescriptor, &newline, 1);
    }
    for (TemporarySlot& slot : temporarySlots) {
        if (slot.used.load()) {
            deleteNativePath(slot.path);
        }
    }
    writeInterruptNote();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}
#endif

}  // namespace

void installInterruptCleanup()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaction(signalNumber, &action, nullptr);
    }
    // A closed pipe on standard output is reported as a failed write instead of
    // ending the process before its buffers are wiped.
    signal(SIGPIPE, SIG_IGN);
#endif
}

int rememberTemporaryFile(const std::string& path)
{
#ifdef _WIN32
    const std::u16string wide = utf8ToUtf16(path);
    if (wide.size() >= PATH_CAPACITY) {
        return -1;
    }
#else
    if (path.size() >= PATH_CAPACITY) {
        return -1;
    }
#endif
    for (int k = 0; k < TEMPORARY_SLOTS; ++k) {
        TemporarySlot& slot = temporarySlots[k];
        if (!slot.used.load()) {
#ifdef _WIN32
            std::memcpy(slot.path, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
#else
            std::memcpy(slot.path, path.c_str(), path.size() + 1);
#endif
            slot.used.store(true);
            return k;
        }
    }
    return -1;
}

void forgetTemporaryFile(int slot)
{
    if (slot >= 0 && slot < TEMPORARY_SLOTS) {
        temporarySlots[slot].used.store(false);
    }
}

#ifdef _WIN32
void rememberConsoleMode(void* input, unsigned long mode)
{
    consoleInput = static_cast<HANDLE>(input);
    consoleMode = mode;
    consoleSaved.store(true);
}

void forgetTerminal()
{
    consoleSaved.store(false);
}
#else
void rememberTerminal(int descriptor, const struct termios& settings)
{
    terminalDescriptor = descriptor;
    terminalSettings = settings;
    terminalSaved.store(true);
}

void forgetTerminal()
{
    terminalSaved.store(false);
}
#endif

void reportOnInterrupt(const std::string& text)
{
    const std::string line = "vtxt: " + escapeForTerminal(text) + "\n";
    // The handler may run on another thread at any moment: it reads the line
    // only while the flag is set, and the flag is set after the line is complete.
    interruptNoteSet.store(false);
    interruptNoteLength = line.size() < NOTE_CAPACITY ? line.size() : NOTE_CAPACITY;
    std::memcpy(interruptNote, line.data(), interruptNoteLength);
    interruptNoteSet.store(true);
}

#ifdef _WIN32
DeferredInterrupts::DeferredInterrupts()
{
    interruptsDeferred.store(true);
}

DeferredInterrupts::~DeferredInterrupts()
{
    interruptsDeferred.store(false);
    if (interruptPending.load()) {
        onConsoleControl(CTRL_C_EVENT);
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
}
#else
static_assert(sizeof(sigset_t) <= 128);

DeferredInterrupts::DeferredInterrupts() : saved_{}
{
    sigset_t held;
    sigemptyset(&held);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaddset(&held, signalNumber);
    }
    pthread_sigmask(SIG_BLOCK, &held, reinterpret_cast<sigset_t*>(saved_));
}

DeferredInterrupts::~DeferredInterrupts()
{
    pthread_sigmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(saved_), nullptr);
}
#endif
