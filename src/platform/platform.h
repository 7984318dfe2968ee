#pragma once
// The thin layer through which the portable core reaches files, time and
// system values. platform_win32.cpp makes the Windows calls named beside each
// function; platform_posix.cpp gives the same results on Linux.
#include <cstdint>

using FileHandle = std::intptr_t;
// Equal to INVALID_HANDLE_VALUE on Windows and to an invalid descriptor elsewhere.
inline constexpr FileHandle INVALID_FILE = -1;

// CreateFileW(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING). INVALID_FILE on failure.
FileHandle openFileForRead(const char16_t* path);
// CreateFileW(GENERIC_WRITE, no sharing, CREATE_NEW): fails when the path exists.
FileHandle createNewFile(const char16_t* path);
// ReadFile: false when the call fails; *got receives the byte count (short at end of file).
bool readFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* got);
// WriteFile: false when the call fails; *written receives the byte count.
bool writeFile(FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t* written);
// SetFilePointerEx from the start of the file.
bool seekFile(FileHandle file, std::uint64_t offset);
// GetFileInformationByHandle: the file's size.
bool fileSize(FileHandle file, std::uint64_t* size);
// FlushFileBuffers / fsync.
bool flushFile(FileHandle file);
// CloseHandle / close. Reports a failed close, which can lose buffered data on some systems.
bool closeFile(FileHandle file);
// DeleteFileW.
bool deleteFile(const char16_t* path);
// True when something exists at path.
bool pathExists(const char16_t* path);
// Replaces target by source in one atomic step: ReplaceFileW when the target
// exists, else MoveFileExW(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
// rename and a directory fsync on Linux. On failure the target is untouched.
bool replaceFile(const char16_t* target, const char16_t* source);
// GetFileAttributesW / stat: true when path names a directory.
bool pathIsDirectory(const char16_t* path);
// The current position of an open file (for progress); 0 when unknown. Only
// a query (NtQueryInformationFile / lseek by 0): moving the pointer could race
// with the reads of another thread.
std::uint64_t filePosition(FileHandle file);
// The terminal a prompt talks to whatever the standard streams are: on
// Windows the console's input (CreateFileW "CONIN$") or, for output, its
// screen ("CONOUT$"); on Linux /dev/tty for both (O_RDWR | O_NOCTTY).
// INVALID_FILE when there is none; closeFile ends it.
FileHandle openTerminal(bool output);
// A path in the system's own form (UTF-16 on Windows, bytes elsewhere), for
// the one place that cannot convert: a handler of an interrupt.
#ifdef _WIN32
using NativePathChar = wchar_t;
#else
using NativePathChar = char;
#endif
// DeleteFileW / unlink of a path in the system's form, calling nothing else:
// safe in a signal handler (no allocation, no fault injection).
void deleteNativePath(const NativePathChar* path);
// GetDiskFreeSpaceExW(directory): bytes free to the caller. An empty directory
// means the current one. False when the query fails.
bool diskFreeBytes(const char16_t* directory, std::uint64_t* freeToCaller);
// GetSystemTimeAsFileTime: UTC in 100-ns units since 1601.
std::uint64_t systemTimeAsFileTime();
// SystemTimeToFileTime on the eight SYSTEMTIME words (year, month, day of week,
// day, hour, minute, second, milliseconds). False when they are not a valid time.
bool systemTimeToFileTime(const std::uint16_t systemTime[8], std::uint64_t* fileTime);

// The volatile system values that seed the per-file randomness, sampled in the
// order listed: QueryPerformanceFrequency, QueryPerformanceCounter,
// GetDiskFreeSpaceExW(null), GetSystemTimeAsFileTime, GlobalMemoryStatusEx,
// GetSystemInfo, GetForegroundWindow, GetWindowInfo, GetTickCount,
// GetCurrentProcessId, GetCurrentThreadId, GetMessageTime. Structures are
// cleared before their query; a failed query leaves them as it left them.
struct SystemSample {
    std::uint64_t perfFrequency;
    std::uint64_t perfCounter;
    std::uint64_t diskFreeBytes;
    std::uint64_t systemTime;
    std::uint8_t memoryStatus[64];
    std::uint8_t systemInfo[48];
    std::uint64_t foregroundWindow;
    std::uint8_t windowInfo[60];
    std::uint32_t tickCount;
    std::uint32_t processId;
    std::uint32_t threadId;
    std::uint32_t messageTime;
};
void sampleSystemValues(SystemSample* sample);

// A file read back while it is still being written, by a second handle of its
// own: createNewFile whose file may be opened for reading meanwhile
// (FILE_SHARE_READ), and openFileForRead of a file that another handle is
// still writing (FILE_SHARE_READ | FILE_SHARE_WRITE). The plain calls on
// Linux. Fault injection counts and fails them as FAULT_CREATE and FAULT_OPEN.
FileHandle createNewFileSharingReads(const char16_t* path);
FileHandle openFileBesideWriter(const char16_t* path);

// Asks the system to start writing the file's bytes [offset, offset + length)
// to the disk now, neither waiting for them nor flushing, so that the flush
// that makes the file durable finds less left to write. Only a hint:
// sync_file_range(SYNC_FILE_RANGE_WRITE) on Linux, nothing on Windows.
void startWriteBack(FileHandle file, std::uint64_t offset, std::uint64_t length);
