#include "cipher/block_transform.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <thread>

#include "cipher/checksum.h"
#include "cipher/key_setup.h"
#include "platform/secure_wipe.h"

namespace {

std::atomic<unsigned> configuredThreads{0};

// With WITH_CHECKSUM it also returns the block checksum of what it wrote, a
// chain that runs beside the generator's at no extra cost.
template <bool WITH_CHECKSUM>
std::uint32_t encipherBlockWith(CipherState& state, std::uint8_t* block, std::uint32_t n)
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

}  // namespace

ResultCode allocateBlockBuffers(BlockBuffers* buffers, std::uint32_t size, bool withShuffle)
{
    // Buffers used again without release must not be lost unwiped.
    releaseBlockBuffers(buffers);
    buffers->bufferSize = size;
    if (size == 0) {
        return RESULT_OK;
    }
    buffers->workBuffer = new (std::nothrow) std::uint8_t[size];
    if (buffers->workBuffer == nullptr) {
        return RESULT_OUT_OF_MEMORY;
    }
    if (withShuffle) {
        buffers->shuffleBuffer = new (std::nothrow) std::uint8_t[size];
        if (buffers->shuffleBuffer == nullptr) {
            return RESULT_OUT_OF_MEMORY;
        }
        if (size > SIZE_MAX / sizeof(std::uint32_t)) {
            return RESULT_OUT_OF_MEMORY;
        }
        buffers->shuffleIndex = new (std::nothrow) std::uint32_t[size];
        if (buffers->shuffleIndex == nullptr) {
            return RESULT_OUT_OF_MEMORY;
        }
    }
    return RESULT_OK;
}

void releaseBlockBuffers(BlockBuffers* buffers)
{
    const std::size_t size = buffers->bufferSize;
    if (buffers->workBuffer != nullptr) {
        secureWipe(buffers->workBuffer, size);
        delete[] buffers->workBuffer;
        buffers->workBuffer = nullptr;
    }
    if (buffers->shuffleBuffer != nullptr) {
        secureWipe(buffers->shuffleBuffer, size);
        delete[] buffers->shuffleBuffer;
        buffers->shuffleBuffer = nullptr;
    }
    if (buffers->shuffleIndex != nullptr) {
        secureWipe(buffers->shuffleIndex, size * sizeof(std::uint32_t));
        delete[] buffers->shuffleIndex;
        buffers->shuffleIndex = nullptr;
    }
    buffers->bufferSize = 0;
}

void exchangeBlockBuffers(BlockBuffers* buffers)
{
    std::uint8_t* swapped = buffers->workBuffer;
    buffers->workBuffer = buffers->shuffleBuffer;
    buffers->shuffleBuffer = swapped;
}

// When the block is longer than the table mask every swap partner lies in
// 0..mask, so in the last round index[k] for k above the mask is final once
// the round has passed k; settled gives that bound as it grows.
void drawShuffle(CipherState* state, BlockBuffers* buffers, ShuffleScheme scheme, std::uint32_t n,
                 SettledPositions* settled)
{
    std::uint32_t* index = buffers->shuffleIndex;
    const std::uint32_t rounds = scheme.rounds;
    for (std::uint32_t k = 0; k < n; ++k) {
        index[k] = k;
    }
    if (n == 0) {
        return;
    }
    std::uint32_t* table = state->shuffleTable;
    const std::uint32_t mask = state->tableMask;
    std::uint32_t i = state->shuffleI;
    std::uint32_t j = state->shuffleJ;
    // Every output lies in 0..mask, so once the block is longer than that the
    // output is already its own remainder modulo n.
    const bool needsRemainder = n <= mask;
    if (scheme.cipherScheme == 0) {
        // One swap list, drawn once, serves every round; its targets lie in 0..255.
        std::uint8_t* targets = buffers->shuffleBuffer;
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::uint32_t t = generatorStep(table, i, j, mask);
            targets[k] = static_cast<std::uint8_t>(needsRemainder ? t % n : t);
        }
        state->shuffleI = i;
        state->shuffleJ = j;
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
    state->shuffleI = i;
    state->shuffleJ = j;
}

void encipherBlock(CipherState* state, std::uint8_t* block, std::uint32_t n)
{
    encipherBlockWith<false>(*state, block, n);
}

std::uint32_t encipherBlockChecksummed(CipherState* state, std::uint8_t* block, std::uint32_t n)
{
    return encipherBlockWith<true>(*state, block, n);
}

void decipherBlock(CipherState* state, std::uint8_t* block, std::uint32_t n, std::uint32_t* running)
{
    std::uint32_t i = state->keyI;
    std::uint32_t j = state->keyJ;
    std::uint32_t sum = state->plainSum;
    std::uint32_t checksum = *running;
    generatorSteps(state->keyTable, i, j, state->tableMask, 0, n, [&](std::uint32_t k, std::uint32_t key) {
        const std::uint8_t cipher = block[k];
        checksum = rotateAddStep(checksum, cipher);
        const auto plain = static_cast<std::uint8_t>(cipher ^ key);
        block[k] = plain;
        sum += plain;
    });
    state->keyI = i;
    state->keyJ = j;
    state->plainSum = sum;
    *running = checksum;
}

void keystreamBytes(CipherState* state, std::uint8_t* out, std::uint32_t n)
{
    std::uint32_t i = state->keyI;
    std::uint32_t j = state->keyJ;
    generatorSteps(state->keyTable, i, j, state->tableMask, 0, n,
                   [&](std::uint32_t k, std::uint32_t key) { out[k] = static_cast<std::uint8_t>(key); });
    state->keyI = i;
    state->keyJ = j;
}

std::uint32_t encipherShuffledBlock(CipherState* state, BlockBuffers* buffers, ShuffleScheme scheme, std::uint32_t n)
{
    const std::uint8_t* from = buffers->workBuffer;
    std::uint8_t* to = buffers->shuffleBuffer;
    const std::uint32_t* index = buffers->shuffleIndex;
    encipherBlock(state, buffers->workBuffer, n);
    drawShuffle(state, buffers, scheme, n, nullptr);
    std::uint32_t checksum = 0;
    for (std::uint32_t k = 0; k < n; ++k) {
        const std::uint8_t value = from[index[k]];
        to[k] = value;
        checksum = rotateAddStep(checksum, value);
    }
    exchangeBlockBuffers(buffers);
    return checksum;
}

void prepareShuffledBlock(CipherState* state, BlockBuffers* buffers, ShuffleScheme scheme, std::uint32_t n)
{
    // Scheme 0 keeps its swap list in shuffleBuffer while the permutation is
    // drawn, so the key bytes follow it.
    drawShuffle(state, buffers, scheme, n, nullptr);
    keystreamBytes(state, buffers->shuffleBuffer, n);
}

void decipherShuffledBlock(CipherState* state, BlockBuffers* buffers, std::uint32_t n, std::uint32_t* running)
{
    const std::uint8_t* cipher = buffers->workBuffer;
    std::uint32_t checksum = *running;
    scatterDecipher(state, buffers, [&](auto decipherAt) {
        for (std::uint32_t k = 0; k < n; ++k) {
            checksum = rotateAddStep(checksum, cipher[k]);
            decipherAt(k);
        }
    });
    *running = checksum;
}

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

bool splitBlock(ShuffleScheme scheme, std::uint32_t n)
{
    return payloadThreads() >= 2 && scheme.rounds != 0 && scheme.cipherScheme != 0 && n >= PARALLEL_BLOCK_MIN;
}

void BlockHelper::encipherGathering(CipherState* state, BlockBuffers* buffers, std::uint32_t n)
{
    encipherBlock(state, buffers->workBuffer, n);
    const std::uint8_t* from = buffers->workBuffer;
    std::uint8_t* to = buffers->shuffleBuffer;
    const std::uint32_t* index = buffers->shuffleIndex;
    settle(state->tableMask, n, [&](std::uint32_t k) { to[k] = from[index[k]]; });
}

void BlockHelper::decipherScattering(CipherState* state, BlockBuffers* buffers, std::uint32_t n)
{
    keystreamBytes(state, buffers->shuffleBuffer, n);
    scatterDecipher(state, buffers, [&](auto decipherAt) { settle(state->tableMask, n, decipherAt); });
}
