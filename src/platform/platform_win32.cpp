// The platform layer on Windows: each function is the Windows call named in
// platform.h, with the arguments the file code relies on.
#include <windows.h>

#include <cstring>
#include <new>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/file_replacement_parts.h"
#include "platform/platform.h"
#include "platform/system_path.h"
#include "platform/wide_text.h"

static_assert(sizeof(MEMORYSTATUSEX) == sizeof(SystemSample::memoryStatus));
static_assert(sizeof(SYSTEM_INFO) == sizeof(SystemSample::systemInfo));
static_assert(sizeof(WINDOWINFO) == sizeof(SystemSample::windowInfo));

namespace {

// A path with an unpaired surrogate names no file the user could have typed;
// it is refused as a bad name before the system sees it.
bool refusedPath(const char16_t* path)
{
    if (path != nullptr && !isWellFormedUtf16(path)) {
        SetLastError(ERROR_INVALID_NAME);
        return true;
    }
    return false;
}

HANDLE handleOf(FileHandle file)
{
    return reinterpret_cast<HANDLE>(file);
}

FileHandle fileOf(HANDLE handle)
{
    return reinterpret_cast<FileHandle>(handle);
}

// CreateFileW(GENERIC_WRITE, share, CREATE_NEW).
FileHandle createNewFileSharing(const char16_t* path, DWORD share)
{
    if (injectedFailure(FAULT_CREATE) || path == nullptr) {
        SetLastError(ERROR_WRITE_FAULT);
        return INVALID_FILE;
    }
    if (refusedPath(path)) {
        return INVALID_FILE;
    }
    const HANDLE handle =
        CreateFileW(wideText(path), GENERIC_WRITE, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? INVALID_FILE : fileOf(handle);
}

std::uint64_t fromFileTime(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool moveFile(const char16_t* source, const char16_t* target)
{
    if (injectedFailure(FAULT_MOVE)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }
    return MoveFileExW(wideText(source), wideText(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool exists(const char16_t* path)
{
    return GetFileAttributesW(wideText(path)) != INVALID_FILE_ATTRIBUTES;
}

// "<target>.~vtbakXXXXXXXX" beside the target, a name not in use.
struct BackupName {
    char16_t* path = nullptr;
    ~BackupName()
    {
        delete[] path;
    }
};

bool makeBackupName(const char16_t* target, BackupName* backup)
{
    static const char16_t MARK[] = u".~vtbak";
    std::size_t units = 0;
    while (target[units] != 0) {
        ++units;
    }
    const std::size_t length = units + 7 + 8;
    backup->path = new (std::nothrow) char16_t[length + 1];
    if (backup->path == nullptr) {
        return false;
    }
    for (std::uint32_t attempt = 0; attempt < 64; ++attempt) {
        std::size_t n = 0;
        for (; n < units; ++n) {
            backup->path[n] = target[n];
        }
        for (std::size_t i = 0; MARK[i] != 0; ++i) {
            backup->path[n++] = MARK[i];
        }
        const std::uint32_t suffix = (GetTickCount() * 2654435761u) ^ (GetCurrentThreadId() << 8) ^ attempt;
        for (int shift = 28; shift >= 0; shift -= 4) {
            backup->path[n++] = u"0123456789abcdef"[(suffix >> shift) & 0xF];
        }
        backup->path[n] = 0;
        if (!exists(backup->path)) {
            return true;
        }
    }
    return false;
}

// ReplaceFileW, or (in tests) the state Windows documents for an injected error.
bool replaceWithBackup(const char16_t* target, const char16_t* source, const char16_t* backup)
{
    std::uint32_t error = 0;
    if (!injectedReplaceOutcome(&error)) {
        return ReplaceFileW(wideText(target), wideText(source), wideText(backup), REPLACEFILE_IGNORE_MERGE_ERRORS,
                            nullptr, nullptr) != FALSE;
    }
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        // The replaced file has moved to the backup name; the replacement
        // keeps its own name; nothing is at the target's.
        MoveFileExW(wideText(target), wideText(backup), 0);
    } else if (error == ERROR_FILE_NOT_FOUND) {
        // The target vanished before the call.
        DeleteFileW(wideText(target));
    }
    // ERROR_UNABLE_TO_REMOVE_REPLACED, ERROR_UNABLE_TO_MOVE_REPLACEMENT (with
    // a backup name) and every other error: both files keep their names.
    SetLastError(error);
    return false;
}

// After a failed ReplaceFileW, makes sure one of the two files is at the
// target's name, whatever state the error left (Windows documents 1175 and
// 1176 as leaving both names as they were, 1177 as the old file at the backup
// name and the new one at its own, and nothing at the target's). True when
// the new file took the target's name after all.
bool settleFailedReplace(const char16_t* target, const char16_t* source, const char16_t* backup)
{
    if (exists(target)) {
        // Whatever is at the target stays there. A backup beside it could only
        // come from a state no error documents: it is left alone rather than
        // risk deleting the only copy of the old file.
        return false;
    }
    // The new file is complete and was read back: it may take the name.
    if (exists(source) && moveFile(source, target)) {
        DeleteFileW(wideText(backup));
        return true;
    }
    // Otherwise the old file goes back; if even that fails both files are
    // left where they are, never deleted.
    if (exists(backup)) {
        moveFile(backup, target);
    }
    return false;
}

}  // namespace

FileHandle openFileForRead(const char16_t* path)
{
    if (injectedFailure(FAULT_OPEN) || path == nullptr || refusedPath(path)) {
        return INVALID_FILE;
    }
    const HANDLE handle = CreateFileW(wideText(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? INVALID_FILE : fileOf(handle);
}

FileHandle createNewFile(const char16_t* path)
{
    return createNewFileSharing(path, 0);
}

bool readFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* got)
{
    *got = 0;
    if (injectedFailure(FAULT_READ)) {
        SetLastError(ERROR_READ_FAULT);
        return false;
    }
    const bool corrupt = injectedFailure(FAULT_CORRUPT_READ);
    DWORD done = 0;
    const BOOL ok = ReadFile(handleOf(file), buffer, count, &done, nullptr);
    *got = done;
    if (corrupt) {
        flipOneBit(buffer, done);
    }
    return ok != FALSE;
}

bool writeFile(FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t* written)
{
    *written = 0;
    if (injectedFailure(FAULT_WRITE)) {
        SetLastError(ERROR_DISK_FULL);
        return false;
    }
    if (injectedFailure(FAULT_CORRUPT_WRITE)) {
        std::vector<std::uint8_t> changed(static_cast<const std::uint8_t*>(buffer),
                                          static_cast<const std::uint8_t*>(buffer) + count);
        flipOneBit(changed.data(), count);
        DWORD done = 0;
        const BOOL ok = WriteFile(handleOf(file), changed.data(), count, &done, nullptr);
        *written = done;
        return ok != FALSE;
    }
    DWORD done = 0;
    const BOOL ok = WriteFile(handleOf(file), buffer, count, &done, nullptr);
    *written = done;
    return ok != FALSE;
}

bool seekFile(FileHandle file, std::uint64_t offset)
{
    if (injectedFailure(FAULT_SEEK) || offset > static_cast<std::uint64_t>(INT64_MAX)) {
        return false;
    }
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handleOf(file), distance, nullptr, FILE_BEGIN) != FALSE;
}

bool fileSize(FileHandle file, std::uint64_t* size)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handleOf(file), &info) == FALSE) {
        return false;
    }
    *size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}

bool flushFile(FileHandle file)
{
    if (injectedFailure(FAULT_FLUSH)) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return FlushFileBuffers(handleOf(file)) != FALSE;
}

bool closeFile(FileHandle file)
{
    const bool injected = injectedFailure(FAULT_CLOSE);
    // The handle is released either way; an injected failure only reports one.
    const BOOL ok = CloseHandle(handleOf(file));
    return !injected && ok != FALSE;
}

bool deleteFile(const char16_t* path)
{
    return path != nullptr && !refusedPath(path) && DeleteFileW(wideText(path)) != FALSE;
}

bool pathIsDirectory(const char16_t* path)
{
    if (path == nullptr || refusedPath(path)) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(wideText(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::uint64_t filePosition(FileHandle file)
{
    if (file == INVALID_FILE) {
        return 0;
    }
    struct PositionInformation {
        LARGE_INTEGER offset;
    };
    struct StatusBlock {
        void* status;
        ULONG_PTR information;
    };
    using QueryFunction = LONG(WINAPI*)(HANDLE, StatusBlock*, void*, ULONG, int);
    static const auto query = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    if (query == nullptr) {
        return 0;
    }
    StatusBlock block{};
    PositionInformation position{};
    const int filePositionInformation = 14;
    if (query(handleOf(file), &block, &position, sizeof position, filePositionInformation) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(position.offset.QuadPart);
}

FileHandle openTerminal(bool output)
{
    const HANDLE terminal = CreateFileW(output ? L"CONOUT$" : L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    return terminal == INVALID_HANDLE_VALUE ? INVALID_FILE : reinterpret_cast<FileHandle>(terminal);
}

void deleteNativePath(const NativePathChar* path)
{
    DeleteFileW(path);
}

bool pathExists(const char16_t* path)
{
    return path != nullptr && !refusedPath(path) && GetFileAttributesW(wideText(path)) != INVALID_FILE_ATTRIBUTES;
}

bool replaceFile(const char16_t* target, const char16_t* source)
{
    return !injectedFailure(FAULT_REPLACE) && replaceWithRecovery(target, source);
}

bool replaceWithRecovery(const char16_t* target, const char16_t* source)
{
    if (target == nullptr || source == nullptr || refusedPath(target) || refusedPath(source)) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(wideText(target));
    // A directory is never replaced by a file; not every implementation of
    // ReplaceFileW refuses it by itself.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return moveFile(source, target);
    }
    // The replacement takes the target's visible attributes first, so they
    // survive even where ReplaceFileW does not merge them.
    const DWORD kept =
        attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (kept != 0) {
        SetFileAttributesW(wideText(source), kept);
    }
    BackupName backup;
    if (!makeBackupName(target, &backup)) {
        SetLastError(ERROR_OUTOFMEMORY);
        return false;
    }
    // Keeps the target's attributes, security and creation time. With a
    // backup name, no failure of ReplaceFileW leaves the old file nowhere:
    // it is at the target's name or at the backup name.
    if (replaceWithBackup(target, source, backup.path)) {
        DeleteFileW(wideText(backup.path));
        return true;
    }
    const DWORD error = GetLastError();
    const bool placed = settleFailedReplace(target, source, backup.path);
    SetLastError(error);
    return placed;
}

bool diskFreeBytes(const char16_t* directory, std::uint64_t* freeToCaller)
{
    bool succeeded = false;
    if (injectedFreeSpace(directory, &succeeded, freeToCaller)) {
        return succeeded;
    }
    const wchar_t* name = (directory == nullptr || directory[0] == 0) ? nullptr : wideText(directory);
    ULARGE_INTEGER available;
    if (GetDiskFreeSpaceExW(name, &available, nullptr, nullptr) == FALSE) {
        return false;
    }
    *freeToCaller = available.QuadPart;
    return true;
}

std::uint64_t systemTimeAsFileTime()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return fromFileTime(now);
}

bool systemTimeToFileTime(const std::uint16_t systemTime[8], std::uint64_t* fileTime)
{
    // Some implementations of the call take 29 February of any year; the
    // contract is the same on every system, so that one check is made here.
    const unsigned year = systemTime[0];
    if (systemTime[1] == 2 && systemTime[3] == 29 && !((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) {
        return false;
    }
    SYSTEMTIME time;
    time.wYear = systemTime[0];
    time.wMonth = systemTime[1];
    time.wDayOfWeek = systemTime[2];
    time.wDay = systemTime[3];
    time.wHour = systemTime[4];
    time.wMinute = systemTime[5];
    time.wSecond = systemTime[6];
    time.wMilliseconds = systemTime[7];
    FILETIME converted;
    if (SystemTimeToFileTime(&time, &converted) == FALSE) {
        return false;
    }
    *fileTime = fromFileTime(converted);
    return true;
}

void sampleSystemValues(SystemSample* sample)
{
    std::memset(sample, 0, sizeof *sample);
    if (injectedSystemSample(sample)) {
        return;
    }

    LARGE_INTEGER frequency;
    frequency.QuadPart = 0;
    QueryPerformanceFrequency(&frequency);
    sample->perfFrequency = static_cast<std::uint64_t>(frequency.QuadPart);

    LARGE_INTEGER counter;
    counter.QuadPart = 0;
    QueryPerformanceCounter(&counter);
    sample->perfCounter = static_cast<std::uint64_t>(counter.QuadPart);

    ULARGE_INTEGER totalFree;
    totalFree.QuadPart = 0;
    GetDiskFreeSpaceExW(nullptr, nullptr, nullptr, &totalFree);
    sample->diskFreeBytes = totalFree.QuadPart;

    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    sample->systemTime = fromFileTime(now);

    MEMORYSTATUSEX memory;
    std::memset(&memory, 0, sizeof memory);
    memory.dwLength = sizeof memory;
    GlobalMemoryStatusEx(&memory);
    std::memcpy(sample->memoryStatus, &memory, sizeof memory);

    SYSTEM_INFO system;
    std::memset(&system, 0, sizeof system);
    GetSystemInfo(&system);
    std::memcpy(sample->systemInfo, &system, sizeof system);

    const HWND window = GetForegroundWindow();
    sample->foregroundWindow = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(window));

    WINDOWINFO windowInfo;
    std::memset(&windowInfo, 0, sizeof windowInfo);
    windowInfo.cbSize = sizeof windowInfo;
    GetWindowInfo(window, &windowInfo);
    std::memcpy(sample->windowInfo, &windowInfo, sizeof windowInfo);

    sample->tickCount = GetTickCount();
    sample->processId = GetCurrentProcessId();
    sample->threadId = GetCurrentThreadId();
    sample->messageTime = static_cast<std::uint32_t>(GetMessageTime());
}

FileHandle createNewFileSharingReads(const char16_t* path)
{
    return createNewFileSharing(path, FILE_SHARE_READ);
}

FileHandle openFileBesideWriter(const char16_t* path)
{
    if (injectedFailure(FAULT_OPEN) || path == nullptr) {
        return INVALID_FILE;
    }
    // The writer's handle holds write access, which a reader must share.
    const HANDLE handle = CreateFileW(wideText(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? INVALID_FILE : fileOf(handle);
}

void startWriteBack(FileHandle, std::uint64_t, std::uint64_t)
{
    // The cache manager starts writing dirty pages out within a second by itself.
}
