#pragma once
// The document commands of the File menu and the unsaved-changes prompt that
// guards New, Open and closing the window. All run on the user-interface thread.
#include <cstdint>

struct AppState;

// command: PENDING_CLOSE, PENDING_NEW or PENDING_OPEN, the command that asks.
// 0: go on with the command; non-zero: stop it (cancelled, or a save was
// started and the command will be replayed when it ends).
int AskSaveChanges(std::int32_t command);
// Empties the document and forgets its path and passwords. Deferred while busy.
void NewDocument();
// Opens a document (fromCommandLine 1: requestedPath, no file dialog).
// 1 if a job was started, else 0. Deferred while busy.
int OpenDocument(int fromCommandLine);
// Saves silently when the document has a remembered container password,
// otherwise runs SaveDocumentAs. Deferred while busy.
void SaveDocument();
// Asks for a new password and a file name, then saves. 1 if a save job was
// started, else 0. Deferred while busy.
int SaveDocumentAs();
// Reads the header of requestedPath and starts the job that suits the file,
// or ends the command with the reason it cannot be opened: Open's steps once
// a file was chosen, with runState already RUN_BUSY. 1 if a job started.
int OpenRequestedFile(AppState* app, int fromCommandLine);
