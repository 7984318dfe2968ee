#include <windows.h>

#include "dialogs/password_dialogs.h"

#include <cstdint>
#include <cwchar>
#include <initializer_list>

#include "app/app_state.h"
#include "app/view_settings.h"
#include "dialogs/message_dialogs.h"
#include "platform/secure_wipe.h"
#include "resources/resource.h"

namespace {

constexpr wchar_t MASK_CHARACTER = L'\x25CF';
constexpr WPARAM PASSWORD_LIMIT = PASSWORD_CAPACITY - 1;
constexpr WPARAM HINT_LIMIT = HINT_CAPACITY - 1;
// CryptProtectMemory works on whole blocks of this size.
constexpr std::uint32_t PROTECT_BLOCK = 16;
constexpr DWORD SAME_PROCESS = 0;

bool ProtectionAvailable(const AppState* app)
{
    return app->protectMemoryFn != nullptr && app->unprotectMemoryFn != nullptr;
}

std::uint32_t PasswordByteSum(const wchar_t (&password)[PASSWORD_CAPACITY])
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(password);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < sizeof password; ++i) {
        sum += bytes[i];
    }
    return sum;
}

// Fills in the record's block count and sum, then protects the password.
template <class Record>
int ProtectRecord(const AppState* app, Record& record)
{
    if (!ProtectionAvailable(app)) {
        return 1;
    }
    const auto length = static_cast<std::uint32_t>(wcsnlen(record.password, PASSWORD_CAPACITY));
    record.protectedBlocks = (length * 2 + PROTECT_BLOCK - 1) / PROTECT_BLOCK;
    record.byteSum = PasswordByteSum(record.password);
    if (record.protectedBlocks == 0) {
        return 1;
    }
    return app->protectMemoryFn(record.password, record.protectedBlocks * PROTECT_BLOCK, SAME_PROCESS) ? 1 : 0;
}

template <class Record>
bool UnprotectRecord(const AppState* app, Record& record)
{
    if (record.protectedBlocks == 0) {
        return true;
    }
    return app->unprotectMemoryFn(record.password, record.protectedBlocks * PROTECT_BLOCK, SAME_PROCESS) != FALSE;
}

void SetMask(HWND dialog, int id, wchar_t mask)
{
    SendDlgItemMessageW(dialog, id, EM_SETPASSWORDCHAR, mask, 0);
    SendDlgItemMessageW(dialog, id, EM_SETMARGINS, EC_RIGHTMARGIN, MAKELPARAM(0, 0));
}

void FocusField(HWND dialog, int id)
{
    PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
}

void ShowCentered(HWND dialog)
{
    ShowWindow(dialog, SW_SHOW);
    CenterWindow(dialog, GetParent(dialog));
}

// Copies a field into buffer (capacity units with the terminator), then
// overwrites and empties the field.
template <std::size_t N>
void TakeField(HWND dialog, int id, wchar_t (&buffer)[N])
{
    GetDlgItemTextW(dialog, id, buffer, static_cast<int>(N));
    WipeEditText(GetDlgItem(dialog, id));
}

// Whichever way a password dialog ends (OK, Cancel, Escape, its close, its
// owner going away), no typed password stays behind in its fields.
INT_PTR WipePasswordFields(HWND dialog, std::initializer_list<int> ids)
{
    for (int id : ids) {
        WipeEditText(GetDlgItem(dialog, id));
    }
    return TRUE;
}

INT_PTR OnEnterPasswordInit(HWND dialog)
{
    AppState* app = gApp;
    CheckDlgButton(dialog, IDC_SHOW_PASSWORD, BST_UNCHECKED);
    SendDlgItemMessageW(dialog, IDC_PASSWORD, EM_SETPASSWORDCHAR, MASK_CHARACTER, 0);
    SendDlgItemMessageW(dialog, IDC_PASSWORD, EM_LIMITTEXT, PASSWORD_LIMIT, 0);
    wipeObject(app->passwordEntry);
    const char16_t* hint = app->containerSession.header.hint;
    for (std::size_t i = 0; i + 1 < HINT_CAPACITY && hint[i] != 0; ++i) {
        app->passwordEntry.hint[i] = static_cast<wchar_t>(hint[i]);
    }
    SetDlgItemTextW(dialog, IDC_HINT, app->passwordEntry.hint);
    app->passwordFocusEdit = GetDlgItem(dialog, IDC_PASSWORD);
    FocusField(dialog, IDC_PASSWORD);
    ShowCentered(dialog);
    return TRUE;
}

void OnEnterPasswordOk(HWND dialog)
{
    AppState* app = gApp;
    PasswordEntry& entry = app->passwordEntry;
    wipeObject(entry.password);
    TakeField(dialog, IDC_PASSWORD, entry.password);
    if (ProtectPasswordEntry(app) != 0) {
        EndDialog(dialog, 1);
        return;
    }
    // The hint stays: it is the file's, and a later silent save stores it again.
    entry.protectedBlocks = 0;
    entry.byteSum = 0;
    wipeObject(entry.password);
    wipeObject(entry.confirm);
    ShowResultCode(dialog, RESULT_MEMORY_PROTECT_FAILED);
    FocusField(dialog, IDC_PASSWORD);
}

INT_PTR OnSelectPasswordInit(HWND dialog)
{
    CheckDlgButton(dialog, IDC_SHOW_PASSWORD, BST_UNCHECKED);
    for (int id : {IDC_NEW_PASSWORD, IDC_CONFIRM_PASSWORD}) {
        SendDlgItemMessageW(dialog, id, EM_SETPASSWORDCHAR, MASK_CHARACTER, 0);
        SendDlgItemMessageW(dialog, id, EM_LIMITTEXT, PASSWORD_LIMIT, 0);
    }
    SendDlgItemMessageW(dialog, IDC_HINT, EM_LIMITTEXT, HINT_LIMIT, 0);
    gApp->passwordFocusEdit = GetDlgItem(dialog, IDC_NEW_PASSWORD);
    FocusField(dialog, IDC_NEW_PASSWORD);
    ShowCentered(dialog);
    return TRUE;
}

void OnSelectPasswordOk(HWND dialog)
{
    AppState* app = gApp;
    PasswordEntry& entry = app->passwordEntry;
    wipeObject(entry);
    TakeField(dialog, IDC_NEW_PASSWORD, entry.password);
    TakeField(dialog, IDC_CONFIRM_PASSWORD, entry.confirm);
    GetDlgItemTextW(dialog, IDC_HINT, entry.hint, static_cast<int>(HINT_CAPACITY));
    if (std::wcsncmp(entry.password, entry.confirm, PASSWORD_CAPACITY) != 0) {
        wipeObject(entry);
        ShowResultCode(dialog, RESULT_PASSWORD_MISMATCH);
        FocusField(dialog, IDC_NEW_PASSWORD);
        return;
    }
    if (ProtectPasswordEntry(app) != 0) {
        EndDialog(dialog, 1);
        return;
    }
    wipeObject(entry);
    ShowResultCode(dialog, RESULT_MEMORY_PROTECT_FAILED);
    FocusField(dialog, IDC_NEW_PASSWORD);
}

// Remembers the field the user was in, for the Show button.
void NoteFocusEdit(LPARAM control)
{
    gApp->passwordFocusEdit = reinterpret_cast<HWND>(control);
}

INT_PTR OnEnterPasswordCommand(HWND dialog, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
        case IDOK:
            OnEnterPasswordOk(dialog);
            return TRUE;
        case IDCANCEL:
            PostMessageW(dialog, WM_CLOSE, 0, 0);
            return TRUE;
        case IDC_PASSWORD:
        case IDC_HINT:
            NoteFocusEdit(lParam);
            return TRUE;
        case IDC_SHOW_PASSWORD:
            ToggleShowPassword(dialog, IDC_PASSWORD, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR OnSelectPasswordCommand(HWND dialog, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
        case IDOK:
            OnSelectPasswordOk(dialog);
            return TRUE;
        case IDCANCEL:
            PostMessageW(dialog, WM_CLOSE, 0, 0);
            return TRUE;
        case IDC_NEW_PASSWORD:
        case IDC_CONFIRM_PASSWORD:
        case IDC_HINT:
            NoteFocusEdit(lParam);
            return TRUE;
        case IDC_SHOW_PASSWORD:
            ToggleShowPassword(dialog, IDC_NEW_PASSWORD, IDC_CONFIRM_PASSWORD);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK EnterPasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
        case WM_INITDIALOG:
            return OnEnterPasswordInit(dialog);
        case WM_COMMAND:
            return OnEnterPasswordCommand(dialog, wParam, lParam);
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
        case WM_DESTROY:
            return WipePasswordFields(dialog, {IDC_PASSWORD});
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK SelectPasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
        case WM_INITDIALOG:
            return OnSelectPasswordInit(dialog);
        case WM_COMMAND:
            return OnSelectPasswordCommand(dialog, wParam, lParam);
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
        case WM_DESTROY:
            return WipePasswordFields(dialog, {IDC_NEW_PASSWORD, IDC_CONFIRM_PASSWORD});
        default:
            return FALSE;
    }
}

void ToggleShowPassword(HWND dialog, int first, int second)
{
    HWND focus = gApp->passwordFocusEdit;
    if (focus == nullptr || !IsChild(dialog, focus)) {
        focus = GetDlgItem(dialog, first);
    }
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(focus, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const wchar_t mask = IsDlgButtonChecked(dialog, IDC_SHOW_PASSWORD) == BST_CHECKED ? L'\0' : MASK_CHARACTER;
    SetMask(dialog, first, mask);
    if (second != 0) {
        SetMask(dialog, second, mask);
    }
    InvalidateRect(GetDlgItem(dialog, first), nullptr, TRUE);
    if (second != 0) {
        InvalidateRect(GetDlgItem(dialog, second), nullptr, TRUE);
    }
    PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
    PostMessageW(focus, EM_SETSEL, start, static_cast<LPARAM>(end));
}

int ProtectPasswordEntry(AppState* app)
{
    return ProtectRecord(app, app->passwordEntry);
}

int ProtectRememberedPassword(AppState* app)
{
    if (ProtectRecord(app, app->rememberedPassword) != 0) {
        return 1;
    }
    app->storedTextSize = 0;
    wipeObject(app->rememberedPassword);
    return 0;
}

int UnprotectPasswords(AppState* app)
{
    if (!ProtectionAvailable(app)) {
        return 1;
    }
    const bool entryOk = UnprotectRecord(app, app->passwordEntry);
    const bool rememberedOk = UnprotectRecord(app, app->rememberedPassword);
    if (entryOk && rememberedOk && PasswordByteSum(app->passwordEntry.password) == app->passwordEntry.byteSum &&
        PasswordByteSum(app->rememberedPassword.password) == app->rememberedPassword.byteSum) {
        return 1;
    }
    app->storedTextSize = 0;
    wipeObject(app->rememberedPassword);
    return 0;
}
