#include "cipher/payload.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "cipher/checksum.h"
#include "cipher/key_setup.h"
#include "container/container_session.h"
#include "platform/byte_order.h"
#include "platform/platform.h"
#include "platform/secure_wipe.h"

namespace {

ResultCode fail(ContainerSession* session, ResultCode code)
{
    session->result = code;
    return code;
}

std::uint32_t rotl32(std::uint32_t v, unsigned n)
{
    return (v << n) | (v >> (32 - n));
}

std::uint32_t rotr32(std::uint32_t v, unsigned n)
{
    return (v >> n) | (v << (32 - n));
}

bool isShortText(const ContainerSession* session)
{
    return (session->header.flags & HEADER_FLAG_SHORT_TEXT) != 0;
}

std::uint64_t plainSizeOf(const ContainerHeader& header)
{
    return (static_cast<std::uint64_t>(header.plainSizeHigh) << 32) | header.plainSizeLow;
}

// Stores count bytes; anything short of all of them is a failed write.
ResultCode writeExactly(ContainerSession* session, const void* bytes, std::uint32_t count)
{
    std::uint32_t written = 0;
    if (!writeFile(session->targetFile, bytes, count, &written) || written != count) {
        return fail(session, RESULT_WRITE_FAILED);
    }
    return RESULT_OK;
}

// Reads count bytes; a failed call and a file that ends early are told apart.
ResultCode readExactly(ContainerSession* session, void* bytes, std::uint32_t count)
{
    std::uint32_t got = 0;
    if (!readFile(session->sourceFile, bytes, count, &got)) {
        return fail(session, RESULT_READ_FAILED);
    }
    if (got < count) {
        return fail(session, RESULT_UNEXPECTED_EOF);
    }
    return RESULT_OK;
}

void exchangeBuffers(ContainerSession* session)
{
    std::uint8_t* swapped = session->workBuffer;
    session->workBuffer = session->shuffleBuffer;
    session->shuffleBuffer = swapped;
}

// XORs the key generator's low byte into each byte, summing the plaintext
// before (enciphering) or after (deciphering) the XOR.
void encipherBlock(ContainerSession* session, std::uint8_t* block, std::uint32_t n)
{
    CipherState& state = session->cipher;
    for (std::uint32_t k = 0; k < n; ++k) {
        state.plainSum += block[k];
        const std::uint32_t t = keystreamStep(state.keyTable, &state.keyI, &state.keyJ, state.tableMask);
        block[k] = static_cast<std::uint8_t>(block[k] ^ (t & 255));
    }
}

void decipherBlock(ContainerSession* session, std::uint8_t* block, std::uint32_t n)
{
    CipherState& state = session->cipher;
    for (std::uint32_t k = 0; k < n; ++k) {
        const std::uint32_t t = keystreamStep(state.keyTable, &state.keyI, &state.keyJ, state.tableMask);
        block[k] = static_cast<std::uint8_t>(block[k] ^ (t & 255));
        state.plainSum += block[k];
    }
}

void transposeBlock(ContainerSession* session, std::uint32_t n)
{
    buildShuffle(session, n);
    const std::uint8_t* from = session->workBuffer;
    std::uint8_t* to = session->shuffleBuffer;
    const std::uint32_t* index = session->shuffleIndex;
    for (std::uint32_t k = 0; k < n; ++k) {
        to[k] = from[index[k]];
    }
    exchangeBuffers(session);
}

void untransposeBlock(ContainerSession* session, std::uint32_t n)
{
    buildShuffle(session, n);
    const std::uint8_t* from = session->workBuffer;
    std::uint8_t* to = session->shuffleBuffer;
    const std::uint32_t* index = session->shuffleIndex;
    for (std::uint32_t k = 0; k < n; ++k) {
        to[index[k]] = from[k];
    }
    exchangeBuffers(session);
}

// Whether a block of length bytes may stand where expected bytes remain to be
// read: exactly in the current generation; older writers also cut blocks short.
bool acceptBlockLength(const ContainerSession* session, std::uint32_t length, std::uint32_t expected)
{
    if (length == expected) {
        return true;
    }
    return session->generation < 2 && length > 0 && length < expected;
}

ResultCode writeTrailer(ContainerSession* session)
{
    const std::uint32_t sum = session->cipher.plainSum;
    std::uint8_t trailer[PAYLOAD_TRAILER_SIZE];
    storeLe32(trailer + 0, 0);
    storeLe32(trailer + 4, sum);
    storeLe32(trailer + 8, rotl32(sum, 1));
    storeLe32(trailer + 12, ~sum);
    const ResultCode code = writeExactly(session, trailer, sizeof trailer);
    wipeObject(trailer);
    return code;
}

// The judgement once every block has been deciphered: the trailer's sum
// decides; its two redundant copies tell a wrong password from damage.
ResultCode judgeTrailer(ContainerSession* session, const std::uint8_t* trailer, std::uint32_t got)
{
    const std::uint32_t sumPlain = loadLe32(trailer + 4);
    if (sumPlain == session->cipher.plainSum) {
        return session->result;
    }
    if (session->header.cipherScheme == 0) {
        return fail(session, RESULT_WRONG_PASSWORD);
    }
    const bool intact = got == PAYLOAD_TRAILER_SIZE && rotr32(loadLe32(trailer + 8), 1) == sumPlain &&
                        ~loadLe32(trailer + 12) == sumPlain;
    return fail(session, intact ? RESULT_WRONG_PASSWORD : RESULT_CHECKSUM_FAILED);
}

}  // namespace

ResultCode allocateBuffers(ContainerSession* session, std::uint32_t size, bool withShuffle)
{
    // A session used again without teardown must not lose its old buffers unwiped.
    releaseBuffers(session);
    session->bufferSize = size;
    if (size == 0) {
        return session->result;
    }
    session->workBuffer = new (std::nothrow) std::uint8_t[size];
    if (session->workBuffer == nullptr) {
        return fail(session, RESULT_OUT_OF_MEMORY);
    }
    if (withShuffle) {
        session->shuffleBuffer = new (std::nothrow) std::uint8_t[size];
        if (session->shuffleBuffer == nullptr) {
            return fail(session, RESULT_OUT_OF_MEMORY);
        }
        if (size > SIZE_MAX / sizeof(std::uint32_t)) {
            return fail(session, RESULT_OUT_OF_MEMORY);
        }
        session->shuffleIndex = new (std::nothrow) std::uint32_t[size];
        if (session->shuffleIndex == nullptr) {
            return fail(session, RESULT_OUT_OF_MEMORY);
        }
    }
    return session->result;
}

void releaseBuffers(ContainerSession* session)
{
    const std::size_t size = session->bufferSize;
    if (session->workBuffer != nullptr) {
        secureWipe(session->workBuffer, size);
        delete[] session->workBuffer;
        session->workBuffer = nullptr;
    }
    if (session->shuffleBuffer != nullptr) {
        secureWipe(session->shuffleBuffer, size);
        delete[] session->shuffleBuffer;
        session->shuffleBuffer = nullptr;
    }
    if (session->shuffleIndex != nullptr) {
        secureWipe(session->shuffleIndex, size * sizeof(std::uint32_t));
        delete[] session->shuffleIndex;
        session->shuffleIndex = nullptr;
    }
    session->bufferSize = 0;
}

void buildShuffle(ContainerSession* session, std::uint32_t n)
{
    CipherState& state = session->cipher;
    std::uint32_t* index = session->shuffleIndex;
    const std::uint32_t rounds = session->header.shuffleLevel;
    for (std::uint32_t k = 0; k < n; ++k) {
        index[k] = k;
    }
    if (n == 0) {
        return;
    }
    if (session->header.cipherScheme == 0) {
        // One swap list, drawn once, serves every round; its targets lie in 0..255.
        std::uint8_t* targets = session->shuffleBuffer;
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::uint32_t t =
                keystreamStep(state.shuffleTable, &state.shuffleI, &state.shuffleJ, state.tableMask);
            targets[k] = static_cast<std::uint8_t>(t % n);
        }
        for (std::uint32_t round = 0; round < rounds; ++round) {
            for (std::uint32_t k = 0; k < n; ++k) {
                const std::uint32_t other = targets[k];
                const std::uint32_t swapped = index[k];
                index[k] = index[other];
                index[other] = swapped;
            }
        }
        return;
    }
    for (std::uint32_t round = 0; round < rounds; ++round) {
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::uint32_t t =
                keystreamStep(state.shuffleTable, &state.shuffleI, &state.shuffleJ, state.tableMask);
            const std::uint32_t other = t % n;
            const std::uint32_t swapped = index[k];
            index[k] = index[other];
            index[other] = swapped;
        }
    }
}

ResultCode encryptPayload(ContainerSession* session, const std::uint8_t* text)
{
    ContainerHeader& header = session->header;
    const bool shuffled = header.shuffleLevel != 0;
    if (allocateBuffers(session, header.blockSize, shuffled) != RESULT_OK) {
        return session->result;
    }

    const std::uint8_t* source = text;
    if (isShortText(session)) {
        const std::uint32_t length = session->shortBlock[SHORT_TEXT_SIZE - 1];
        if (length != 0) {
            std::memcpy(session->shortBlock, text, length);
        }
        source = session->shortBlock;
    }
    session->cipher.plainSum = 0;

    header.headerChecksum = computeHeaderChecksum(header);
    std::uint8_t headerBytes[HEADER_SIZE];
    storeHeader(header, headerBytes);
    const ResultCode headerWritten = writeExactly(session, headerBytes, HEADER_SIZE);
    wipeObject(headerBytes);
    if (headerWritten != RESULT_OK) {
        return session->result;
    }

    std::uint64_t remaining = plainSizeOf(header);
    std::uint64_t offset = 0;
    if (remaining != 0 && header.blockSize == 0) {
        // A header that cuts a payload into empty blocks would never finish.
        return fail(session, RESULT_INVALID_ARGUMENT);
    }
    while (remaining > 0) {
        const auto n = static_cast<std::uint32_t>(remaining < header.blockSize ? remaining : header.blockSize);
        std::memcpy(session->workBuffer, source + offset, n);
        offset += n;
        remaining -= n;

        encipherBlock(session, session->workBuffer, n);
        if (shuffled) {
            transposeBlock(session, n);
        }
        std::uint8_t blockHeader[BLOCK_HEADER_SIZE];
        storeLe32(blockHeader, n);
        storeLe32(blockHeader + 4, rotateAddChecksum(session->workBuffer, n));
        if (writeExactly(session, blockHeader, BLOCK_HEADER_SIZE) != RESULT_OK ||
            writeExactly(session, session->workBuffer, n) != RESULT_OK) {
            return session->result;
        }
    }

    writeTrailer(session);
    return session->result;
}

ResultCode decryptPayload(ContainerSession* session, std::uint8_t* destination, std::uint64_t capacity)
{
    ContainerHeader& header = session->header;
    const bool shuffled = header.shuffleLevel != 0;
    if (allocateBuffers(session, header.blockSize, shuffled) != RESULT_OK) {
        return session->result;
    }

    const bool shortText = isShortText(session);
    std::uint8_t* target = shortText ? session->shortBlock : destination;
    const std::uint64_t limit = shortText ? SHORT_TEXT_SIZE : (destination != nullptr ? capacity : 0);

    session->cipher.plainSum = 0;
    std::uint64_t remaining = plainSizeOf(header);
    std::uint64_t done = 0;
    std::uint32_t running = 0;
    if (remaining != 0 && header.blockSize == 0) {
        return fail(session, RESULT_CHECKSUM_FAILED);
    }
    while (remaining > 0) {
        const auto expected = static_cast<std::uint32_t>(remaining < header.blockSize ? remaining : header.blockSize);
        std::uint8_t blockHeader[BLOCK_HEADER_SIZE];
        if (readExactly(session, blockHeader, BLOCK_HEADER_SIZE) != RESULT_OK) {
            return session->result;
        }
        const std::uint32_t n = loadLe32(blockHeader);
        if (!acceptBlockLength(session, n, expected)) {
            return fail(session, RESULT_CHECKSUM_FAILED);
        }
        if (readExactly(session, session->workBuffer, n) != RESULT_OK) {
            return session->result;
        }
        // Older writers ran one checksum on across all blocks.
        if (session->generation >= 2) {
            running = 0;
        }
        running = continueRotateAddChecksum(running, session->workBuffer, n);
        if (running != loadLe32(blockHeader + 4)) {
            return fail(session, RESULT_CHECKSUM_FAILED);
        }

        if (shuffled) {
            untransposeBlock(session, n);
        }
        decipherBlock(session, session->workBuffer, n);
        if (done < limit) {
            const std::uint64_t room = limit - done;
            const auto stored = static_cast<std::size_t>(room < n ? room : n);
            std::memcpy(target + done, session->workBuffer, stored);
        }
        done += n;
        remaining -= n;
    }

    std::uint8_t trailer[PAYLOAD_TRAILER_SIZE] = {};
    std::uint32_t got = 0;
    if (!readFile(session->sourceFile, trailer, PAYLOAD_TRAILER_SIZE, &got)) {
        return fail(session, RESULT_READ_FAILED);
    }
    if (got < 8) {
        return fail(session, RESULT_UNEXPECTED_EOF);
    }
    if (loadLe32(trailer) != 0) {
        return fail(session, RESULT_CHECKSUM_FAILED);
    }

    if (shortText) {
        std::uint32_t length = session->shortBlock[SHORT_TEXT_SIZE - 1];
        if (length > SHORT_TEXT_SIZE - 1) {
            length = SHORT_TEXT_SIZE - 1;
            session->shortBlock[SHORT_TEXT_SIZE - 1] = static_cast<std::uint8_t>(length);
        }
        if (length != 0 && destination != nullptr) {
            const auto stored = static_cast<std::size_t>(capacity < length ? capacity : length);
            std::memcpy(destination, session->shortBlock, stored);
        }
        header.plainSizeLow = length;
    }
    return judgeTrailer(session, trailer, got);
}
