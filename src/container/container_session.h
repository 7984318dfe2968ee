#pragma once
// One container file being read or written: its files, header, cipher state
// and block buffers, and the operations that open, save and tear it down.
#include <cstdint>

#include "cipher/block_transform.h"
#include "cipher/cipher_state.h"
#include "container/container_header.h"
#include "platform/result_codes.h"
#include "platform/file_replacement.h"
#include "platform/platform.h"

struct ContainerSession {
    ResultCode result;
    std::uint32_t generation;
    ContainerHeader header;
    CipherState cipher;
    BlockBuffers buffers;
    std::uint8_t shortBlock[SHORT_TEXT_SIZE];
    FileHandle sourceFile;
    FileHandle targetFile;
    // Why the last save failed: the ReplaceFailure of its file step
    // (platform/file_replacement.h; 0 when the save succeeded or failed
    // elsewhere) and the system's error number of a failed file step or
    // write (0 when none). Callers that can say more than the result code (a
    // refused hard link, a name the system cannot take, the system's reason)
    // read them after a save.
    std::uint32_t saveFailure;
    std::uint32_t saveSystemError;
};

// Zeroes the record and marks both files closed.
void initSession(ContainerSession* session);
// Opens path for reading and accepts its header; sourceFile is left at the
// first payload byte on success (and may stay open on failure).
ResultCode openContainer(ContainerSession* session, const char16_t* path);
// Saves length bytes of text as a new container at path under password,
// through the file layer (platform/file_replacement.h): a temporary file
// beside the real target (a symbolic link is written through), flushed, read
// back and deciphered, then put in the target's place; a failure leaves any
// existing file as it was and no temporary file behind. A target with other
// hard links is refused (RESULT_SAVE_FAILED, see saveRefusedForHardLinks).
// RESULT_DISK_FULL when the target's directory lacks the text's size plus
// 1 MiB; RESULT_SAVE_FAILED when the temporary file or the replacement cannot
// be made (saveFailure and saveSystemError say why); RESULT_WRITE_FAILED when
// a write, the flush or the close fails, or when the written file does not
// read back to the text; RESULT_LIMIT_EXCEEDED for 4 GiB or more of text.
// The session is torn down before it returns.
ResultCode saveContainer(ContainerSession* session, const std::uint8_t* text, std::uint64_t length,
                         const char16_t* path, const char16_t* password, const char16_t* hint,
                         std::uint32_t shuffleLevel);
// The same save into a replacement the caller has begun (beginReplacement),
// with the flags it chose: vtxt creates its output before it asks for the
// password. The replacement is committed on success and abandoned on failure.
ResultCode saveContainerInto(ContainerSession* session, FileReplacement* output, const std::uint8_t* text,
                             std::uint64_t length, const char16_t* password, const char16_t* hint,
                             std::uint32_t shuffleLevel);
// True when the last save failed (RESULT_SAVE_FAILED) because its target has
// other hard links, which a save would split from it: the other names would
// keep the old contents and the old password. The editor's message for
// RESULT_SAVE_FAILED can say so from this.
bool saveRefusedForHardLinks(const ContainerSession* session);
// Reads the container at path back with password, in a session of its own,
// deciphering every block, and tells whether it holds exactly the length
// bytes of text. Keeps no deciphered byte; wipes its state. (Defined with the
// verified write, whose check it is.)
bool verifySavedContainer(const char16_t* path, const std::uint8_t* text, std::uint64_t length,
                          const char16_t* password);
// Keys both generators of session->cipher from password (NUL-terminated UTF-16,
// null counts as empty; only its first 1024 units are looked at) and the
// header's scheme, salt and round counts. Wipes every intermediate buffer;
// allocates nothing, never fails, returns session->result unchanged.
ResultCode setupKey(ContainerSession* session, const char16_t* password);
// Wipes and frees the buffers, clears the cipher state (but plainSum) and
// shortBlock, closes both files. Header, generation and result survive. Safe
// to call again.
void teardownSession(ContainerSession* session);
