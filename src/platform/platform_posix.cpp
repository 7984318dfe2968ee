// The platform layer on Linux: the same contracts as the Windows calls, made
// with POSIX calls. Paths arrive as UTF-16 and reach the system as the exact
// bytes they stand for (platform/system_path.h); a path that stands for none
// fails with EILSEQ before anything is touched.
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "platform/fault_injection.h"
#include "platform/system_path.h"

namespace {

// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr std::uint64_t SECONDS_1601_TO_1970 = 11644473600ULL;
constexpr std::uint64_t FILETIME_UNITS_PER_SECOND = 10000000ULL;
// The user address space of a 64-bit Windows process, reported as its total virtual memory.
constexpr std::uint64_t USER_ADDRESS_SPACE = 0x7FFFFFFE0000ULL;

int descriptorOf(FileHandle file)
{
    return static_cast<int>(file);
}

// Like ReadFile and WriteFile on a disk file: calls move(done, left) until
// count bytes are moved, a call moves none (the end of the file) or one fails
// (an interrupted call is repeated). *moved gets the bytes moved.
template <typename Move>
bool moveAll(std::uint32_t count, std::uint32_t* moved, Move move)
{
    std::uint32_t total = 0;
    while (total < count) {
        const ssize_t n = move(total, count - total);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *moved = total;
            return false;
        }
        if (n == 0) {
            break;
        }
        total += static_cast<std::uint32_t>(n);
    }
    *moved = total;
    return true;
}

bool writeAll(int descriptor, const std::uint8_t* p, std::uint32_t count, std::uint32_t* written)
{
    return moveAll(count, written,
                   [&](std::uint32_t done, std::uint32_t left) { return ::write(descriptor, p + done, left); });
}

std::string directoryOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::uint64_t fileTimeFromTimespec(const timespec& t)
{
    return (static_cast<std::uint64_t>(t.tv_sec) + SECONDS_1601_TO_1970) * FILETIME_UNITS_PER_SECOND +
           static_cast<std::uint64_t>(t.tv_nsec) / 100;
}

// Pages of address space the process has reserved: the first field of /proc/self/statm.
std::uint64_t processVirtualPages()
{
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    char text[64] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    std::uint64_t pages = 0;
    for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
        pages = pages * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    return pages;
}

bool isLeapYear(unsigned year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned daysInMonth(unsigned year, unsigned month)
{
    static const unsigned days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (month == 2 && isLeapYear(year)) ? 29 : days[month - 1];
}

}  // namespace

FileHandle openFileForRead(const char16_t* path)
{
    if (injectedFailure(FAULT_OPEN) || path == nullptr) {
        return INVALID_FILE;
    }
    std::string name;
    if (!systemPathOf(path, &name)) {
        return INVALID_FILE;
    }
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return INVALID_FILE;
    }
    // A directory cannot be opened as a file on Windows either.
    struct stat info;
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return INVALID_FILE;
    }
    return fd;
}

FileHandle createNewFile(const char16_t* path)
{
    if (injectedFailure(FAULT_CREATE) || path == nullptr) {
        return INVALID_FILE;
    }
    std::string name;
    if (!systemPathOf(path, &name)) {
        return INVALID_FILE;
    }
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd < 0 ? INVALID_FILE : fd;
}

bool readFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* got)
{
    *got = 0;
    if (injectedFailure(FAULT_READ)) {
        return false;
    }
    const bool corrupt = injectedFailure(FAULT_CORRUPT_READ);
    auto* p = static_cast<std::uint8_t*>(buffer);
    const bool read = moveAll(
        count, got, [&](std::uint32_t done, std::uint32_t left) { return ::read(descriptorOf(file), p + done, left); });
    if (read && corrupt) {
        flipOneBit(buffer, *got);
    }
    return read;
}

bool writeFile(FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t* written)
{
    *written = 0;
    if (injectedFailure(FAULT_WRITE)) {
        return false;
    }
    if (injectedFailure(FAULT_CORRUPT_WRITE)) {
        std::vector<std::uint8_t> changed(static_cast<const std::uint8_t*>(buffer),
                                          static_cast<const std::uint8_t*>(buffer) + count);
        flipOneBit(changed.data(), count);
        return writeAll(descriptorOf(file), changed.data(), count, written);
    }
    return writeAll(descriptorOf(file), static_cast<const std::uint8_t*>(buffer), count, written);
}

bool seekFile(FileHandle file, std::uint64_t offset)
{
    if (injectedFailure(FAULT_SEEK) || offset > static_cast<std::uint64_t>(INT64_MAX)) {
        return false;
    }
    return ::lseek(descriptorOf(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool fileSize(FileHandle file, std::uint64_t* size)
{
    struct stat info;
    if (::fstat(descriptorOf(file), &info) != 0) {
        return false;
    }
    *size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool flushFile(FileHandle file)
{
    if (injectedFailure(FAULT_FLUSH)) {
        return false;
    }
    return ::fsync(descriptorOf(file)) == 0;
}

bool closeFile(FileHandle file)
{
    const bool injected = injectedFailure(FAULT_CLOSE);
    // Linux releases the descriptor even when close reports an error, so it is never retried.
    const int status = ::close(descriptorOf(file));
    return !injected && (status == 0 || errno == EINTR);
}

bool deleteFile(const char16_t* path)
{
    std::string name;
    return path != nullptr && systemPathOf(path, &name) && ::unlink(name.c_str()) == 0;
}

bool pathIsDirectory(const char16_t* path)
{
    std::string name;
    struct stat info {};
    return path != nullptr && systemPathOf(path, &name) && ::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::uint64_t filePosition(FileHandle file)
{
    if (file == INVALID_FILE) {
        return 0;
    }
    const off_t position = ::lseek(descriptorOf(file), 0, SEEK_CUR);
    return position < 0 ? 0 : static_cast<std::uint64_t>(position);
}

FileHandle openTerminal(bool)
{
    const int terminal = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    return terminal < 0 ? INVALID_FILE : terminal;
}

void deleteNativePath(const NativePathChar* path)
{
    ::unlink(path);
}

bool pathExists(const char16_t* path)
{
    struct stat info;
    std::string name;
    return path != nullptr && systemPathOf(path, &name) && ::lstat(name.c_str(), &info) == 0;
}

bool replaceFile(const char16_t* target, const char16_t* source)
{
    if (injectedFailure(FAULT_REPLACE) || target == nullptr || source == nullptr) {
        return false;
    }
    std::string targetPath;
    std::string sourcePath;
    if (!systemPathOf(target, &targetPath) || !systemPathOf(source, &sourcePath)) {
        return false;
    }
    // The source's mode is its own: changing it here, by name, could change
    // whatever file the name leads to by now. The file layer gives a new file
    // its mode on its descriptor.
    if (::rename(sourcePath.c_str(), targetPath.c_str()) != 0) {
        return false;
    }
    // Make the new name durable. The rename has happened whatever this reports,
    // and some file systems cannot sync a directory, so its result is not a failure.
    const int directory = ::open(directoryOf(targetPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
    return true;
}

bool diskFreeBytes(const char16_t* directory, std::uint64_t* freeToCaller)
{
    bool succeeded = false;
    if (injectedFreeSpace(directory, &succeeded, freeToCaller)) {
        return succeeded;
    }
    std::string path = ".";
    if (directory != nullptr && directory[0] != 0 && !systemPathOf(directory, &path)) {
        return false;
    }
    struct statvfs info;
    if (::statvfs(path.c_str(), &info) != 0) {
        return false;
    }
    *freeToCaller = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    return true;
}

std::uint64_t systemTimeAsFileTime()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return fileTimeFromTimespec(now);
}

bool systemTimeToFileTime(const std::uint16_t systemTime[8], std::uint64_t* fileTime)
{
    const unsigned year = systemTime[0];
    const unsigned month = systemTime[1];
    const unsigned day = systemTime[3];
    const unsigned hour = systemTime[4];
    const unsigned minute = systemTime[5];
    const unsigned second = systemTime[6];
    const unsigned milliseconds = systemTime[7];
    // The same ranges as SystemTimeToFileTime; the day of the week is ignored.
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59 || milliseconds > 999) {
        return false;
    }
    std::uint64_t days = 0;
    for (unsigned y = 1601; y < year; ++y) {
        days += isLeapYear(y) ? 366 : 365;
    }
    for (unsigned m = 1; m < month; ++m) {
        days += daysInMonth(year, m);
    }
    days += day - 1;
    const std::uint64_t seconds = ((days * 24 + hour) * 60 + minute) * 60 + second;
    *fileTime = seconds * FILETIME_UNITS_PER_SECOND + static_cast<std::uint64_t>(milliseconds) * 10000;
    return true;
}

void sampleSystemValues(SystemSample* sample)
{
    std::memset(sample, 0, sizeof *sample);
    if (injectedSystemSample(sample)) {
        return;
    }
    timespec monotonic{};

    // QueryPerformanceFrequency and QueryPerformanceCounter: the monotonic clock in nanoseconds.
    sample->perfFrequency = 1000000000ULL;
    ::clock_gettime(CLOCK_MONOTONIC, &monotonic);
    sample->perfCounter =
        static_cast<std::uint64_t>(monotonic.tv_sec) * 1000000000ULL + static_cast<std::uint64_t>(monotonic.tv_nsec);

    // GetDiskFreeSpaceExW(null): total free bytes of the current directory's disk.
    struct statvfs disk;
    if (::statvfs(".", &disk) == 0) {
        sample->diskFreeBytes = static_cast<std::uint64_t>(disk.f_bfree) * disk.f_frsize;
    }

    sample->systemTime = systemTimeAsFileTime();

    // GlobalMemoryStatusEx: the same 64-byte layout, filled from sysinfo and
    // the process's own address-space size.
    std::uint8_t* memory = sample->memoryStatus;
    storeLe32(memory, 64);
    struct sysinfo system;
    if (::sysinfo(&system) == 0) {
        const std::uint64_t unit = system.mem_unit != 0 ? system.mem_unit : 1;
        const std::uint64_t totalPhys = static_cast<std::uint64_t>(system.totalram) * unit;
        const std::uint64_t availPhys = static_cast<std::uint64_t>(system.freeram + system.bufferram) * unit;
        storeLe32(memory + 4, totalPhys != 0 ? static_cast<std::uint32_t>(100 - (availPhys * 100) / totalPhys) : 0);
        storeLe64(memory + 8, totalPhys);
        storeLe64(memory + 16, availPhys);
        storeLe64(memory + 24, static_cast<std::uint64_t>(system.totalram + system.totalswap) * unit);
        storeLe64(memory + 32, static_cast<std::uint64_t>(system.freeram + system.freeswap) * unit);
    }
    const std::uint64_t pageSize = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    storeLe64(memory + 40, USER_ADDRESS_SPACE);
    storeLe64(memory + 48, USER_ADDRESS_SPACE - processVirtualPages() * pageSize);

    // GetSystemInfo: the 48-byte layout with this machine's page size and processors.
    std::uint8_t* info = sample->systemInfo;
    const auto processors = static_cast<std::uint32_t>(::sysconf(_SC_NPROCESSORS_ONLN));
    storeLe16(info, 9);  // x64
    storeLe32(info + 4, static_cast<std::uint32_t>(pageSize));
    storeLe64(info + 8, 0x10000);
    storeLe64(info + 16, USER_ADDRESS_SPACE - 0x10000 - 1);
    storeLe64(info + 24, processors >= 64 ? ~0ULL : ((1ULL << processors) - 1));
    storeLe32(info + 32, processors);
    storeLe32(info + 36, 8664);  // the processor type code of x64
    storeLe32(info + 40, 65536);

    // GetForegroundWindow and GetWindowInfo: there is no window here, so the
    // record holds what the failed query leaves on Windows: the size field only.
    sample->foregroundWindow = 0;
    storeLe32(sample->windowInfo, 60);

    // GetTickCount: milliseconds since boot, wrapping at 32 bits.
    sample->tickCount = static_cast<std::uint32_t>(static_cast<std::uint64_t>(monotonic.tv_sec) * 1000 +
                                                   static_cast<std::uint64_t>(monotonic.tv_nsec) / 1000000);
    sample->processId = static_cast<std::uint32_t>(::getpid());
    sample->threadId = static_cast<std::uint32_t>(::syscall(SYS_gettid));
    // GetMessageTime of a thread that has retrieved no message: none here.
    sample->messageTime = 0;
}

FileHandle createNewFileSharingReads(const char16_t* path)
{
    // Any descriptor may read a file that another is writing.
    return createNewFile(path);
}

FileHandle openFileBesideWriter(const char16_t* path)
{
    return openFileForRead(path);
}

void startWriteBack(FileHandle file, std::uint64_t offset, std::uint64_t length)
{
    // A file system that cannot do this writes the bytes at the flush, as before.
    ::sync_file_range(descriptorOf(file), static_cast<off_t>(offset), static_cast<off_t>(length),
                      SYNC_FILE_RANGE_WRITE);
}
