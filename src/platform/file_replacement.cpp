// The steps of the file layer that every system shares; each system's calls
// are in file_replacement_posix.cpp and file_replacement_win32.cpp.
#include "platform/file_replacement.h"

#include <atomic>
#include <cstring>
#include <new>

#include "platform/fault_injection.h"
#include "platform/file_replacement_parts.h"

namespace {

constexpr int TEMPORARY_NAME_ATTEMPTS = 64;
constexpr char16_t TEMPORARY_PREFIX[] = u".~vt";
constexpr char16_t TEMPORARY_SUFFIX[] = u".tmp";
// Prefix, eight hexadecimal digits, suffix.
constexpr std::size_t TEMPORARY_NAME_LENGTH = 4 + 8 + 4;

std::size_t lengthOf(const char16_t* text)
{
    std::size_t n = 0;
    while (text[n] != 0) {
        ++n;
    }
    return n;
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

// "<directory>.~vtXXXXXXXX.tmp" into out (directoryUnits + TEMPORARY_NAME_LENGTH + 1 units).
void makeTemporaryName(const char16_t* directory, std::size_t directoryUnits, std::uint32_t suffix, char16_t* out)
{
    std::size_t n = 0;
    for (; n < directoryUnits; ++n) {
        out[n] = directory[n];
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

// Creates a new file under a fresh temporary name in directory; *path gets the
// name (allocated) on success.
FileHandle createTemporaryIn(const char16_t* directory, std::size_t directoryUnits, char16_t** path,
                             std::uint32_t* systemError)
{
    *path = nullptr;
    char16_t* name = new (std::nothrow) char16_t[directoryUnits + TEMPORARY_NAME_LENGTH + 1];
    if (name == nullptr) {
        *systemError = 0;
        return INVALID_FILE;
    }
    for (int attempt = 0; attempt < TEMPORARY_NAME_ATTEMPTS; ++attempt) {
        makeTemporaryName(directory, directoryUnits, nextTemporarySuffix(), name);
        bool exists = false;
        const FileHandle file =
            injectedFailure(FAULT_CREATE) ? INVALID_FILE : createExclusiveFile(name, &exists, systemError);
        if (file != INVALID_FILE) {
            *path = name;
            return file;
        }
        // Only a name already taken is worth another try; anything else (no
        // such folder, no permission) fails the same way every time.
        if (!exists) {
            break;
        }
    }
    delete[] name;
    return INVALID_FILE;
}

bool fail(FileReplacement* replacement, ReplaceFailure failure, std::uint32_t systemError)
{
    replacement->failure = failure;
    replacement->systemError = systemError;
    return false;
}

}  // namespace

std::size_t folderLength(const char16_t* path)
{
    std::size_t folder = 0;
    for (std::size_t i = 0; path[i] != 0; ++i) {
#ifdef _WIN32
        if (path[i] == u'\\' || path[i] == u'/' || (i == 1 && path[i] == u':')) {
#else
        if (path[i] == u'/') {
#endif
            folder = i + 1;
        }
    }
    return folder;
}

void initReplacement(FileReplacement* replacement)
{
    std::memset(replacement, 0, sizeof *replacement);
    replacement->file = INVALID_FILE;
}

bool beginReplacement(FileReplacement* replacement, const char16_t* path, std::uint32_t flags)
{
    abandonReplacement(replacement);
    replacement->flags = flags;
    replacement->failure = REPLACE_FAILURE_NONE;
    replacement->systemError = 0;
    if (path == nullptr || path[0] == 0) {
        return fail(replacement, REPLACE_FAILURE_BAD_NAME, 0);
    }
    if (!resolveReplacementTarget(replacement, path)) {
        abandonReplacement(replacement);
        return false;
    }
    std::uint32_t systemError = 0;
    replacement->file = createTemporaryIn(replacement->target, folderLength(replacement->target),
                                          &replacement->temporary, &systemError);
    if (replacement->file == INVALID_FILE) {
        const std::uint32_t keep = systemError;
        abandonReplacement(replacement);
        return fail(replacement, REPLACE_FAILURE_SYSTEM, keep);
    }
    if (!applyReplacementMode(replacement) || !identifyFile(replacement->file, &replacement->written)) {
        const std::uint32_t keep = lastSystemErrorCode();
        abandonReplacement(replacement);
        return fail(replacement, REPLACE_FAILURE_SYSTEM, keep);
    }
    replaceStepReached(REPLACE_STEP_CREATED, replacement->temporary, replacement->target);
    return true;
}

bool finishReplacement(FileReplacement* replacement)
{
    if (replacement->file == INVALID_FILE) {
        return replacement->temporary != nullptr;
    }
    // One flush: every byte on the disk before the file can take the
    // target's name; a close can still report a write that failed late.
    const bool flushed = flushFile(replacement->file);
    const std::uint32_t flushError = flushed ? 0 : lastSystemErrorCode();
    const bool closed = closeFile(replacement->file);
    replacement->file = INVALID_FILE;
    if (!flushed || !closed) {
        return fail(replacement, REPLACE_FAILURE_SYSTEM, flushed ? lastSystemErrorCode() : flushError);
    }
    return true;
}

FileHandle openReplacementForRead(const FileReplacement* replacement)
{
    if (replacement->temporary == nullptr || injectedFailure(FAULT_OPEN)) {
        return INVALID_FILE;
    }
    const FileHandle file = reopenForRead(replacement->file, replacement->temporary);
    // Opened by name (the writer is closed): only the very file written will do.
    FileIdentity identity{};
    if (file != INVALID_FILE && (!identifyFile(file, &identity) || !isSameIdentity(identity, replacement->written))) {
        closeFile(file);
        return INVALID_FILE;
    }
    return file;
}

bool commitReplacement(FileReplacement* replacement)
{
    if (replacement->temporary == nullptr || (replacement->file != INVALID_FILE && !finishReplacement(replacement))) {
        const ReplaceFailure failure = static_cast<ReplaceFailure>(replacement->failure);
        const std::uint32_t systemError = replacement->systemError;
        abandonReplacement(replacement);
        return fail(replacement, failure == REPLACE_FAILURE_NONE ? REPLACE_FAILURE_SYSTEM : failure, systemError);
    }
    replaceStepReached(REPLACE_STEP_BEFORE_COMMIT, replacement->temporary, replacement->target);
    // The name must still lead to the file written: a file put there by
    // someone else must never take the target's place.
    FileIdentity named{};
    if (!identifyName(replacement->temporary, &named) || !isSameIdentity(named, replacement->written)) {
        abandonReplacement(replacement);
        return fail(replacement, REPLACE_FAILURE_SWAPPED, 0);
    }
    if (injectedFailure(FAULT_REPLACE) || !moveIntoPlace(replacement)) {
        const ReplaceFailure failure = replacement->failure == REPLACE_FAILURE_NONE
                                           ? REPLACE_FAILURE_SYSTEM
                                           : static_cast<ReplaceFailure>(replacement->failure);
        const std::uint32_t systemError = replacement->systemError;
        abandonReplacement(replacement);
        return fail(replacement, failure, systemError);
    }
    // The temporary name is gone: nothing is to be deleted from here on.
    delete[] replacement->temporary;
    replacement->temporary = nullptr;
    const bool placed = targetIsWritten(replacement);
    if (!injectedFailure(FAULT_SYNC_FOLDER)) {
        syncFolderOf(replacement->target);
    }
    abandonReplacement(replacement);
    if (!placed) {
        return fail(replacement, REPLACE_FAILURE_SWAPPED, 0);
    }
    return true;
}

void abandonReplacement(FileReplacement* replacement)
{
    if (replacement->file != INVALID_FILE) {
        closeFile(replacement->file);
        replacement->file = INVALID_FILE;
    }
    if (replacement->temporary != nullptr) {
        deleteFile(replacement->temporary);
        delete[] replacement->temporary;
        replacement->temporary = nullptr;
    }
    delete[] replacement->target;
    replacement->target = nullptr;
}

FileHandle createScratchFile(const char16_t* directory, char16_t** path, std::uint32_t* systemError)
{
    *systemError = 0;
    return createTemporaryIn(directory, lengthOf(directory), path, systemError);
}

void releaseScratchPath(char16_t* path)
{
    delete[] path;
}

bool isSameIdentity(const FileIdentity& a, const FileIdentity& b)
{
    return a.volume == b.volume && a.index == b.index;
}
