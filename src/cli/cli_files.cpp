#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cli/cli_files.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "cli/cli_cleanup.h"
#include "cli/cli_console.h"
#include "jobs/result_codes.h"

namespace {

constexpr std::size_t READ_CHUNK = 1u << 20;

std::string uniqueSuffix()
{
    static std::atomic<unsigned> counter{0};
    const auto now = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
#ifdef _WIN32
    const unsigned long long process = GetCurrentProcessId();
#else
    const unsigned long long process = static_cast<unsigned long long>(getpid());
#endif
    unsigned long long mixed =
        now ^ (process << 32) ^ (static_cast<unsigned long long>(counter++) * 0x9E3779B97F4A7C15ull);
    static const char digits[] = "0123456789abcdefghijklmnopqrstuv";
    std::string suffix;
    for (int k = 0; k < 10; ++k) {
        suffix += digits[mixed & 31];
        mixed >>= 5;
    }
    return suffix;
}

std::string baseNameOf(const std::string& path)
{
    return path.substr(directoryOf(path).size());
}

#ifdef _WIN32
std::wstring widePath(const std::string& path)
{
    const std::u16string wide = utf8ToUtf16(path);
    return std::wstring(wide.begin(), wide.end());
}

HANDLE toHandle(FileHandle file)
{
    return reinterpret_cast<HANDLE>(file);
}

FileHandle fromHandle(HANDLE handle)
{
    return reinterpret_cast<FileHandle>(handle);
}

bool readChunk(HANDLE handle, std::uint8_t* buffer, std::size_t count, std::size_t* got)
{
    DWORD read = 0;
    if (!ReadFile(handle, buffer, static_cast<DWORD>(count), &read, nullptr)) {
        *got = 0;
        return GetLastError() == ERROR_BROKEN_PIPE;
    }
    *got = read;
    return true;
}

// A new file that does not exist yet; shared for deletion so that an
// interrupt can remove it while it is open.
HANDLE createExclusive(const std::string& path)
{
    return CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string temporaryDirectory()
{
    wchar_t buffer[MAX_PATH + 2] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) {
        return "";
    }
    return utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(buffer), length));
}

bool removeFile(const std::string& path)
{
    return DeleteFileW(widePath(path).c_str()) != 0;
}
#else
bool readChunk(int descriptor, std::uint8_t* buffer, std::size_t count, std::size_t* got)
{
    for (;;) {
        const ssize_t read = ::read(descriptor, buffer, count);
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read < 0) {
            *got = 0;
            return false;
        }
        *got = static_cast<std::size_t>(read);
        return true;
    }
}

int createExclusive(const std::string& path, bool privateFile)
{
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, privateFile ? 0600 : 0666);
}

std::string temporaryDirectory()
{
    const char* directory = std::getenv("TMPDIR");
    std::string path = directory != nullptr && directory[0] != 0 ? directory : "/tmp";
    if (path.back() != '/') {
        path += '/';
    }
    return path;
}

bool removeFile(const std::string& path)
{
    return unlink(path.c_str()) == 0;
}

bool syncDirectory(const std::string& path)
{
    const std::string directory = directoryOf(path).empty() ? "." : directoryOf(path);
    const int descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    const bool synced = fsync(descriptor) == 0 || errno == EINVAL;
    close(descriptor);
    return synced;
}
#endif

bool pathIsPresent(const std::string& path, bool* isDirectory)
{
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    *isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
#else
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return false;
    }
    if (S_ISLNK(status.st_mode)) {
        struct stat followed {};
        *isDirectory = stat(path.c_str(), &followed) == 0 && S_ISDIR(followed.st_mode);
    } else {
        *isDirectory = S_ISDIR(status.st_mode);
    }
    return true;
#endif
}

}  // namespace

std::u16string corePath(const std::string& path)
{
    return utf8ToUtf16(path);
}

std::string directoryOf(const std::string& path)
{
#ifdef _WIN32
    const std::size_t cut = path.find_last_of("\\/:");
#else
    const std::size_t cut = path.find_last_of('/');
#endif
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool sizeOfFile(const std::string& path, std::uint64_t* size)
{
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(widePath(path).c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    *size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
#else
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return false;
    }
    *size = static_cast<std::uint64_t>(status.st_size);
    return true;
#endif
}

std::uint64_t filePosition(FileHandle file)
{
    if (file == INVALID_FILE) {
        return 0;
    }
#ifdef _WIN32
    // Only a query: moving the pointer (even by 0) could race with the reads.
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
    if (query(toHandle(file), &block, &position, sizeof position, filePositionInformation) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(position.offset.QuadPart);
#else
    const off_t position = lseek(static_cast<int>(file), 0, SEEK_CUR);
    return position < 0 ? 0 : static_cast<std::uint64_t>(position);
#endif
}

bool isSameFile(const std::string& first, const std::string& second)
{
#ifdef _WIN32
    auto identify = [](const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
        const HANDLE handle =
            CreateFileW(widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return false;
        }
        const bool ok = GetFileInformationByHandle(handle, info) != 0;
        CloseHandle(handle);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return identify(first, &a) && identify(second, &b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
#else
    struct stat a {};
    struct stat b {};
    return stat(first.c_str(), &a) == 0 && stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
#endif
}

int readWholeInput(const std::string& path, std::size_t limit, SecureBuffer* out)
{
    const bool standardInput = path == "-";
    const std::string name = standardInput ? std::string("standard input") : path;
#ifdef _WIN32
    const HANDLE source = standardInput ? GetStdHandle(STD_INPUT_HANDLE)
                                        : CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (source == INVALID_HANDLE_VALUE || source == nullptr) {
        const std::string detail = lastSystemError();
        reportResult(RESULT_OPEN_FAILED, name);
        printError(detail);
        return RESULT_OPEN_FAILED;
    }
    auto closeSource = [&] {
        if (!standardInput) {
            CloseHandle(source);
        }
    };
#else
    const int source = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        const std::string detail = lastSystemError();
        reportResult(RESULT_OPEN_FAILED, name);
        printError(detail);
        return RESULT_OPEN_FAILED;
    }
    struct stat status {};
    if (fstat(source, &status) == 0 && S_ISDIR(status.st_mode)) {
        close(source);
        reportResult(RESULT_OPEN_FAILED, name);
        printError(name + " is a directory");
        return RESULT_OPEN_FAILED;
    }
    auto closeSource = [&] {
        if (!standardInput) {
            close(source);
        }
    };
#endif
    std::uint64_t knownSize = 0;
    if (!standardInput && sizeOfFile(path, &knownSize)) {
        if (knownSize > limit) {
            closeSource();
            return reportResult(RESULT_LIMIT_EXCEEDED, name);
        }
        // One chunk more than the file: the read that finds its end then
        // needs no larger buffer, which would hold a second copy of the text.
        if (!out->reserve(static_cast<std::size_t>(knownSize) + READ_CHUNK)) {
            closeSource();
            return reportResult(RESULT_OUT_OF_MEMORY, name);
        }
    }
    for (;;) {
        if (out->capacity() - out->size() < READ_CHUNK) {
            std::size_t wanted = out->capacity() < READ_CHUNK ? 2 * READ_CHUNK : 2 * out->capacity();
            if (wanted > limit + 1) {
                wanted = limit + 1;
            }
            if (wanted > out->capacity() && !out->reserve(wanted)) {
                closeSource();
                return reportResult(RESULT_OUT_OF_MEMORY, name);
            }
        }
        std::size_t room = out->capacity() - out->size();
        if (room == 0) {
            closeSource();
            return reportResult(RESULT_LIMIT_EXCEEDED, name);
        }
        if (room > READ_CHUNK) {
            room = READ_CHUNK;
        }
        std::size_t got = 0;
        if (!readChunk(source, out->data() + out->size(), room, &got)) {
            const std::string detail = lastSystemError();
            closeSource();
            reportResult(RESULT_READ_FAILED, name);
            printError(detail);
            return RESULT_READ_FAILED;
        }
        if (got == 0) {
            break;
        }
        out->resize(out->size() + got);
        if (out->size() > limit) {
            closeSource();
            return reportResult(RESULT_LIMIT_EXCEEDED, name);
        }
    }
    closeSource();
    return 0;
}

ContainerInput::~ContainerInput()
{
    if (!spoolPath_.empty()) {
        removeFile(spoolPath_);
        forgetTemporaryFile(spoolSlot_);
    }
}

int ContainerInput::open(const std::string& path)
{
    if (path != "-") {
        name_ = path;
        path_ = corePath(path);
        sizeOfFile(path, &size_);
        return 0;
    }
    name_ = "standard input";
    // The container is ciphertext: a copy in the temporary directory reveals nothing.
    const std::string directory = temporaryDirectory();
    std::string spool;
    // Until the copy is remembered, an interrupt would leave it behind.
    std::optional<DeferredInterrupts> deferred(std::in_place);
#ifdef _WIN32
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        spool = directory + "vtxt-input-" + uniqueSuffix() + ".tmp";
        file = createExclusive(spool);
    }
    if (file == INVALID_HANDLE_VALUE) {
        printError("cannot create a temporary copy of standard input in " + directory + ": " + lastSystemError());
        return EXIT_OTHER_FAILURE;
    }
    const HANDLE source = GetStdHandle(STD_INPUT_HANDLE);
#else
    int file = -1;
    for (int attempt = 0; attempt < 100 && file < 0; ++attempt) {
        spool = directory + "vtxt-input-" + uniqueSuffix() + ".tmp";
        file = createExclusive(spool, true);
        if (file < 0 && errno != EEXIST) {
            break;
        }
    }
    if (file < 0) {
        printError("cannot create a temporary copy of standard input in " + directory + ": " + lastSystemError());
        return EXIT_OTHER_FAILURE;
    }
    const int source = STDIN_FILENO;
#endif
    spoolPath_ = spool;
    spoolSlot_ = rememberTemporaryFile(spool);
    deferred.reset();
    std::uint8_t buffer[65536];
    bool ok = true;
    std::string detail;
    for (;;) {
        std::size_t got = 0;
        if (!readChunk(source, buffer, sizeof buffer, &got)) {
            detail = "cannot read standard input: " + lastSystemError();
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
#ifdef _WIN32
        DWORD written = 0;
        const bool wrote = WriteFile(file, buffer, static_cast<DWORD>(got), &written, nullptr) && written == got;
#else
        std::size_t done = 0;
        while (done < got) {
            const ssize_t written = ::write(file, buffer + done, got - done);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                break;
            }
            done += static_cast<std::size_t>(written);
        }
        const bool wrote = done == got;
#endif
        if (!wrote) {
            detail = "cannot copy standard input to " + spool + ": " + lastSystemError();
            ok = false;
            break;
        }
        size_ += got;
    }
#ifdef _WIN32
    CloseHandle(file);
#else
    close(file);
#endif
    if (!ok) {
        printError(detail);
        return EXIT_OTHER_FAILURE;
    }
    path_ = corePath(spool);
    return 0;
}

OutputFile::~OutputFile()
{
    discard();
}

int OutputFile::open(const std::string& target, bool force, bool privateFile)
{
    target_ = target;
    force_ = force;
    if (target == "-") {
        standardOutput_ = true;
#ifdef _WIN32
        handle_ = fromHandle(GetStdHandle(STD_OUTPUT_HANDLE));
#else
        handle_ = STDOUT_FILENO;
#endif
        return 0;
    }
    bool isDirectory = false;
    if (pathIsPresent(target, &isDirectory)) {
        if (isDirectory) {
            printError(target + ": is a directory");
            return EXIT_OTHER_FAILURE;
        }
        if (!force) {
            printError(target + ": the output file exists; use --force to replace it");
            return EXIT_OTHER_FAILURE;
        }
    }
    const std::string base = baseNameOf(target);
    // An interrupt between creating the temporary file and remembering it
    // would leave the file behind.
    DeferredInterrupts deferred;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = directoryOf(target) + "." + base + "." + uniqueSuffix() + ".tmp";
#ifdef _WIN32
        (void)privateFile;
        const HANDLE file = createExclusive(temporary_);
        if (file != INVALID_HANDLE_VALUE) {
            handle_ = fromHandle(file);
            break;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
#else
        const int file = createExclusive(temporary_, privateFile);
        if (file >= 0) {
            handle_ = file;
            break;
        }
        if (errno != EEXIST) {
            break;
        }
#endif
    }
    if (handle_ == INVALID_FILE) {
        const std::string detail = lastSystemError();
        temporary_.clear();
        reportResult(RESULT_SAVE_FAILED, target);
        printError("cannot create a file in " + (directoryOf(target).empty() ? std::string(".") : directoryOf(target)) +
                   ": " + detail);
        return RESULT_SAVE_FAILED;
    }
    slot_ = rememberTemporaryFile(temporary_);
    return 0;
}

int OutputFile::write(const void* bytes, std::size_t count)
{
    if (standardOutput_) {
        bool brokenPipe = false;
        if (!writeBytesTo(StandardStream::Output, bytes, count, &brokenPipe)) {
            if (brokenPipe) {
                return EXIT_OTHER_FAILURE;  // the reader went away: nothing to report
            }
            const std::string detail = lastSystemError();
            reportResult(RESULT_WRITE_FAILED, "standard output");
            printError(detail);
            return RESULT_WRITE_FAILED;
        }
        return 0;
    }
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    while (count > 0) {
        const std::uint32_t chunk = count > (1u << 24) ? (1u << 24) : static_cast<std::uint32_t>(count);
#ifdef _WIN32
        DWORD written = 0;
        const bool ok = WriteFile(toHandle(handle_), p, chunk, &written, nullptr) != 0 && written > 0;
#else
        ssize_t written = ::write(static_cast<int>(handle_), p, chunk);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        const bool ok = written > 0;
#endif
        if (!ok) {
            const std::string detail = lastSystemError();
            reportResult(RESULT_WRITE_FAILED, target_);
            printError(detail);
            return RESULT_WRITE_FAILED;
        }
        p += written;
        count -= static_cast<std::size_t>(written);
    }
    return 0;
}

int OutputFile::finishWriting()
{
    if (standardOutput_ || handle_ == INVALID_FILE) {
        return 0;
    }
#ifdef _WIN32
    const bool flushed = FlushFileBuffers(toHandle(handle_)) != 0;
    const bool closed = CloseHandle(toHandle(handle_)) != 0;
#else
    const bool flushed = fsync(static_cast<int>(handle_)) == 0;
    const bool closed = close(static_cast<int>(handle_)) == 0;
#endif
    handle_ = INVALID_FILE;
    if (!flushed || !closed) {
        const std::string detail = lastSystemError();
        discard();
        reportResult(RESULT_WRITE_FAILED, target_);
        printError(detail);
        return RESULT_WRITE_FAILED;
    }
    return 0;
}

int OutputFile::commit()
{
    if (standardOutput_) {
        return 0;
    }
    if (temporary_.empty()) {
        return EXIT_OTHER_FAILURE;
    }
    if (const int status = finishWriting(); status != 0) {
        return status;
    }
#ifdef _WIN32
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (force_ ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(widePath(temporary_).c_str(), widePath(target_).c_str(), flags)) {
        const DWORD error = GetLastError();
        const std::string detail = lastSystemError();
        discard();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            printError(target_ + ": the output file exists; use --force to replace it");
            return EXIT_OTHER_FAILURE;
        }
        reportResult(RESULT_SAVE_FAILED, target_);
        printError(detail);
        return RESULT_SAVE_FAILED;
    }
#else
    int moved = -1;
    if (force_) {
        moved = rename(temporary_.c_str(), target_.c_str());
    } else {
        moved = renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE);
        if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the no-replace rename: link fails just as well when the target exists.
            moved = link(temporary_.c_str(), target_.c_str());
            if (moved == 0) {
                unlink(temporary_.c_str());
            }
        }
    }
    if (moved != 0) {
        const int error = errno;
        const std::string detail = lastSystemError();
        discard();
        if (error == EEXIST) {
            printError(target_ + ": the output file exists; use --force to replace it");
            return EXIT_OTHER_FAILURE;
        }
        reportResult(RESULT_SAVE_FAILED, target_);
        printError(detail);
        return RESULT_SAVE_FAILED;
    }
    syncDirectory(target_);
#endif
    forgetTemporaryFile(slot_);
    slot_ = -1;
    temporary_.clear();
    return 0;
}

void OutputFile::discard()
{
    if (standardOutput_) {
        handle_ = INVALID_FILE;
        return;
    }
    if (handle_ != INVALID_FILE) {
#ifdef _WIN32
        CloseHandle(toHandle(handle_));
#else
        close(static_cast<int>(handle_));
#endif
        handle_ = INVALID_FILE;
    }
    if (!temporary_.empty()) {
        removeFile(temporary_);
        temporary_.clear();
    }
    forgetTemporaryFile(slot_);
    slot_ = -1;
}
