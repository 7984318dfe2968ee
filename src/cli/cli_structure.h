#pragma once
// The structure walk of verify: what can be checked of a container's payload
// without its key.
#include <functional>
#include <string>

#include "platform/result_codes.h"

struct ContainerSession;

// Walks the blocks and the trailer after a header that openContainer accepted
// (the session's sourceFile stands at the first payload byte), as the reader
// lays them out: each block's length and checksum, the end marker and the
// trailer's size. Each finding goes to report as one line. Returns RESULT_OK,
// or the code the reader would fail with at the same place
// (RESULT_CHECKSUM_FAILED, RESULT_UNEXPECTED_EOF, RESULT_READ_FAILED).
// Damaged spare copies of the sum in the trailer are reported but not a
// failure: only the sum itself decides, which needs the key.
ResultCode walkContainerStructure(ContainerSession* session, const std::function<void(const std::string&)>& report);
