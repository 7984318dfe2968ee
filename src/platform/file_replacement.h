#pragma once
// The one way every program here writes a file that takes the place of
// another (the editor's save, vtxt's outputs and password changes):
//   beginReplacement    follows links to the real target, refuses what must not
//                       be replaced, creates a new temporary file beside the
//                       real target, owner-only, then gives it its final mode
//                       through the open descriptor (never by name);
//   (the caller writes through `file`)
//   finishReplacement   flushes the file once and closes it;
//   (the caller may read it back through openReplacementForRead)
//   commitReplacement   checks that the temporary name still leads to the file
//                       written, puts it in the target's place in one step,
//                       checks the result and flushes the folder once;
//   abandonReplacement  closes and deletes the temporary file.
// Until commitReplacement succeeds, whatever was at the target stays there
// byte for byte; after any failure (abandonReplacement on every failed path)
// nothing temporary is left behind.
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

enum ReplaceFlag : std::uint32_t {
    // Never replace anything: fail when something is at the target, also when
    // it appears there between the start and the commit.
    REPLACE_KEEP_EXISTING = 1u << 0,
    // Replace a file that has other hard links all the same: its other names
    // keep the old contents. Without it such a file is refused.
    REPLACE_SPLIT_HARD_LINKS = 1u << 1,
    // The new file is readable and writable by its owner only, whatever the
    // mode of the file it replaces (plaintext). Without it a replaced file's
    // mode (and owner, where allowed) is kept and a new file gets the usual
    // mode of a new file.
    REPLACE_OWNER_ONLY = 1u << 2,
};

// Why the last step failed.
enum ReplaceFailure : std::uint32_t {
    REPLACE_FAILURE_NONE = 0,
    REPLACE_FAILURE_SYSTEM = 1,       // a system call failed; systemError tells why
    REPLACE_FAILURE_BAD_NAME = 2,     // the name cannot be given to this system exactly as it is
    REPLACE_FAILURE_DIRECTORY = 3,    // the target is a directory
    REPLACE_FAILURE_NOT_REGULAR = 4,  // the target is a device, pipe or socket
    REPLACE_FAILURE_EXISTS = 5,       // REPLACE_KEEP_EXISTING and something is at the target
    REPLACE_FAILURE_HARD_LINKS = 6,   // the target has other hard links (see REPLACE_SPLIT_HARD_LINKS)
    REPLACE_FAILURE_SWAPPED = 7,      // the temporary name, or the target after the replacement,
                                      // no longer led to the file written: someone else changed the folder
};

// The file identity the system keeps: device and inode, or volume serial and file index.
struct FileIdentity {
    std::uint64_t volume;
    std::uint64_t index;
};

struct FileReplacement {
    FileHandle file;            // the temporary file while it is written; INVALID_FILE otherwise
    char16_t* target;           // the real target (the named path with its links followed)
    char16_t* temporary;        // the temporary file beside it; null when none exists
    std::uint32_t flags;        // ReplaceFlag bits
    std::uint32_t failure;      // ReplaceFailure of the last step that failed
    std::uint32_t systemError;  // errno or GetLastError of that step (0 when none)
    FileIdentity written;       // identity of the temporary file
    bool targetExisted;         // something was at the real target when the replacement began
    std::uint32_t targetMode;   // its permission bits, owner and group (POSIX)
    std::uint32_t targetOwner;
    std::uint32_t targetGroup;
};

// Zeroes the record: no file, no names.
void initReplacement(FileReplacement* replacement);
// Starts replacing the file at path (see the header comment) in a record made
// by initReplacement. False after a failure, which has already been cleaned up
// (nothing is left on disk).
bool beginReplacement(FileReplacement* replacement, const char16_t* path, std::uint32_t flags);
// Flushes the temporary file once and closes it. False when either fails; the
// caller then abandons the replacement.
bool finishReplacement(FileReplacement* replacement);
// A second handle that reads the temporary file from its start: opened on the
// file itself, not by name, so it reads the very file written. Works while
// the file is still being written. INVALID_FILE on failure; closeFile frees it.
FileHandle openReplacementForRead(const FileReplacement* replacement);
// Puts the finished temporary file in the target's place. False when it
// could not (the target is then as it was, except after
// REPLACE_FAILURE_SWAPPED found once the new name was taken). Either way
// the record is released afterwards; abandonReplacement is still harmless.
bool commitReplacement(FileReplacement* replacement);
// Closes and deletes the temporary file if there is one and frees the names.
// Safe to call again and on a record that never began.
void abandonReplacement(FileReplacement* replacement);

// A new, empty, owner-only scratch file in directory (which ends with its
// separator, or is empty for the current one), named like a temporary file;
// *path receives its name, allocated (free it with releaseScratchPath).
// INVALID_FILE, with *systemError set, when it cannot be made.
FileHandle createScratchFile(const char16_t* directory, char16_t** path, std::uint32_t* systemError);
void releaseScratchPath(char16_t* path);

// The identity of an open file, and of the file a path leads to (links followed).
bool identifyFile(FileHandle file, FileIdentity* identity);
bool identifyPath(const char16_t* path, FileIdentity* identity);
// The process's standard input and output as file handles (not to be closed).
FileHandle standardInputFile();
FileHandle standardOutputFile();
// True when the two identities are those of one file.
bool isSameIdentity(const FileIdentity& a, const FileIdentity& b);

// The error number of the last failed platform call (errno or GetLastError).
std::uint32_t lastSystemErrorCode();
// True when an error number means that the other end of a pipe is closed:
// for a write, the reader went away; for a read (Windows), the data ended.
bool isClosedPipeError(std::uint32_t code);

// The system's own words for an error number (errno or GetLastError), as UTF-8
// into out (capacity bytes, NUL-terminated). Returns out.
const char* describeSystemError(std::uint32_t code, char* out, std::size_t capacity);
