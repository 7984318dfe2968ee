#pragma once
// Writing a container and proving it: a check reads the file back through a
// handle of its own, with a session and key setup of its own, deciphers every
// block and compares every byte with the text. On two processors the check
// runs beside the writer, deciphering block k while block k+1 is enciphered and
// written, so that a verified save takes little longer than an unverified one.
#include <cstdint>

#include "platform/result_codes.h"

struct ContainerSession;
struct FileReplacement;

// The middle of a save. session holds the header filled in for the save;
// output is a begun replacement whose new, empty file is written. Draws the
// per-file parameters, sets up the key, writes the header, blocks and trailer,
// flushes and closes the file once (finishReplacement, on every path) and
// checks it through a second handle on the file itself. RESULT_OK only when
// all of that succeeded and the file reads back to exactly the length bytes
// of text; a check that fails gives RESULT_WRITE_FAILED, and a failed write,
// flush or close keeps the system's reason in session->saveSystemError. The
// file stays where it is either way: the caller commits the replacement, or
// abandons it.
ResultCode writeVerifiedContainer(ContainerSession* session, FileReplacement* output, const std::uint8_t* text,
                                  std::uint64_t length, const char16_t* password);
