#pragma once
// Cut and Copy of a container document's text. Windows may keep copied text
// in the clipboard history and upload it to the user's other devices; the
// text of an encrypted document goes to the clipboard with the formats that
// forbid both, and leaves it when the program ends.
#include <windows.h>

// Copies the selection of the edit control (cut: and removes it, as the
// control's own Cut does) when the document is a container: the text as
// CF_UNICODETEXT, beside "ExcludeClipboardContentFromMonitorProcessing",
// "CanIncludeInClipboardHistory" (0) and "CanUploadToCloudClipboard" (0).
// False, with nothing done, for a plain document: the control copies it.
bool CopySelectionPrivately(HWND edit, bool cut);
// At exit (the window's close, while the window still owns the clipboard, or
// the end of the session): when the clipboard still holds the text of our
// last private Cut or Copy (the main window owns it and nothing was copied
// since), the text is overwritten and the clipboard emptied.
void ReleasePrivateClipboard();
