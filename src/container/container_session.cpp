#include "container/container_session.h"

#include <cstring>

#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/verified_write.h"
#include "platform/file_replacement.h"
#include "platform/secure_wipe.h"

namespace {

constexpr std::uint64_t FREE_SPACE_MARGIN = 1048576;
constexpr std::size_t DIRECTORY_PATH_LIMIT = 259;
constexpr std::uint64_t LARGEST_PLAIN_SIZE = 0xFFFFFFFFULL;

ResultCode finish(ContainerSession* session, ResultCode code)
{
    session->result = code;
    return code;
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

// Reads and accepts the header of the open sourceFile, from its start.
ResultCode readOpenedHeader(ContainerSession* session)
{
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

// The code of a failed file step of a save, with the layer's reason kept
// for callers that can say more than the code.
ResultCode failFileStep(ContainerSession* session, const FileReplacement* output, ResultCode code)
{
    session->saveFailure = output->failure;
    session->saveSystemError = output->systemError;
    session->result = code;
    return code;
}

// Ends a failed save: the temporary file goes, the target stays as it was.
ResultCode abandonSave(ContainerSession* session, FileReplacement* output)
{
    const ResultCode code = session->result;
    // The output owns the file the session wrote to.
    session->targetFile = INVALID_FILE;
    teardownSession(session);
    abandonReplacement(output);
    session->result = code;
    return code;
}

// The checks of a save's arguments; RESULT_OK or the code it fails with,
// the session torn down.
ResultCode checkSaveArguments(ContainerSession* session, const std::uint8_t* text, std::uint64_t length,
                              const char16_t* path)
{
    session->saveFailure = REPLACE_FAILURE_NONE;
    session->saveSystemError = 0;
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
    return RESULT_OK;
}

// The free-space check on the directory of path (the header filled in).
ResultCode checkFreeSpace(ContainerSession* session, const char16_t* path)
{
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
    return RESULT_OK;
}

// The container written into the begun output, proven by its read-back, and
// put in the target's place.
ResultCode writeAndReplace(ContainerSession* session, FileReplacement* output, const std::uint8_t* text,
                           std::uint64_t length, const char16_t* password)
{
    if (writeVerifiedContainer(session, output, text, length, password) != RESULT_OK) {
        return abandonSave(session, output);
    }
    if (!commitReplacement(output)) {
        failFileStep(session, output, RESULT_SAVE_FAILED);
        return abandonSave(session, output);
    }
    teardownSession(session);
    return finish(session, RESULT_OK);
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
    return readOpenedHeader(session);
}

ResultCode saveContainer(ContainerSession* session, const std::uint8_t* text, std::uint64_t length,
                         const char16_t* path, const char16_t* password, const char16_t* hint,
                         std::uint32_t shuffleLevel)
{
    if (checkSaveArguments(session, text, length, path) != RESULT_OK) {
        return session->result;
    }
    initHeaderForSave(session, length, hint, shuffleLevel, systemTimeAsFileTime());
    session->result = RESULT_OK;
    if (checkFreeSpace(session, path) != RESULT_OK) {
        return session->result;
    }
    FileReplacement output;
    initReplacement(&output);
    if (!beginReplacement(&output, path, 0)) {
        teardownSession(session);
        return failFileStep(session, &output, RESULT_SAVE_FAILED);
    }
    return writeAndReplace(session, &output, text, length, password);
}

ResultCode saveContainerInto(ContainerSession* session, FileReplacement* output, const std::uint8_t* text,
                             std::uint64_t length, const char16_t* password, const char16_t* hint,
                             std::uint32_t shuffleLevel)
{
    if (checkSaveArguments(session, text, length, output->target) != RESULT_OK) {
        abandonReplacement(output);
        return session->result;
    }
    // A replacement that did not begin has no file to write into.
    if (output->temporary == nullptr) {
        abandonReplacement(output);
        teardownSession(session);
        return finish(session, RESULT_SAVE_FAILED);
    }
    initHeaderForSave(session, length, hint, shuffleLevel, systemTimeAsFileTime());
    session->result = RESULT_OK;
    if (checkFreeSpace(session, output->target) != RESULT_OK) {
        abandonReplacement(output);
        return session->result;
    }
    return writeAndReplace(session, output, text, length, password);
}

ResultCode setupKey(ContainerSession* session, const char16_t* password)
{
    const ContainerHeader& header = session->header;
    KeyParameters parameters = {header.cipherScheme, {}, header.mixRounds, header.scheduleRounds, header.stirRounds};
    std::memcpy(parameters.salt, header.salt, sizeof parameters.salt);
    setupCipherKey(&session->cipher, parameters, password);
    wipeObject(parameters);
    return session->result;
}

bool saveRefusedForHardLinks(const ContainerSession* session)
{
    return session->result == RESULT_SAVE_FAILED && session->saveFailure == REPLACE_FAILURE_HARD_LINKS;
}

void teardownSession(ContainerSession* session)
{
    const std::uint32_t plainSum = session->cipher.plainSum;
    wipeObject(session->cipher);
    session->cipher.plainSum = plainSum;
    releaseBuffers(session);
    wipeObject(session->shortBlock);
    session->buffers.bufferSize = 0;
    if (session->sourceFile != INVALID_FILE) {
        closeFile(session->sourceFile);
        session->sourceFile = INVALID_FILE;
    }
    if (session->targetFile != INVALID_FILE) {
        closeFile(session->targetFile);
        session->targetFile = INVALID_FILE;
    }
}
