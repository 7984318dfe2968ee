#include "container/payload.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "cipher/block_transform.h"
#include "cipher/checksum.h"
#include "container/container_session.h"
#include "platform/byte_order.h"
#include "platform/fault_injection.h"
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

// Copies the n bytes of text of the next block into workBuffer. A test can
// make the writer's transform swap the first two of them here, a fault that
// no checksum or sum of the file can see, only a comparison with the text.
void takeBlockText(ContainerSession* session, const std::uint8_t* text, std::uint32_t n)
{
    std::memcpy(session->buffers.workBuffer, text, n);
    if (injectedFailure(FAULT_CORRUPT_TRANSFORM) && n >= 2) {
        std::swap(session->buffers.workBuffer[0], session->buffers.workBuffer[1]);
    }
}

// Writes the block header and the n bytes of workBuffer.
ResultCode writeBlock(ContainerSession* session, std::uint32_t n, std::uint32_t checksum)
{
    std::uint8_t blockHeader[BLOCK_HEADER_SIZE];
    storeLe32(blockHeader, n);
    storeLe32(blockHeader + 4, checksum);
    if (writeExactly(session, blockHeader, BLOCK_HEADER_SIZE) != RESULT_OK) {
        return session->result;
    }
    return writeExactly(session, session->buffers.workBuffer, n);
}

// Checksums and writes the n-byte block gathered into workBuffer; nothing
// when n is 0.
ResultCode writeGatheredBlock(ContainerSession* session, std::uint32_t n)
{
    if (n == 0) {
        return session->result;
    }
    return writeBlock(session, n, rotateAddChecksum(session->buffers.workBuffer, n));
}

// The helper's part of a block enciphered on two threads: first the checksum
// and write of the block before it (written bytes; 0 when none is due), which
// the buffers still hold, then the n bytes of text enciphered into workBuffer
// and gathered into shuffleBuffer as the caller's permutation settles. False
// when the write failed (session->result tells why); nothing is gathered then.
bool encipherBeside(ContainerSession* session, BlockHelper* helper, const std::uint8_t* text, std::uint32_t n,
                    std::uint32_t written)
{
    if (writeGatheredBlock(session, written) != RESULT_OK) {
        return false;
    }
    takeBlockText(session, text, n);
    helper->encipherGathering(&session->cipher, &session->buffers, n);
    return true;
}

// The helper's part of a block deciphered on two threads: the n bytes read
// into workBuffer and checked against checksum (continuing *running), the key
// bytes put into shuffleBuffer, and the block scattered and deciphered there as
// the caller's permutation settles. False when the read or the check failed
// (session->result tells why); nothing is deciphered then.
bool decipherBeside(ContainerSession* session, BlockHelper* helper, std::uint32_t n, std::uint32_t checksum,
                    std::uint32_t* running)
{
    if (readExactly(session, session->buffers.workBuffer, n) != RESULT_OK) {
        return false;
    }
    *running = continueRotateAddChecksum(*running, session->buffers.workBuffer, n);
    if (*running != checksum) {
        fail(session, RESULT_CHECKSUM_FAILED);
        return false;
    }
    helper->decipherScattering(&session->cipher, &session->buffers, n);
    return true;
}

ShuffleScheme shuffleSchemeOf(const ContainerHeader& header)
{
    return {header.cipherScheme, header.shuffleLevel};
}

// The pacing calls, for transforms that have none too.
void reportWritten(const PayloadPacing* pacing, std::uint64_t bytes)
{
    if (pacing != nullptr) {
        pacing->written(pacing->context, bytes);
    }
}

bool awaitWritten(const PayloadPacing* pacing, std::uint64_t bytes)
{
    return pacing == nullptr || pacing->awaitWritten(pacing->context, bytes);
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
// decides; its two redundant copies tell a wrong password from damage. A
// check of a file just written (strict) also refuses damaged copies beside a
// matching sum: nothing but damage on the way to the disk can make them.
ResultCode judgeTrailer(ContainerSession* session, const std::uint8_t* trailer, std::uint32_t got, bool strict)
{
    const std::uint32_t sumPlain = loadLe32(trailer + 4);
    const bool intact = got == PAYLOAD_TRAILER_SIZE && trailerCopiesAgree(trailer);
    if (sumPlain == session->cipher.plainSum) {
        return (strict && !intact) ? fail(session, RESULT_CHECKSUM_FAILED) : session->result;
    }
    if (session->header.cipherScheme == 0) {
        return fail(session, RESULT_WRONG_PASSWORD);
    }
    return fail(session, intact ? RESULT_WRONG_PASSWORD : RESULT_CHECKSUM_FAILED);
}

// encryptPayload, and with pacing its paced form on the caller's thread alone.
ResultCode encryptBlocks(ContainerSession* session, const std::uint8_t* text, const PayloadPacing* pacing)
{
    ContainerHeader& header = session->header;
    const bool shuffled = header.shuffleLevel != 0;
    const ShuffleScheme shuffle = shuffleSchemeOf(header);
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
    std::uint64_t fileBytes = HEADER_SIZE;
    reportWritten(pacing, fileBytes);

    std::uint64_t remaining = plainSizeOf(header);
    std::uint64_t offset = 0;
    if (remaining != 0 && header.blockSize == 0) {
        // A header that cuts a payload into empty blocks would never finish.
        return fail(session, RESULT_INVALID_ARGUMENT);
    }
    BlockHelper helper;
    // A block enciphered on two threads is checksummed and written by the
    // next block's helper, or here when no helper follows it.
    std::uint32_t unwritten = 0;
    while (remaining > 0) {
        const std::uint32_t n = nextBlockLength(header, remaining);
        const std::uint8_t* block = source + offset;
        offset += n;
        remaining -= n;

        if (pacing == nullptr && shuffled && splitBlock(shuffle, n)) {
            const std::uint32_t written = unwritten;
            bool helped = false;
            if (helper.start(
                    [&, n, block, written] { helped = encipherBeside(session, &helper, block, n, written); })) {
                helper.drawAndFinish(&session->cipher, &session->buffers, shuffle, n);
                if (!helped) {
                    return session->result;
                }
                exchangeBlockBuffers(&session->buffers);
                unwritten = n;
                continue;
            }
        }
        if (writeGatheredBlock(session, unwritten) != RESULT_OK) {
            return session->result;
        }
        unwritten = 0;
        takeBlockText(session, block, n);
        const std::uint32_t checksum = shuffled
                                           ? encipherShuffledBlock(&session->cipher, &session->buffers, shuffle, n)
                                           : encipherBlockChecksummed(&session->cipher, session->buffers.workBuffer, n);
        if (writeBlock(session, n, checksum) != RESULT_OK) {
            return session->result;
        }
        // Paced, every block is written here, and in order.
        fileBytes += BLOCK_HEADER_SIZE + n;
        reportWritten(pacing, fileBytes);
    }
    if (writeGatheredBlock(session, unwritten) != RESULT_OK) {
        return session->result;
    }

    if (writeTrailer(session) == RESULT_OK) {
        reportWritten(pacing, fileBytes + PAYLOAD_TRAILER_SIZE);
    }
    return session->result;
}

// decryptPayload, and with pacing its paced form on the caller's thread alone.
ResultCode decryptBlocks(ContainerSession* session, std::uint8_t* destination, std::uint64_t capacity,
                         const PayloadPacing* pacing)
{
    ContainerHeader& header = session->header;
    const bool shuffled = header.shuffleLevel != 0;
    const ShuffleScheme shuffle = shuffleSchemeOf(header);
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
    // Hands the n deciphered bytes in workBuffer to the destination.
    const auto handOver = [&](std::uint32_t n) {
        if (pacing != nullptr && !shortText) {
            pacing->deliver(pacing->context, session->buffers.workBuffer, n);
        } else if (done < limit) {
            const std::uint64_t room = limit - done;
            const auto stored = static_cast<std::size_t>(room < n ? room : n);
            std::memcpy(target + done, session->buffers.workBuffer, stored);
        }
        done += n;
    };
    BlockHelper helper;
    // A block deciphered on two threads is handed over by the next block's
    // helper, or here when no helper follows it.
    std::uint32_t undelivered = 0;
    // Where the next block starts, in a file of the current generation, the
    // only one a paced reader reads: a file just written.
    std::uint64_t fileBytes = HEADER_SIZE;
    while (remaining > 0) {
        const std::uint32_t expected = nextBlockLength(header, remaining);
        const bool split = pacing == nullptr && shuffled && splitBlock(shuffle, expected);
        // In the current generation a block's length is known before it is
        // read, and so are its permutation and key bytes: a reader beside the
        // writer draws them while the writer is still busy with the block.
        const bool prepared = shuffled && !split && session->generation >= 2;
        if (prepared) {
            prepareShuffledBlock(&session->cipher, &session->buffers, shuffle, expected);
        }
        if (!awaitWritten(pacing, fileBytes + BLOCK_HEADER_SIZE + expected)) {
            return fail(session, RESULT_UNEXPECTED_EOF);
        }
        std::uint8_t blockHeader[BLOCK_HEADER_SIZE];
        if (readExactly(session, blockHeader, BLOCK_HEADER_SIZE) != RESULT_OK) {
            return session->result;
        }
        const std::uint32_t n = loadLe32(blockHeader);
        if (!acceptBlockLength(session->generation, n, expected)) {
            return fail(session, RESULT_CHECKSUM_FAILED);
        }
        const std::uint32_t checksum = loadLe32(blockHeader + 4);
        remaining -= n;
        fileBytes += BLOCK_HEADER_SIZE + n;
        // Older writers ran one checksum on across all blocks.
        if (session->generation >= 2) {
            running = 0;
        }

        if (split && splitBlock(shuffle, n)) {
            const std::uint32_t delivered = undelivered;
            bool helped = false;
            if (helper.start([&, n, checksum, delivered] {
                    handOver(delivered);
                    helped = decipherBeside(session, &helper, n, checksum, &running);
                })) {
                helper.drawAndFinish(&session->cipher, &session->buffers, shuffle, n);
                if (!helped) {
                    return session->result;
                }
                undelivered = n;
                continue;
            }
        }
        handOver(undelivered);
        undelivered = 0;
        if (readExactly(session, session->buffers.workBuffer, n) != RESULT_OK) {
            return session->result;
        }
        // The block checksum is taken in the deciphering pass, and a block
        // that fails it goes no further than the session's own buffers.
        if (shuffled) {
            if (!prepared) {
                prepareShuffledBlock(&session->cipher, &session->buffers, shuffle, n);
            }
            decipherShuffledBlock(&session->cipher, &session->buffers, n, &running);
        } else {
            decipherBlock(&session->cipher, session->buffers.workBuffer, n, &running);
        }
        if (running != checksum) {
            return fail(session, RESULT_CHECKSUM_FAILED);
        }
        handOver(n);
    }
    handOver(undelivered);

    if (!awaitWritten(pacing, fileBytes + PAYLOAD_TRAILER_SIZE)) {
        return fail(session, RESULT_UNEXPECTED_EOF);
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
    return judgeTrailer(session, trailer, got, pacing != nullptr);
}

}  // namespace

std::uint32_t nextBlockLength(const ContainerHeader& header, std::uint64_t left)
{
    return static_cast<std::uint32_t>(left < header.blockSize ? left : header.blockSize);
}

bool trailerCopiesAgree(const std::uint8_t trailer[PAYLOAD_TRAILER_SIZE])
{
    const std::uint32_t sumPlain = loadLe32(trailer + 4);
    return rotr32(loadLe32(trailer + 8), 1) == sumPlain && ~loadLe32(trailer + 12) == sumPlain;
}

bool acceptBlockLength(std::uint32_t generation, std::uint32_t length, std::uint32_t expected)
{
    if (length == expected) {
        return true;
    }
    return generation < 2 && length > 0 && length < expected;
}

ResultCode allocateBuffers(ContainerSession* session, std::uint32_t size, bool withShuffle)
{
    const ResultCode code = allocateBlockBuffers(&session->buffers, size, withShuffle);
    return code != RESULT_OK ? fail(session, code) : session->result;
}

void releaseBuffers(ContainerSession* session)
{
    releaseBlockBuffers(&session->buffers);
}

void buildShuffle(ContainerSession* session, std::uint32_t n)
{
    drawShuffle(&session->cipher, &session->buffers, shuffleSchemeOf(session->header), n, nullptr);
}

ResultCode encryptPayload(ContainerSession* session, const std::uint8_t* text)
{
    return encryptBlocks(session, text, nullptr);
}

ResultCode encryptPayloadPaced(ContainerSession* session, const std::uint8_t* text, const PayloadPacing& pacing)
{
    return encryptBlocks(session, text, &pacing);
}

ResultCode decryptPayload(ContainerSession* session, std::uint8_t* destination, std::uint64_t capacity)
{
    return decryptBlocks(session, destination, capacity, nullptr);
}

ResultCode decryptPayloadPaced(ContainerSession* session, const PayloadPacing& pacing)
{
    return decryptBlocks(session, nullptr, 0, &pacing);
}
