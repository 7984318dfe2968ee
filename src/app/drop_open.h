#pragma once
// Files dropped on the main window: the first one opens as a file chosen in
// File > Open would, after the same unsaved-changes question.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>

// Posted to the main window to open the dropped file once the save that the
// unsaved-changes question started has ended.
inline constexpr UINT WM_OPEN_DROPPED = WM_APP + 4;
// A pendingCommand value beside the PENDING_ ones: a dropped file waits for
// that save. finishJob replays nothing for it; ReplayDroppedFile does.
inline constexpr std::int32_t PENDING_OPEN_DROPPED = 8;
// The dropped path: at most what the Open dialog takes.
inline constexpr std::size_t DROPPED_PATH_CAPACITY = 260;

struct DroppedFile {
    wchar_t path[DROPPED_PATH_CAPACITY];
};

// WM_DROPFILES: takes the first path and releases the drop; tells when there
// were several; opens the file. Ignored while a job runs, a dialog is open or
// the document is locked.
void OnDropFiles(HWND window, HDROP drop);
// WM_OPEN_DROPPED, and the open itself: the unsaved-changes question, then the
// file as Open opens it (password dialog and errors included).
void OpenDroppedFile();
// After a job, given the pendingCommand it ended with: a dropped file that
// waited for it is opened now, one replaced by a later command forgotten.
void ReplayDroppedFile(std::int32_t pending);
