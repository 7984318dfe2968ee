// The file layer's calls on Windows. A path with an unpaired surrogate is
// refused before any call: it could name one file here and another elsewhere.
#include <windows.h>

#include <new>

#include "platform/file_replacement.h"
#include "platform/file_replacement_parts.h"
#include "platform/system_path.h"
#include "platform/wide_text.h"

namespace {

HANDLE handleOf(FileHandle file)
{
    return reinterpret_cast<HANDLE>(file);
}

FileHandle fileOf(HANDLE handle)
{
    return reinterpret_cast<FileHandle>(handle);
}

bool fail(FileReplacement* replacement, ReplaceFailure failure, DWORD error)
{
    replacement->failure = failure;
    replacement->systemError = error;
    return false;
}

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info)
{
    return FileIdentity{info.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// Opens what path leads to (links followed) only to ask about it.
HANDLE openToQuery(const char16_t* path, DWORD flags)
{
    return CreateFileW(wideText(path), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

char16_t* copyOf(const wchar_t* text, std::size_t units)
{
    auto* copy = new (std::nothrow) char16_t[units + 1];
    if (copy != nullptr) {
        for (std::size_t k = 0; k < units; ++k) {
            copy[k] = static_cast<char16_t>(text[k]);
        }
        copy[units] = 0;
    }
    return copy;
}

// The path of an open file as the system names it ("\\?\C:\..."), allocated.
char16_t* finalPathOf(HANDLE handle)
{
    const DWORD needed = GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (needed == 0) {
        return nullptr;
    }
    auto* buffer = new (std::nothrow) wchar_t[needed + 1];
    if (buffer == nullptr) {
        return nullptr;
    }
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer, needed + 1, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    char16_t* path = (length == 0 || length > needed) ? nullptr : copyOf(buffer, length);
    delete[] buffer;
    return path;
}

}  // namespace

std::uint32_t lastSystemErrorCode()
{
    return GetLastError();
}

bool isClosedPipeError(std::uint32_t code)
{
    return code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA;
}

bool resolveReplacementTarget(FileReplacement* replacement, const char16_t* path)
{
    if (!isWellFormedUtf16(path)) {
        return fail(replacement, REPLACE_FAILURE_BAD_NAME, ERROR_INVALID_NAME);
    }
    const DWORD attributes = GetFileAttributesW(wideText(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            return fail(replacement, REPLACE_FAILURE_SYSTEM, error);
        }
    } else if ((replacement->flags & REPLACE_KEEP_EXISTING) != 0) {
        return fail(replacement, REPLACE_FAILURE_EXISTS, ERROR_FILE_EXISTS);
    }
    std::size_t units = 0;
    while (path[units] != 0) {
        ++units;
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        replacement->target = copyOf(wideText(path), units);
        return replacement->target != nullptr || fail(replacement, REPLACE_FAILURE_SYSTEM, ERROR_OUTOFMEMORY);
    }
    const HANDLE handle = openToQuery(path, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A link that leads nowhere yet: the file is made where it leads
        // only by the system's own move; the link itself is not replaced.
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return fail(replacement, REPLACE_FAILURE_NOT_REGULAR, error);
        }
        return fail(replacement, REPLACE_FAILURE_SYSTEM, error);
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info) == FALSE) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        return fail(replacement, REPLACE_FAILURE_SYSTEM, error);
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(handle);
        return fail(replacement, REPLACE_FAILURE_DIRECTORY, ERROR_ACCESS_DENIED);
    }
    if (info.nNumberOfLinks > 1 && (replacement->flags & REPLACE_SPLIT_HARD_LINKS) == 0) {
        CloseHandle(handle);
        return fail(replacement, REPLACE_FAILURE_HARD_LINKS, ERROR_TOO_MANY_LINKS);
    }
    replacement->targetExisted = true;
    // A link is written through: the file it leads to is replaced, under the
    // name the system gives it; any other name is kept as the user gave it.
    replacement->target =
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? finalPathOf(handle) : copyOf(wideText(path), units);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    return replacement->target != nullptr || fail(replacement, REPLACE_FAILURE_SYSTEM, error);
}

FileHandle createExclusiveFile(const char16_t* path, bool* exists, std::uint32_t* systemError)
{
    *exists = false;
    if (!isWellFormedUtf16(path)) {
        *systemError = ERROR_INVALID_NAME;
        return INVALID_FILE;
    }
    // Shared for reading (a second handle reads it back while it is written)
    // and for deletion (an interrupted run removes it while it is open).
    const HANDLE handle = CreateFileW(wideText(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        *systemError = error;
        return INVALID_FILE;
    }
    return fileOf(handle);
}

bool applyReplacementMode(FileReplacement*)
{
    // The new file takes the folder's permissions; ReplaceFileW gives it those
    // of the file it replaces.
    return true;
}

bool identifyName(const char16_t* path, FileIdentity* identity)
{
    const DWORD attributes = GetFileAttributesW(wideText(path));
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return false;
    }
    const HANDLE handle = openToQuery(path, FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(handle, &info) != FALSE;
    CloseHandle(handle);
    if (known) {
        *identity = identityOf(info);
    }
    return known;
}

bool moveIntoPlace(FileReplacement* replacement)
{
    const wchar_t* source = wideText(replacement->temporary);
    const wchar_t* target = wideText(replacement->target);
    if ((replacement->flags & REPLACE_KEEP_EXISTING) != 0) {
        if (MoveFileExW(source, target, MOVEFILE_WRITE_THROUGH) == FALSE) {
            const DWORD error = GetLastError();
            return fail(replacement,
                        error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? REPLACE_FAILURE_EXISTS
                                                                                    : REPLACE_FAILURE_SYSTEM,
                        error);
        }
        return true;
    }
    return replaceWithRecovery(replacement->target, replacement->temporary) ||
           fail(replacement, REPLACE_FAILURE_SYSTEM, GetLastError());
}

bool targetIsWritten(const FileReplacement*)
{
    // ReplaceFileW may give the new file the identity of the old one; the
    // temporary name was checked just before.
    return true;
}

void syncFolderOf(const char16_t*)
{
    // The moves are made with MOVEFILE_WRITE_THROUGH; there is no folder to flush.
}

FileHandle reopenForRead(FileHandle file, const char16_t* path)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (file != INVALID_FILE) {
        const HANDLE handle = ReOpenFile(handleOf(file), GENERIC_READ, share, 0);
        if (handle != INVALID_HANDLE_VALUE) {
            return fileOf(handle);
        }
    }
    if (!isWellFormedUtf16(path)) {
        return INVALID_FILE;
    }
    const HANDLE handle = CreateFileW(wideText(path), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return handle == INVALID_HANDLE_VALUE ? INVALID_FILE : fileOf(handle);
}

bool identifyFile(FileHandle file, FileIdentity* identity)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (file == INVALID_FILE || GetFileInformationByHandle(handleOf(file), &info) == FALSE) {
        return false;
    }
    *identity = identityOf(info);
    return true;
}

bool identifyPath(const char16_t* path, FileIdentity* identity)
{
    if (path == nullptr || !isWellFormedUtf16(path)) {
        return false;
    }
    const HANDLE handle = openToQuery(path, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool known = identifyFile(fileOf(handle), identity);
    CloseHandle(handle);
    return known;
}

FileHandle standardInputFile()
{
    const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
    return (handle == nullptr || handle == INVALID_HANDLE_VALUE) ? INVALID_FILE : fileOf(handle);
}

FileHandle standardOutputFile()
{
    const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    return (handle == nullptr || handle == INVALID_HANDLE_VALUE) ? INVALID_FILE : fileOf(handle);
}

const char* describeSystemError(std::uint32_t code, char* out, std::size_t capacity)
{
    if (capacity == 0) {
        return out;
    }
    wchar_t buffer[512] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                                  512, nullptr);
    while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' || buffer[length - 1] == L' ' ||
                          buffer[length - 1] == L'.')) {
        --length;
    }
    buffer[length] = 0;
    if (length == 0) {
        wsprintfW(buffer, L"system error %lu", static_cast<unsigned long>(code));
    }
    const int written = WideCharToMultiByte(CP_UTF8, 0, buffer, -1, out, static_cast<int>(capacity), nullptr, nullptr);
    if (written <= 0) {
        out[0] = 0;
    }
    return out;
}
