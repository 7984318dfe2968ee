#pragma once
// The cipher's work on one block held in memory: enciphering and deciphering
// with the key generator, drawing the shuffle generator's permutation, and
// gathering or scattering a block through it, on one thread or two. Knows
// nothing of files: the container frames, reads and writes the blocks.
#include <algorithm>
#include <cstdint>
#include <thread>
#include <utility>

#include "cipher/cipher_state.h"
#include "cipher/settled_positions.h"
#include "platform/result_codes.h"

// The buffers of one transform: workBuffer holds the block being transformed,
// shuffleBuffer and the bufferSize-entry shuffleIndex serve the permutation
// (present only for shuffled payloads).
struct BlockBuffers {
    std::uint32_t bufferSize;
    std::uint8_t* workBuffer;
    std::uint8_t* shuffleBuffer;
    std::uint32_t* shuffleIndex;
};

// How a payload is shuffled: its cipher scheme (0 keeps one swap list for
// every round) and its number of rounds (0: not shuffled).
struct ShuffleScheme {
    std::uint32_t cipherScheme;
    std::uint32_t rounds;
};

// Allocates the buffers of size bytes (shuffleBuffer and shuffleIndex only
// withShuffle), releasing any earlier ones first. RESULT_OUT_OF_MEMORY leaves
// what was allocated for releaseBlockBuffers.
ResultCode allocateBlockBuffers(BlockBuffers* buffers, std::uint32_t size, bool withShuffle);
// Wipes and frees whatever allocateBlockBuffers allocated, marks the buffers
// absent and sets bufferSize to 0. Safe to call again.
void releaseBlockBuffers(BlockBuffers* buffers);
// workBuffer and shuffleBuffer exchange roles.
void exchangeBlockBuffers(BlockBuffers* buffers);

// Fills shuffleIndex[0..n-1] with a permutation drawn from the shuffle
// generator, telling another thread through settled (when not null) how far
// it is final. Scheme 0 leaves its swap list in shuffleBuffer.
void drawShuffle(CipherState* state, BlockBuffers* buffers, ShuffleScheme scheme, std::uint32_t n,
                 SettledPositions* settled);

// XORs the key generator's low byte into block[0..n-1], summing the plaintext
// into plainSum before the XOR.
void encipherBlock(CipherState* state, std::uint8_t* block, std::uint32_t n);
// encipherBlock, returning the block checksum of what it wrote.
std::uint32_t encipherBlockChecksummed(CipherState* state, std::uint8_t* block, std::uint32_t n);
// Deciphers block[0..n-1] in place and sums the plaintext after the XOR;
// continues the block checksum *running over the ciphertext as it goes.
void decipherBlock(CipherState* state, std::uint8_t* block, std::uint32_t n, std::uint32_t* running);
// The key generator's low bytes for the next n positions, without using them.
void keystreamBytes(CipherState* state, std::uint8_t* out, std::uint32_t n);

// Enciphers workBuffer[0..n-1], draws the block's permutation and gathers the
// block into shuffleBuffer (the buffers then exchange roles); returns the
// block checksum of the result.
std::uint32_t encipherShuffledBlock(CipherState* state, BlockBuffers* buffers, ShuffleScheme scheme, std::uint32_t n);
// What deciphering an n-byte shuffled block needs besides its bytes: the
// permutation in shuffleIndex and the key bytes in shuffleBuffer.
void prepareShuffledBlock(CipherState* state, BlockBuffers* buffers, ShuffleScheme scheme, std::uint32_t n);
// After prepareShuffledBlock: scatters and deciphers the n bytes of workBuffer
// into shuffleBuffer (the buffers then exchange roles); continues the block
// checksum *running over the ciphertext.
void decipherShuffledBlock(CipherState* state, BlockBuffers* buffers, std::uint32_t n, std::uint32_t* running);

// Scatters and deciphers in place in shuffleBuffer, which holds the block's
// key bytes, following the permutation, for the positions positions(visit)
// hands to visit (the buffers then exchange roles).
template <typename Positions>
void scatterDecipher(CipherState* state, BlockBuffers* buffers, Positions positions)
{
    const std::uint8_t* from = buffers->workBuffer;
    std::uint8_t* to = buffers->shuffleBuffer;
    const std::uint32_t* index = buffers->shuffleIndex;
    std::uint32_t sum = state->plainSum;
    positions([&](std::uint32_t k) {
        const std::uint32_t position = index[k];
        const auto plain = static_cast<std::uint8_t>(from[k] ^ to[position]);
        to[position] = plain;
        sum += plain;
    });
    state->plainSum = sum;
    exchangeBlockBuffers(buffers);
}

// How many threads a transform may use: 1 runs everything on the caller's
// thread; 2 draws the permutation of each shuffled block of PARALLEL_BLOCK_MIN
// bytes or more on the caller's thread while a helper thread runs the key
// generator, the checksum, the reads or writes and the permutation's gather or
// scatter for it (a block whose helper cannot be started runs on one thread).
// 0 restores the default: 2 unless the machine has a single processor. The
// output is the same either way.
void setPayloadThreads(unsigned count);
// The shortest block transformed on two threads.
inline constexpr std::uint32_t PARALLEL_BLOCK_MIN = 1u << 18;
unsigned payloadThreads();
// Whether an n-byte block of a payload shuffled with scheme goes on two
// threads. A second thread pays only when the work it takes off the
// permutation's path is long beside starting it and handing the positions
// across: on shorter blocks, at any shuffle level, two threads measured slower
// than one.
bool splitBlock(ShuffleScheme scheme, std::uint32_t n);

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
    void drawAndFinish(CipherState* state, BlockBuffers* buffers, ShuffleScheme scheme, std::uint32_t n)
    {
        drawShuffle(state, buffers, scheme, n, &settled_);
        settled_.publish(n);
        finish();
    }

    // For the task: calls visit(k) for every position k of the n-byte block,
    // those above the table mask as they settle, the others once the whole
    // permutation is drawn.
    template <typename Visit>
    void settle(std::uint32_t tableMask, std::uint32_t n, Visit visit)
    {
        const std::uint32_t settledFrom = std::min(n, tableMask + 1);
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

    // For the task: enciphers workBuffer[0..n-1] and gathers it into
    // shuffleBuffer as the caller's permutation settles.
    void encipherGathering(CipherState* state, BlockBuffers* buffers, std::uint32_t n);
    // For the task: puts the key bytes into shuffleBuffer and scatters and
    // deciphers the n bytes of workBuffer there as the caller's permutation
    // settles (the buffers then exchange roles).
    void decipherScattering(CipherState* state, BlockBuffers* buffers, std::uint32_t n);

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
