#include <windows.h>

#include "app/clipboard.h"

#include <cstring>

#include "app/app_state.h"
#include "platform/secure_wipe.h"

namespace {

// Registered formats that keep a clipboard text out of the history and the
// cloud clipboard; the first with any content, the other two with a DWORD 0.
constexpr const wchar_t* PRIVACY_FORMATS[] = {L"ExcludeClipboardContentFromMonitorProcessing",
                                              L"CanIncludeInClipboardHistory", L"CanUploadToCloudClipboard"};

void PutPrivacyFormat(const wchar_t* name)
{
    const UINT format = RegisterClipboardFormatW(name);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DWORD));
    if (format == 0 || memory == nullptr) {
        if (memory != nullptr) {
            GlobalFree(memory);
        }
        return;
    }
    if (SetClipboardData(format, memory) == nullptr) {
        GlobalFree(memory);
    }
}

// The selected characters in a global block for the clipboard, read straight
// from the edit control's own buffer; null when there is nothing to copy.
HGLOBAL CopySelectedText(HWND edit)
{
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    if (end <= start) {
        return nullptr;
    }
    auto buffer = reinterpret_cast<HLOCAL>(SendMessageW(edit, EM_GETHANDLE, 0, 0));
    const auto* text = buffer != nullptr ? static_cast<const wchar_t*>(LocalLock(buffer)) : nullptr;
    if (text == nullptr) {
        return nullptr;
    }
    HGLOBAL memory = nullptr;
    if (end < LocalSize(buffer) / sizeof(wchar_t)) {
        const std::size_t count = end - start;
        memory = GlobalAlloc(GMEM_MOVEABLE, (count + 1) * sizeof(wchar_t));
        auto* copy = memory != nullptr ? static_cast<wchar_t*>(GlobalLock(memory)) : nullptr;
        if (copy != nullptr) {
            std::memcpy(copy, text + start, count * sizeof(wchar_t));
            copy[count] = L'\0';
            GlobalUnlock(memory);
        } else if (memory != nullptr) {
            GlobalFree(memory);
            memory = nullptr;
        }
    }
    LocalUnlock(buffer);
    return memory;
}

void WipeGlobal(HGLOBAL memory)
{
    void* bytes = GlobalLock(memory);
    if (bytes != nullptr) {
        secureWipe(bytes, GlobalSize(memory));
        GlobalUnlock(memory);
    }
}

}  // namespace

bool CopySelectionPrivately(HWND edit, bool cut)
{
    AppState* app = gApp;
    if (app->documentIsContainer == 0) {
        return false;
    }
    HGLOBAL text = CopySelectedText(edit);
    if (text == nullptr) {
        return true;  // nothing selected: nothing to copy, as with the control's own Copy
    }
    if (!OpenClipboard(app->mainWindow)) {
        WipeGlobal(text);
        GlobalFree(text);
        return true;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_UNICODETEXT, text) == nullptr) {
        WipeGlobal(text);
        GlobalFree(text);
    } else {
        for (const wchar_t* name : PRIVACY_FORMATS) {
            PutPrivacyFormat(name);
        }
    }
    CloseClipboard();
    app->privateClipboardSequence = GetClipboardSequenceNumber();
    if (cut) {
        // The control's own Clear: undoable, and nothing in a read-only control.
        CallWindowProcW(app->editClassProc, edit, WM_CLEAR, 0, 0);
    }
    return true;
}

void ReleasePrivateClipboard()
{
    AppState* app = gApp;

    if (app->privateClipboardSequence == 0 || GetClipboardOwner() != app->mainWindow ||
        GetClipboardSequenceNumber() != app->privateClipboardSequence) {
        return;
    }
    if (!OpenClipboard(app->mainWindow)) {
        return;
    }
    HANDLE text = GetClipboardData(CF_UNICODETEXT);
    if (text != nullptr) {
        WipeGlobal(text);
    }
    EmptyClipboard();
    CloseClipboard();
    app->privateClipboardSequence = 0;
}
