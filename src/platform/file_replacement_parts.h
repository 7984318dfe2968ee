#pragma once
// What each system contributes to the file layer (file_replacement_posix.cpp,
// file_replacement_win32.cpp); file_replacement.cpp holds the steps they share.
#include <cstddef>
#include <cstdint>

#include "platform/file_replacement.h"

// The length of the folder part of path, its last separator included (0 for none).
std::size_t folderLength(const char16_t* path);
// Follows the links of path to the real target; sets replacement->target
// (allocated with new[]) and what is known of an existing target, or the failure.
bool resolveReplacementTarget(FileReplacement* replacement, const char16_t* path);
// Creates path new and owner-only, open for reading and writing, shareable for
// reading. INVALID_FILE with *systemError set when it cannot; *exists tells
// whether the name was taken (worth another name).
FileHandle createExclusiveFile(const char16_t* path, bool* exists, std::uint32_t* systemError);
// Gives the new file its final owner and mode through its descriptor.
bool applyReplacementMode(FileReplacement* replacement);
// The identity of what is at path itself (a link is not followed).
bool identifyName(const char16_t* path, FileIdentity* identity);
// Moves the temporary file into the target's place (see commitReplacement).
bool moveIntoPlace(FileReplacement* replacement);
#ifdef _WIN32
// replaceFile without its fault check (the layer's commit makes its own).
bool replaceWithRecovery(const char16_t* target, const char16_t* source);
#endif
// After the move: true when the target is the file written, where the
// system can tell (the identity of a replaced file may change on Windows).
bool targetIsWritten(const FileReplacement* replacement);
// Makes the new name durable: one flush of the folder where the system has one.
void syncFolderOf(const char16_t* path);
// A reading handle on the same file, opened from the handle itself.
FileHandle reopenForRead(FileHandle file, const char16_t* path);
