#pragma once
// What an interrupted run must undo: temporary files that would otherwise be
// left behind half written, and a terminal left without echo.
#include <string>

// Installs the handlers for Ctrl-C, termination and hang-up (console control
// handler on Windows). On such a signal every registered file is deleted, the
// terminal is restored and the process ends as the signal says.
void installInterruptCleanup();

// Registers a temporary file (native path syntax, UTF-8). Returns a slot for
// forgetTemporaryFile, or -1 when the table is full (the file is then simply
// not cleaned up on an interrupt).
int rememberTemporaryFile(const std::string& path);
void forgetTemporaryFile(int slot);

#ifdef _WIN32
// The console input handle and the mode to restore while echo is off.
void rememberConsoleMode(void* input, unsigned long mode);
#else
struct termios;
// The terminal and its settings to restore while echo is off.
void rememberTerminal(int descriptor, const struct termios& settings);
#endif
void forgetTerminal();

// A change that is already made (a file replaced in place): an interrupt from
// now on still ends the process, but first says so on standard error
// ("vtxt: <text>", escaped).
void reportOnInterrupt(const std::string& text);

// Holds Ctrl-C and termination back while it lives, for a step that must not be
// cut short (the replacement of a file in place); one that came meanwhile takes
// effect when it ends.
class DeferredInterrupts {
public:
    DeferredInterrupts();
    ~DeferredInterrupts();
    DeferredInterrupts(const DeferredInterrupts&) = delete;
    DeferredInterrupts& operator=(const DeferredInterrupts&) = delete;

private:
#ifndef _WIN32
    unsigned char saved_[128];  // the previous signal mask (a sigset_t)
#endif
};
