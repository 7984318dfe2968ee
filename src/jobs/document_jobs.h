#pragma once
// Opening and saving run on one worker thread at a time; these start a job,
// run it, and end it on the user-interface thread.
#include <cstdint>

#include "platform/result_codes.h"

struct AppState;
struct ContainerHeader;

// A stored text below this size is not re-saved silently: Save asks for a
// name and a password instead.
inline constexpr std::int32_t QUICK_SAVE_MIN_SIZE = 10;

// A job's thread procedure: receives the AppState and returns 0.
using JobProcedure = unsigned(__stdcall*)(void* app);

// Starts job on a worker thread under a fresh jobToken. 0 and nothing done
// unless runState is RUN_BUSY; when no thread can be created, ends the job
// through finishJob with RESULT_THREAD_FAILED and returns 0. 1 when started.
int startJob(AppState* app, JobProcedure job);
// Ends a job or an abandoned command on the user-interface thread: clears
// passwordEntry, shows a non-zero code (or, after a plain file was loaded in
// part, how much of it), closes the program after a failed command-line open,
// replays the deferred command and returns to RUN_IDLE.
// Does nothing while the window is closing.
void finishJob(AppState* app, ResultCode code);
#ifdef TARNWICK_FAULT_INJECTION
// For tests: the next count job threads are refused, as when the system
// cannot start one.
void refuseJobThreads(int count);
#endif
// Posts the message that replays a deferred command (nothing for PENDING_NONE).
void replayPendingCommand(AppState* app);

// The jobs. Each reports WM_DOCUMENT_SYNCED on success and WM_JOB_DONE last,
// and leaves the edit control's text and the document state as they were when
// it fails.
// Deciphers requestedPath (header already read into containerSession) under
// passwordEntry's password and loads its text.
unsigned __stdcall openEncryptedJob(void* app);
// Saves the edit control's text as a container: quickSave 1 to documentPath
// under rememberedPassword, 0 to requestedPath under passwordEntry.
unsigned __stdcall saveJob(void* app);
// Loads requestedPath as plain text. A file over 8 MiB loads its first 8 MiB
// as a new document without a path; finishJob then says how much was loaded.
unsigned __stdcall openPlainJob(void* app);
