// Reading a header of any generation from a file. The first input byte holds
// options: bit 0 rewrites the header checksum so that mutations of the fields
// reach the range checks and the legacy conversion. The rest is the file.
// An accepted header must satisfy everything the later steps rely on.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "container/container_header.h"
#include "container/container_session.h"
#include "fuzz_support.h"

namespace {

void checkAcceptedHeader(const ContainerSession& session)
{
    const ContainerHeader& h = session.header;
    FUZZ_CHECK(session.generation <= 2);
    FUZZ_CHECK(h.flags <= 3);
    FUZZ_CHECK(h.cipherScheme <= 3);
    FUZZ_CHECK(h.shuffleLevel <= 1048576);
    FUZZ_CHECK(h.blockSize <= 50331648);
    FUZZ_CHECK(h.mixRounds >= 4096 && h.mixRounds <= 1048576);
    FUZZ_CHECK(h.scheduleRounds >= 256 && h.scheduleRounds <= 1048576);
    FUZZ_CHECK(h.stirRounds >= 4096 && h.stirRounds <= 1048576);
    if (h.plainSizeHigh == 0) {
        FUZZ_CHECK(h.blockSize <= h.plainSizeLow);
    }
    // No accepted header may lead the payload reader into blocks of no bytes.
    FUZZ_CHECK(h.blockSize != 0 || (h.plainSizeLow == 0 && h.plainSizeHigh == 0));
    if (h.blockSize < 2) {
        FUZZ_CHECK(h.shuffleLevel == 0);
    }
    if ((h.flags & HEADER_FLAG_SHORT_TEXT) != 0) {
        FUZZ_CHECK(h.plainSizeLow == SHORT_TEXT_SIZE && h.plainSizeHigh == 0);
    }
    FUZZ_CHECK(h.entryName[HEADER_ENTRY_NAME_UNITS - 1] == 0);
    FUZZ_CHECK(h.hint[HEADER_HINT_UNITS - 1] == 0);
    FUZZ_CHECK(session.sourceFile != INVALID_FILE);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    std::vector<std::uint8_t> file(data + 1, data + size);
    if ((data[0] & 1) != 0) {
        repairHeaderChecksum(file.data(), file.size());
    }
    if (!writeScratch(file.data(), file.size())) {
        fuzzFail("cannot write the scratch file");
    }
    ContainerSession session;
    initSession(&session);
    const ResultCode code = openContainer(&session, scratchPath());
    FUZZ_CHECK(code == session.result);
    switch (code) {
        case RESULT_OK:
            checkAcceptedHeader(session);
            break;
        case RESULT_BAD_FORMAT:
        case RESULT_READ_FAILED:
        case RESULT_CHECKSUM_FAILED:
        case RESULT_NEWER_VERSION:
            break;
        default:
            fuzzFail("openContainer returned a code a header cannot cause");
    }
    teardownSession(&session);
    FUZZ_CHECK(session.sourceFile == INVALID_FILE && session.targetFile == INVALID_FILE);
    return 0;
}
