// Opening and decrypting a whole container, as the open job does, with the
// text conversions after it. Input: an options byte (bit 0 rewrites the
// header checksum, bit 1 the block checksums and lengths, bit 2 makes the
// destination smaller than the text, bit 3 picks a "kzx" name, bit 4 a UTF-16
// entry), a password length in bytes, the password as UTF-16 units, the file.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "fuzz_support.h"

namespace {

// Larger destinations add nothing but allocation time: the reader deciphers
// and checks what lies beyond the destination all the same.
constexpr std::uint32_t FUZZ_CAPACITY_CAP = 1 << 16;

bool decryptCodeExpected(ResultCode code)
{
    switch (code) {
        case RESULT_OK:
        case RESULT_READ_FAILED:
        case RESULT_UNEXPECTED_EOF:
        case RESULT_CHECKSUM_FAILED:
        case RESULT_WRONG_PASSWORD:
        case RESULT_OUT_OF_MEMORY:
            return true;
        default:
            return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    const std::uint8_t options = data[0];
    std::size_t passwordBytes = data[1];
    if (passwordBytes > size - 2) {
        passwordBytes = size - 2;
    }
    char16_t password[256];
    passwordFromBytes(data + 2, passwordBytes, password);
    std::vector<std::uint8_t> file(data + 2 + passwordBytes, data + size);
    ContainerSession session;
    if (!openRepairedScratch(options, &file, &session)) {
        return 0;
    }
    const bool isTextContainer = (options & 8) == 0;
    const bool wideEntry = (options & 16) != 0;
    if (wideEntry) {
        markWideEntry(&session.header);
    }
    // The open job's own sizing, then capped (keeping its unit) to stay fast.
    const OpenBufferSize sized = sizeOpenBuffer(session.header, isTextContainer);
    std::uint32_t capacity = sized.capacity < FUZZ_CAPACITY_CAP ? sized.capacity : FUZZ_CAPACITY_CAP;
    if ((options & 4) != 0 && capacity != 0) {
        capacity = capacity / 2;
    }
    capacity -= capacity % sized.unit;
    auto destination = std::make_unique<std::uint8_t[]>(std::size_t{capacity} + 2);

    FUZZ_CHECK(setupKey(&session, password) == RESULT_OK);
    const ResultCode code = decryptPayload(&session, destination.get(), capacity);
    FUZZ_CHECK(code == session.result);
    FUZZ_CHECK(decryptCodeExpected(code));
    const bool shortText = (session.header.flags & HEADER_FLAG_SHORT_TEXT) != 0;
    teardownSession(&session);
    FUZZ_CHECK(session.buffers.workBuffer == nullptr && session.buffers.shuffleBuffer == nullptr &&
               session.buffers.shuffleIndex == nullptr);
    FUZZ_CHECK(session.sourceFile == INVALID_FILE);
    if (code != RESULT_OK) {
        return 0;
    }
    if (shortText) {
        FUZZ_CHECK(headerPlainSize(session.header) <= 31);
    }
    const std::uint32_t textLength = openedTextLength(session.header, capacity);
    FUZZ_CHECK(textLength <= capacity);
    runContainerTextChain(destination.get(), textLength, isTextContainer, wideEntry);
    return 0;
}
