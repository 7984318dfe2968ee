#include "container/container_session.h"

#include <atomic>
#include <cstring>
#include <new>

#include "cipher/payload.h"
#include "container/verified_write.h"
#include "platform/secure_wipe.h"

namespace {

constexpr std::uint64_t FREE_SPACE_MARGIN = 1048576;
constexpr std::size_t DIRECTORY_PATH_LIMIT = 259;
constexpr std::uint64_t LARGEST_PLAIN_SIZE = 0xFFFFFFFFULL;
constexpr int TEMPORARY_NAME_ATTEMPTS = 64;
constexpr char16_t TEMPORARY_PREFIX[] = u".~vt";
constexpr char16_t TEMPORARY_SUFFIX[] = u".tmp";
constexpr std::size_t TEMPORARY_NAME_LENGTH = 4 + 8 + 4;

ResultCode finish(ContainerSession* session, ResultCode code)
{
    session->result = code;
    return code;
}

std::size_t lengthOf(const char16_t* text)
{
    std::size_t n = 0;
    while (text[n] != 0) {
        ++n;
    }
    return n;
}

// Length of the directory part of path: up to and including its last '\' or
// '/', looking at no more than limit characters; 0 when there is none.
std::size_t directoryLength(const char16_t* path, std::size_t limit)
{
    std::size_t directory = 0;
    for (std::size_t i = 0; i < limit && path[i] != 0; ++i) {
        if (path[i] == u'\\' || path[i] == u'/') {
            directory = i + 1;
        }
    }
    return directory;
}

// A name no other save is using at this moment: the time and a per-process
// counter, mixed so that neighbouring values do not give neighbouring names.
std::uint32_t nextTemporarySuffix()
{
    static std::atomic<std::uint32_t> counter{0};
    const std::uint64_t time = systemTimeAsFileTime();
    std::uint32_t v = static_cast<std::uint32_t>(time) ^ static_cast<std::uint32_t>(time >> 32);
    v ^= (counter.fetch_add(1) + 1) * 0x9E3779B9u;
    v ^= v >> 16;
    v *= 0x85EBCA6Bu;
    v ^= v >> 13;
    return v;
}

// Builds "<directory of target>.~vtXXXXXXXX.tmp" into out, which holds
// temporaryPathCapacity(target) units.
void makeTemporaryPath(const char16_t* target, std::uint32_t suffix, char16_t* out)
{
    const std::size_t directory = directoryLength(target, lengthOf(target));
    std::size_t n = 0;
    for (; n < directory; ++n) {
        out[n] = target[n];
    }
    for (std::size_t i = 0; TEMPORARY_PREFIX[i] != 0; ++i) {
        out[n++] = TEMPORARY_PREFIX[i];
    }
    for (int shift = 28; shift >= 0; shift -= 4) {
        out[n++] = u"0123456789abcdef"[(suffix >> shift) & 0xF];
    }
    for (std::size_t i = 0; TEMPORARY_SUFFIX[i] != 0; ++i) {
        out[n++] = TEMPORARY_SUFFIX[i];
    }
    out[n] = 0;
}

std::size_t temporaryPathCapacity(const char16_t* target)
{
    return directoryLength(target, lengthOf(target)) + TEMPORARY_NAME_LENGTH + 1;
}

// Creates the file the new container is written to, beside the target, under
// a name that did not exist: an existing file is never opened or truncated.
FileHandle createTemporaryFile(const char16_t* target, char16_t* path)
{
    for (int attempt = 0; attempt < TEMPORARY_NAME_ATTEMPTS; ++attempt) {
        makeTemporaryPath(target, nextTemporarySuffix(), path);
        const FileHandle file = createNewFileSharingReads(path);
        if (file != INVALID_FILE) {
            return file;
        }
        // Only a name already taken is worth another try; anything else
        // (no such directory, no permission) fails the same way every time.
        if (!pathExists(path)) {
            break;
        }
    }
    path[0] = 0;
    return INVALID_FILE;
}

// Ends a failed save: the temporary file goes, the target stays as it was.
ResultCode abandonSave(ContainerSession* session, char16_t* temporaryPath)
{
    const ResultCode code = session->result;
    teardownSession(session);
    if (temporaryPath[0] != 0) {
        deleteFile(temporaryPath);
    }
    delete[] temporaryPath;
    session->result = code;
    return code;
}

}  // namespace

void initSession(ContainerSession* session)
{
    std::memset(session, 0, sizeof *session);
    session->result = RESULT_OK;
    session->sourceFile = INVALID_FILE;
    session->targetFile = INVALID_FILE;
}

ResultCode openContainer(ContainerSession* session, const char16_t* path)
{
    if (path == nullptr || session->sourceFile != INVALID_FILE) {
        return finish(session, RESULT_OPEN_FAILED);
    }
    session->sourceFile = openFileForRead(path);
    if (session->sourceFile == INVALID_FILE) {
        return finish(session, RESULT_OPEN_FAILED);
    }
    std::memset(&session->header, 0, sizeof session->header);
    std::uint8_t bytes[HEADER_SIZE] = {};
    std::uint32_t got = 0;
    if (!readFile(session->sourceFile, bytes, HEADER_SIZE, &got)) {
        return finish(session, RESULT_READ_FAILED);
    }
    // A generation-2 header leaves the file at the first payload byte; an older
    // one is read again from the start, with its strings, by the conversion.
    return readHeader(session, bytes, got);
}

ResultCode saveContainer(ContainerSession* session, const std::uint8_t* text, std::uint64_t length,
                         const char16_t* path, const char16_t* password, const char16_t* hint,
                         std::uint32_t shuffleLevel)
{
    if (text == nullptr && length != 0) {
        teardownSession(session);
        return finish(session, RESULT_INVALID_ARGUMENT);
    }
    if (path == nullptr) {
        teardownSession(session);
        return finish(session, RESULT_SAVE_FAILED);
    }
    // The header keeps the size in 32 bits; a larger text would be cut short
    // without a word, so it is refused before anything is written.
    if (length > LARGEST_PLAIN_SIZE) {
        teardownSession(session);
        return finish(session, RESULT_LIMIT_EXCEEDED);
    }

    initHeaderForSave(session, length, hint, shuffleLevel, systemTimeAsFileTime());
    session->result = RESULT_OK;

    char16_t directory[DIRECTORY_PATH_LIMIT + 1] = {};
    const std::size_t directoryUnits = directoryLength(path, DIRECTORY_PATH_LIMIT);
    std::memcpy(directory, path, directoryUnits * sizeof(char16_t));
    const std::uint64_t needed = headerPlainSize(session->header);
    std::uint64_t available = 0;
    // A failed query does not stop the save: the writes will tell.
    if (diskFreeBytes(directory, &available) && (available < needed || available - needed < FREE_SPACE_MARGIN)) {
        teardownSession(session);
        return finish(session, RESULT_DISK_FULL);
    }

    char16_t* temporaryPath = new (std::nothrow) char16_t[temporaryPathCapacity(path)];
    if (temporaryPath == nullptr) {
        teardownSession(session);
        return finish(session, RESULT_OUT_OF_MEMORY);
    }
    session->targetFile = createTemporaryFile(path, temporaryPath);
    if (session->targetFile == INVALID_FILE) {
        session->result = RESULT_SAVE_FAILED;
        return abandonSave(session, temporaryPath);
    }

    if (writeVerifiedContainer(session, text, length, temporaryPath, password) != RESULT_OK) {
        return abandonSave(session, temporaryPath);
    }
    if (!replaceFile(path, temporaryPath)) {
        session->result = RESULT_SAVE_FAILED;
        return abandonSave(session, temporaryPath);
    }
    delete[] temporaryPath;
    teardownSession(session);
    return finish(session, RESULT_OK);
}

void teardownSession(ContainerSession* session)
{
    const std::uint32_t plainSum = session->cipher.plainSum;
    wipeObject(session->cipher);
    session->cipher.plainSum = plainSum;
    releaseBuffers(session);
    wipeObject(session->shortBlock);
    session->bufferSize = 0;
    if (session->sourceFile != INVALID_FILE) {
        closeFile(session->sourceFile);
        session->sourceFile = INVALID_FILE;
    }
    if (session->targetFile != INVALID_FILE) {
        closeFile(session->targetFile);
        session->targetFile = INVALID_FILE;
    }
}
