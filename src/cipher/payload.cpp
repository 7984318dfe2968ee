#include "cipher/payload.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <thread>
#include <utility>

#include "cipher/checksum.h"
#include "cipher/key_setup.h"
#include "cipher/settled_positions.h"
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
    std::memcpy(session->workBuffer, text, n);
    if (injectedFailure(FAULT_CORRUPT_TRANSFORM) && n >= 2) {
        std::swap(session->workBuffer[0], session->workBuffer[1]);
    }
}

void exchangeBuffers(ContainerSession* session)
{
    std::uint8_t* swapped = session->workBuffer;
    session->workBuffer = session->shuffleBuffer;
    session->shuffleBuffer = swapped;
}

// XORs the key generator's low byte into each byte, summing the plaintext
// before the XOR. With WITH_CHECKSUM it also returns the block checksum of
// what it wrote, a chain that runs beside the generator's at no extra cost.
template <bool WITH_CHECKSUM>
std::uint32_t encipherBlock(CipherState& state, std::uint8_t* block, std::uint32_t n)
{
    std::uint32_t i = state.keyI;
    std::uint32_t j = state.keyJ;
    std::uint32_t sum = state.plainSum;
    std::uint32_t checksum = 0;
    generatorSteps(state.keyTable, i, j, state.tableMask, 0, n, [&](std::uint32_t k, std::uint32_t key) {
        const std::uint8_t plain = block[k];
        sum += plain;
        const auto cipher = static_cast<std::uint8_t>(plain ^ key);
        block[k] = cipher;
        if constexpr (WITH_CHECKSUM) {
            checksum = rotateAddStep(checksum, cipher);
        }
    });
    state.keyI = i;
    state.keyJ = j;
    state.plainSum = sum;
    return checksum;
}

// Deciphers in place and sums the plaintext after the XOR; continues the block
// checksum *running over the ciphertext as it goes.
void decipherBlock(CipherState& state, std::uint8_t* block, std::uint32_t n, std::uint32_t* running)
{
    std::uint32_t i = state.keyI;
    std::uint32_t j = state.keyJ;
    std::uint32_t sum = state.plainSum;
    std::uint32_t checksum = *running;
    generatorSteps(state.keyTable, i, j, state.tableMask, 0, n, [&](std::uint32_t k, std::uint32_t key) {
        const std::uint8_t cipher = block[k];
        checksum = rotateAddStep(checksum, cipher);
        const auto plain = static_cast<std::uint8_t>(cipher ^ key);
        block[k] = plain;
        sum += plain;
    });
    state.keyI = i;
    state.keyJ = j;
    state.plainSum = sum;
    *running = checksum;
}

// The key generator's low bytes for the next n positions, without using them.
void keystreamBytes(CipherState& state, std::uint8_t* out, std::uint32_t n)
{
    std::uint32_t i = state.keyI;
    std::uint32_t j = state.keyJ;
    generatorSteps(state.keyTable, i, j, state.tableMask, 0, n,
                   [&](std::uint32_t k, std::uint32_t key) { out[k] = static_cast<std::uint8_t>(key); });
    state.keyI = i;
    state.keyJ = j;
}

// buildShuffle, telling another thread through settled (when not null) how
// far the permutation is final. When the block is longer than the table mask
// every swap partner lies in 0..mask, so in the last round index[k] for k
// above the mask is final once the round has passed k; settled gives that
// bound as it grows.
void drawShuffle(ContainerSession* session, std::uint32_t n, SettledPositions* settled);

std::atomic<unsigned> configuredThreads{0};

// A second thread takes everything a block needs besides its permutation (key
// generator, checksum, reading or writing, applying the permutation) off the
// permutation's path, so it pays only when that work is long beside starting
// the thread and handing the positions across: on shorter blocks, at any
// shuffle level, two threads measured slower than one. Only shuffled blocks
// come here.
bool splitBlock(const ContainerSession* session, std::uint32_t n)
{
    return payloadThreads() >= 2 && session->header.cipherScheme != 0 && n >= PARALLEL_BLOCK_MIN;
}

// The two-thread path of a shuffled block. The caller draws the permutation,
// the one long serial chain, while a helper thread does the rest of the block
// and applies the permutation as its positions settle. Keeping the chain on
// the caller's thread means a helper on a slower or busier processor holds
// nothing up until its own, much shorter, work outgrows the chain. The two
// generators are independent, so the output is the same as on one thread; the
// caller touches only the shuffle generator and shuffleIndex meanwhile, the
// helper everything else the block uses.
class BlockHelper {
public:
    BlockHelper() = default;
    ~BlockHelper()
    {
        finish();
    }
    BlockHelper(const BlockHelper&) = delete;
    BlockHelper& operator=(const BlockHelper&) = delete;

    // Runs task on a new thread; false, with nothing run, when none can be started.
    template <typename Task>
    bool start(Task task)
    {
        finish();
        settled_.reset();
        try {
            helper_ = std::thread(std::move(task));
        } catch (...) {
            // std::system_error, or no memory for the thread's state.
            return false;
        }
        return true;
    }

    // Draws the permutation of the n-byte block on the calling thread,
    // reporting positions as they settle, and waits for the task.
    void drawAndFinish(ContainerSession* session, std::uint32_t n)
    {
        drawShuffle(session, n, &settled_);
        settled_.publish(n);
        finish();
    }

    // For the task: calls visit(k) for every position k of the n-byte block,
    // those above the table mask as they settle, the others once the whole
    // permutation is drawn.
    template <typename Visit>
    void settle(const ContainerSession* session, std::uint32_t n, Visit visit)
    {
        const std::uint32_t settledFrom = std::min(n, session->cipher.tableMask + 1);
        std::uint32_t k = settledFrom;
        for (std::uint32_t ready = 0; ready < n; ready = settled_.awaitBeyond(ready)) {
            for (; k < ready; ++k) {
                visit(k);
            }
        }
        for (; k < n; ++k) {
            visit(k);
        }
        for (k = 0; k < settledFrom; ++k) {
            visit(k);
        }
    }

private:
    void finish()
    {
        if (helper_.joinable()) {
            helper_.join();
        }
    }

    std::thread helper_;
    SettledPositions settled_;
};

// Writes the block header and the n bytes of workBuffer.
ResultCode writeBlock(ContainerSession* session, std::uint32_t n, std::uint32_t checksum)
{
    std::uint8_t blockHeader[BLOCK_HEADER_SIZE];
    storeLe32(blockHeader, n);
    storeLe32(blockHeader + 4, checksum);
    if (writeExactly(session, blockHeader, BLOCK_HEADER_SIZE) != RESULT_OK) {
        return session->result;
    }
    return writeExactly(session, session->workBuffer, n);
}

// Checksums and writes the n-byte block gathered into workBuffer; nothing
// when n is 0.
ResultCode writeGatheredBlock(ContainerSession* session, std::uint32_t n)
{
    if (n == 0) {
        return session->result;
    }
    return writeBlock(session, n, rotateAddChecksum(session->workBuffer, n));
}

// Enciphers workBuffer[0..n-1], draws the block's permutation and gathers the
// block into shuffleBuffer (the buffers then exchange roles); returns the
// block checksum of the result.
std::uint32_t encipherShuffledBlock(ContainerSession* session, std::uint32_t n)
{
    const std::uint8_t* from = session->workBuffer;
    std::uint8_t* to = session->shuffleBuffer;
    const std::uint32_t* index = session->shuffleIndex;
    encipherBlock<false>(session->cipher, session->workBuffer, n);
    buildShuffle(session, n);
    std::uint32_t checksum = 0;
    for (std::uint32_t k = 0; k < n; ++k) {
        const std::uint8_t value = from[index[k]];
        to[k] = value;
        checksum = rotateAddStep(checksum, value);
    }
    exchangeBuffers(session);
    return checksum;
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
    encipherBlock<false>(session->cipher, session->workBuffer, n);
    const std::uint8_t* from = session->workBuffer;
    std::uint8_t* to = session->shuffleBuffer;
    const std::uint32_t* index = session->shuffleIndex;
    helper->settle(session, n, [&](std::uint32_t k) { to[k] = from[index[k]]; });
    return true;
}

// Scatters and deciphers in place in shuffleBuffer, which holds the block's key
// bytes, following the permutation (the buffers then exchange roles).
template <typename Positions>
void scatterDecipher(ContainerSession* session, Positions positions)
{
    const std::uint8_t* from = session->workBuffer;
    std::uint8_t* to = session->shuffleBuffer;
    const std::uint32_t* index = session->shuffleIndex;
    std::uint32_t sum = session->cipher.plainSum;
    positions([&](std::uint32_t k) {
        const std::uint32_t position = index[k];
        const auto plain = static_cast<std::uint8_t>(from[k] ^ to[position]);
        to[position] = plain;
        sum += plain;
    });
    session->cipher.plainSum = sum;
    exchangeBuffers(session);
}

// What deciphering an n-byte shuffled block needs besides its bytes: the
// permutation in shuffleIndex and the key bytes in shuffleBuffer.
void prepareShuffledBlock(ContainerSession* session, std::uint32_t n)
{
    // Scheme 0 keeps its swap list in shuffleBuffer while the permutation is
    // drawn, so the key bytes follow it.
    buildShuffle(session, n);
    keystreamBytes(session->cipher, session->shuffleBuffer, n);
}

// After prepareShuffledBlock: scatters and deciphers the n bytes of workBuffer
// into shuffleBuffer (the buffers then exchange roles); continues the block
// checksum *running over the ciphertext.
void decipherShuffledBlock(ContainerSession* session, std::uint32_t n, std::uint32_t* running)
{
    const std::uint8_t* cipher = session->workBuffer;
    std::uint32_t checksum = *running;
    scatterDecipher(session, [&](auto decipherAt) {
        for (std::uint32_t k = 0; k < n; ++k) {
            checksum = rotateAddStep(checksum, cipher[k]);
            decipherAt(k);
        }
    });
    *running = checksum;
}

// The helper's part of a block deciphered on two threads: the n bytes read
// into workBuffer and checked against checksum (continuing *running), the key
// bytes put into shuffleBuffer, and the block scattered and deciphered there as
// the caller's permutation settles. False when the read or the check failed
// (session->result tells why); nothing is deciphered then.
bool decipherBeside(ContainerSession* session, BlockHelper* helper, std::uint32_t n, std::uint32_t checksum,
                    std::uint32_t* running)
{
    if (readExactly(session, session->workBuffer, n) != RESULT_OK) {
        return false;
    }
    *running = continueRotateAddChecksum(*running, session->workBuffer, n);
    if (*running != checksum) {
        fail(session, RESULT_CHECKSUM_FAILED);
        return false;
    }
    keystreamBytes(session->cipher, session->shuffleBuffer, n);
    scatterDecipher(session, [&](auto decipherAt) { helper->settle(session, n, decipherAt); });
    return true;
}

// The length of the next block when left bytes of the payload remain.
std::uint32_t nextBlockLength(const ContainerHeader& header, std::uint64_t left)
{
    return static_cast<std::uint32_t>(left < header.blockSize ? left : header.blockSize);
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
    const bool intact = got == PAYLOAD_TRAILER_SIZE && rotr32(loadLe32(trailer + 8), 1) == sumPlain &&
                        ~loadLe32(trailer + 12) == sumPlain;
    if (sumPlain == session->cipher.plainSum) {
        return (strict && !intact) ? fail(session, RESULT_CHECKSUM_FAILED) : session->result;
    }
    if (session->header.cipherScheme == 0) {
        return fail(session, RESULT_WRONG_PASSWORD);
    }
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
    drawShuffle(session, n, nullptr);
}

namespace {

void drawShuffle(ContainerSession* session, std::uint32_t n, SettledPositions* settled)
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
    std::uint32_t* table = state.shuffleTable;
    const std::uint32_t mask = state.tableMask;
    std::uint32_t i = state.shuffleI;
    std::uint32_t j = state.shuffleJ;
    // Every output lies in 0..mask, so once the block is longer than that the
    // output is already its own remainder modulo n.
    const bool needsRemainder = n <= mask;
    if (session->header.cipherScheme == 0) {
        // One swap list, drawn once, serves every round; its targets lie in 0..255.
        std::uint8_t* targets = session->shuffleBuffer;
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::uint32_t t = generatorStep(table, i, j, mask);
            targets[k] = static_cast<std::uint8_t>(needsRemainder ? t % n : t);
        }
        state.shuffleI = i;
        state.shuffleJ = j;
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
    if (needsRemainder) {
        for (std::uint32_t round = 0; round < rounds; ++round) {
            generatorSteps(table, i, j, mask, 0, n, [&](std::uint32_t k, std::uint32_t t) {
                const std::uint32_t other = t % n;
                const std::uint32_t swapped = index[k];
                index[k] = index[other];
                index[other] = swapped;
            });
        }
    } else {
        constexpr std::uint32_t PROGRESS_STEP = 8192;
        for (std::uint32_t round = 0; round < rounds; ++round) {
            const bool last = round + 1 == rounds;
            for (std::uint32_t k = 0; k < n;) {
                const std::uint32_t end = (last && settled != nullptr && n - k > PROGRESS_STEP) ? k + PROGRESS_STEP : n;
                generatorSteps(table, i, j, mask, k, end, [&](std::uint32_t at, std::uint32_t other) {
                    const std::uint32_t swapped = index[at];
                    index[at] = index[other];
                    index[other] = swapped;
                });
                k = end;
                if (last && settled != nullptr && k < n) {
                    settled->publish(k);
                }
            }
        }
    }
    state.shuffleI = i;
    state.shuffleJ = j;
}

}  // namespace

void setPayloadThreads(unsigned count)
{
    configuredThreads.store(count, std::memory_order_relaxed);
}

unsigned payloadThreads()
{
    const unsigned count = configuredThreads.load(std::memory_order_relaxed);
    if (count != 0) {
        return count;
    }
    // Unknown counts as more than one: the fallback covers a helper that cannot start.
    return std::thread::hardware_concurrency() == 1 ? 1 : 2;
}

namespace {

// encryptPayload, and with pacing its paced form on the caller's thread alone.
ResultCode encryptBlocks(ContainerSession* session, const std::uint8_t* text, const PayloadPacing* pacing)
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

        if (pacing == nullptr && shuffled && splitBlock(session, n)) {
            const std::uint32_t written = unwritten;
            bool helped = false;
            if (helper.start(
                    [&, n, block, written] { helped = encipherBeside(session, &helper, block, n, written); })) {
                helper.drawAndFinish(session, n);
                if (!helped) {
                    return session->result;
                }
                exchangeBuffers(session);
                unwritten = n;
                continue;
            }
        }
        if (writeGatheredBlock(session, unwritten) != RESULT_OK) {
            return session->result;
        }
        unwritten = 0;
        takeBlockText(session, block, n);
        const std::uint32_t checksum =
            shuffled ? encipherShuffledBlock(session, n) : encipherBlock<true>(session->cipher, session->workBuffer, n);
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
            pacing->deliver(pacing->context, session->workBuffer, n);
        } else if (done < limit) {
            const std::uint64_t room = limit - done;
            const auto stored = static_cast<std::size_t>(room < n ? room : n);
            std::memcpy(target + done, session->workBuffer, stored);
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
        const bool split = pacing == nullptr && shuffled && splitBlock(session, expected);
        // In the current generation a block's length is known before it is
        // read, and so are its permutation and key bytes: a reader beside the
        // writer draws them while the writer is still busy with the block.
        const bool prepared = shuffled && !split && session->generation >= 2;
        if (prepared) {
            prepareShuffledBlock(session, expected);
        }
        if (!awaitWritten(pacing, fileBytes + BLOCK_HEADER_SIZE + expected)) {
            return fail(session, RESULT_UNEXPECTED_EOF);
        }
        std::uint8_t blockHeader[BLOCK_HEADER_SIZE];
        if (readExactly(session, blockHeader, BLOCK_HEADER_SIZE) != RESULT_OK) {
            return session->result;
        }
        const std::uint32_t n = loadLe32(blockHeader);
        if (!acceptBlockLength(session, n, expected)) {
            return fail(session, RESULT_CHECKSUM_FAILED);
        }
        const std::uint32_t checksum = loadLe32(blockHeader + 4);
        remaining -= n;
        fileBytes += BLOCK_HEADER_SIZE + n;
        // Older writers ran one checksum on across all blocks.
        if (session->generation >= 2) {
            running = 0;
        }

        if (split && splitBlock(session, n)) {
            const std::uint32_t delivered = undelivered;
            bool helped = false;
            if (helper.start([&, n, checksum, delivered] {
                    handOver(delivered);
                    helped = decipherBeside(session, &helper, n, checksum, &running);
                })) {
                helper.drawAndFinish(session, n);
                if (!helped) {
                    return session->result;
                }
                undelivered = n;
                continue;
            }
        }
        handOver(undelivered);
        undelivered = 0;
        if (readExactly(session, session->workBuffer, n) != RESULT_OK) {
            return session->result;
        }
        // The block checksum is taken in the deciphering pass, and a block
        // that fails it goes no further than the session's own buffers.
        if (shuffled) {
            if (!prepared) {
                prepareShuffledBlock(session, n);
            }
            decipherShuffledBlock(session, n, &running);
        } else {
            decipherBlock(session->cipher, session->workBuffer, n, &running);
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
