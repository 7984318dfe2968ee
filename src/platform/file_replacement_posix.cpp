// The file layer's calls on Linux. Names are the exact bytes of the path
// (platform/system_path.h); every check that matters is made on the open
// descriptor or on the name itself, never by following a name twice.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <string>

#include "platform/file_replacement.h"
#include "platform/file_replacement_parts.h"
#include "platform/system_path.h"

namespace {

// As many links as the kernel follows in one lookup.
constexpr int LINK_DEPTH_LIMIT = 40;

int descriptorOf(FileHandle file)
{
    return static_cast<int>(file);
}

FileIdentity identityOf(const struct stat& info)
{
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

bool fail(FileReplacement* replacement, ReplaceFailure failure, int error)
{
    replacement->failure = failure;
    replacement->systemError = static_cast<std::uint32_t>(error);
    return false;
}

// The folder part of a path, its separator included ("" for none).
std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

char16_t* corePathOf(const std::string& bytes)
{
    auto* path = new (std::nothrow) char16_t[bytes.size() + 1];
    if (path != nullptr) {
        decodeSystemPath(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), path);
    }
    return path;
}

}  // namespace

std::uint32_t lastSystemErrorCode()
{
    return static_cast<std::uint32_t>(errno);
}

bool isClosedPipeError(std::uint32_t code)
{
    return code == EPIPE;
}

bool resolveReplacementTarget(FileReplacement* replacement, const char16_t* path)
{
    std::string current;
    if (!systemPathOf(path, &current)) {
        return fail(replacement, REPLACE_FAILURE_BAD_NAME, EILSEQ);
    }
    struct stat info {};
    bool exists = false;
    // A link is written through: the file it leads to is replaced and the
    // link stays a link. Each step is resolved by hand, so that a link to a
    // name that does not exist yet gives that name.
    for (int depth = 0;; ++depth) {
        if (::lstat(current.c_str(), &info) != 0) {
            if (errno != ENOENT) {
                return fail(replacement, REPLACE_FAILURE_SYSTEM, errno);
            }
            break;
        }
        if ((replacement->flags & REPLACE_KEEP_EXISTING) != 0) {
            return fail(replacement, REPLACE_FAILURE_EXISTS, EEXIST);
        }
        if (!S_ISLNK(info.st_mode)) {
            exists = true;
            break;
        }
        if (depth == LINK_DEPTH_LIMIT) {
            return fail(replacement, REPLACE_FAILURE_SYSTEM, ELOOP);
        }
        std::string link(PATH_MAX + 1, '\0');
        const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
        if (length < 0 || static_cast<std::size_t>(length) >= link.size()) {
            return fail(replacement, REPLACE_FAILURE_SYSTEM, length < 0 ? errno : ENAMETOOLONG);
        }
        link.resize(static_cast<std::size_t>(length));
        current = (!link.empty() && link[0] == '/') ? link : folderOf(current) + link;
    }
    if (exists) {
        if (S_ISDIR(info.st_mode)) {
            return fail(replacement, REPLACE_FAILURE_DIRECTORY, EISDIR);
        }
        if (!S_ISREG(info.st_mode)) {
            return fail(replacement, REPLACE_FAILURE_NOT_REGULAR, EINVAL);
        }
        if (info.st_nlink > 1 && (replacement->flags & REPLACE_SPLIT_HARD_LINKS) == 0) {
            return fail(replacement, REPLACE_FAILURE_HARD_LINKS, EMLINK);
        }
        replacement->targetExisted = true;
        replacement->targetMode = static_cast<std::uint32_t>(info.st_mode & 07777);
        replacement->targetOwner = static_cast<std::uint32_t>(info.st_uid);
        replacement->targetGroup = static_cast<std::uint32_t>(info.st_gid);
    }
    replacement->target = corePathOf(current);
    return replacement->target != nullptr || fail(replacement, REPLACE_FAILURE_SYSTEM, ENOMEM);
}

FileHandle createExclusiveFile(const char16_t* path, bool* exists, std::uint32_t* systemError)
{
    *exists = false;
    std::string name;
    if (!systemPathOf(path, &name)) {
        *systemError = EILSEQ;
        return INVALID_FILE;
    }
    // Owner-only from the first moment: the final mode is given on the
    // descriptor once the file is known to be this one.
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *exists = errno == EEXIST;
        *systemError = static_cast<std::uint32_t>(errno);
        return INVALID_FILE;
    }
    return fd;
}

bool applyReplacementMode(FileReplacement* replacement)
{
    const int fd = descriptorOf(replacement->file);
    mode_t mode = 0600;
    if ((replacement->flags & REPLACE_OWNER_ONLY) != 0) {
        mode = 0600;
    } else if (replacement->targetExisted) {
        // The file keeps its owner where the system lets us give it; a user
        // who may not is left as the owner of the new file.
        struct stat info {};
        if (::fstat(fd, &info) == 0 &&
            (info.st_uid != replacement->targetOwner || info.st_gid != replacement->targetGroup)) {
            [[maybe_unused]] const int ignored = ::fchown(fd, replacement->targetOwner, replacement->targetGroup);
        }
        mode = static_cast<mode_t>(replacement->targetMode);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    return ::fchmod(fd, mode) == 0;
}

bool identifyName(const char16_t* path, FileIdentity* identity)
{
    std::string name;
    struct stat info {};
    if (!systemPathOf(path, &name) || ::lstat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    *identity = identityOf(info);
    return true;
}

bool moveIntoPlace(FileReplacement* replacement)
{
    std::string from;
    std::string to;
    if (!systemPathOf(replacement->temporary, &from) || !systemPathOf(replacement->target, &to)) {
        return fail(replacement, REPLACE_FAILURE_BAD_NAME, EILSEQ);
    }
    if ((replacement->flags & REPLACE_KEEP_EXISTING) == 0) {
        return ::rename(from.c_str(), to.c_str()) == 0 || fail(replacement, REPLACE_FAILURE_SYSTEM, errno);
    }
    int moved = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the no-replace rename: a link fails just as
        // well when the name is taken.
        moved = ::link(from.c_str(), to.c_str());
        if (moved == 0) {
            ::unlink(from.c_str());
        }
    }
    if (moved != 0) {
        return fail(replacement, errno == EEXIST ? REPLACE_FAILURE_EXISTS : REPLACE_FAILURE_SYSTEM, errno);
    }
    return true;
}

bool targetIsWritten(const FileReplacement* replacement)
{
    FileIdentity placed{};
    return identifyName(replacement->target, &placed) && isSameIdentity(placed, replacement->written);
}

void syncFolderOf(const char16_t* path)
{
    std::string name;
    if (!systemPathOf(path, &name)) {
        return;
    }
    const std::string folder = folderOf(name);
    // Some file systems cannot flush a folder; the new name is in place
    // whatever this reports, so its result changes nothing.
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

FileHandle reopenForRead(FileHandle file, const char16_t* path)
{
    if (file != INVALID_FILE) {
        // A new open of the same file, with its own position.
        const std::string self = "/proc/self/fd/" + std::to_string(descriptorOf(file));
        const int fd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            return fd;
        }
    }
    std::string name;
    if (!systemPathOf(path, &name)) {
        return INVALID_FILE;
    }
    const int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? INVALID_FILE : fd;
}

bool identifyFile(FileHandle file, FileIdentity* identity)
{
    struct stat info {};
    if (file == INVALID_FILE || ::fstat(descriptorOf(file), &info) != 0) {
        return false;
    }
    *identity = identityOf(info);
    return true;
}

bool identifyPath(const char16_t* path, FileIdentity* identity)
{
    std::string name;
    struct stat info {};
    if (path == nullptr || !systemPathOf(path, &name) || ::stat(name.c_str(), &info) != 0) {
        return false;
    }
    *identity = identityOf(info);
    return true;
}

FileHandle standardInputFile()
{
    return STDIN_FILENO;
}

FileHandle standardOutputFile()
{
    return STDOUT_FILENO;
}

const char* describeSystemError(std::uint32_t code, char* out, std::size_t capacity)
{
    if (capacity == 0) {
        return out;
    }
    char buffer[256] = {};
    // The GNU strerror_r: the text may be in buffer or in static storage.
    const char* text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    std::size_t n = 0;
    for (; text[n] != 0 && n + 1 < capacity; ++n) {
        out[n] = text[n];
    }
    out[n] = 0;
    return out;
}
