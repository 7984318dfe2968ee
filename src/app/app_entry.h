#pragma once
// Start-up and the message loop, shared by wWinMain and the GUI tests.
#include <windows.h>

#include <cstddef>

// The path named on the command line: one leading double quote skipped, then
// everything up to the next double quote or the end, at most 259 characters.
void ParseCommandLine(const wchar_t* commandLine, wchar_t* path, std::size_t capacity);
// Builds the application record, reads the settings, registers the window
// class, creates and shows the main window and opens a file named on the
// command line. False when the program must end at once (exit code 0).
bool StartApplication(HINSTANCE instance, const wchar_t* commandLine);
// Runs until the main window has closed in order; returns WM_QUIT's exit code.
// A quit request from anywhere else becomes an ordinary close of the window.
int RunMessageLoop();
