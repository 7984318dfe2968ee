#include "container/container_writer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "cipher/key_setup.h"
#include "container/session_fixture.h"
#include "container/container_header.h"
#include "platform/byte_order.h"
#include "support/legacy_writer.h"

namespace {

void appendLe32(std::vector<std::uint8_t>* out, std::uint32_t v)
{
    std::uint8_t b[4];
    storeLe32(b, v);
    out->insert(out->end(), b, b + 4);
}

std::uint32_t rotl32(std::uint32_t v, unsigned n)
{
    return (v << n) | (v >> (32 - n));
}

bool isShort(const ContainerPlan& plan)
{
    return plan.generation == 2 && (plan.flags & HEADER_FLAG_SHORT_TEXT) != 0;
}

// The plaintext payload as stored: the text, or the padded short block.
std::vector<std::uint8_t> payloadOf(const ContainerPlan& plan)
{
    if (!isShort(plan)) {
        return plan.text;
    }
    if (plan.text.size() >= SHORT_TEXT_SIZE) {
        throw std::invalid_argument("a short text has fewer than 32 bytes");
    }
    std::vector<std::uint8_t> block(plan.padding.begin(), plan.padding.end());
    block.push_back(static_cast<std::uint8_t>(plan.shortLengthByte >= 0 ? plan.shortLengthByte : plan.text.size()));
    std::copy(plan.text.begin(), plan.text.end(), block.begin());
    return block;
}

std::uint32_t blockSizeOf(const ContainerPlan& plan)
{
    if (plan.blockSize != 0) {
        return plan.blockSize;
    }
    const auto length = static_cast<std::uint32_t>(payloadOf(plan).size());
    return std::max<std::uint32_t>(length, 1);
}

std::uint32_t effectiveShuffleLevel(const ContainerPlan& plan)
{
    if (plan.generation == 2) {
        return plan.shuffleLevel;
    }
    switch (plan.layoutVersion) {
        case 256:
            return 0;
        case 512:
            return 7;
        default:
            return blockSizeOf(plan) >> 8;
    }
}

std::vector<std::uint32_t> blockPlan(const ContainerPlan& plan)
{
    if (!plan.blockLengths.empty()) {
        return plan.blockLengths;
    }
    std::vector<std::uint32_t> lengths;
    std::uint64_t remaining = payloadOf(plan).size();
    const std::uint32_t size = blockSizeOf(plan);
    while (remaining > 0) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, size));
        lengths.push_back(n);
        remaining -= n;
    }
    return lengths;
}

std::vector<std::uint8_t> currentHeaderBytes(const ContainerPlan& plan)
{
    ContainerHeader header{};
    header.signature = HEADER_SIGNATURE;
    header.flags = plan.flags;
    header.cipherScheme = plan.cipherScheme;
    header.shuffleLevel = plan.shuffleLevel;
    header.blockSize = blockSizeOf(plan);
    std::copy(plan.salt.begin(), plan.salt.end(), header.salt);
    header.mixRounds = plan.mixRounds;
    header.scheduleRounds = plan.scheduleRounds;
    header.stirRounds = plan.stirRounds;
    const std::uint64_t plainSize = payloadOf(plan).size();
    header.plainSizeLow = static_cast<std::uint32_t>(plainSize);
    header.plainSizeHigh = static_cast<std::uint32_t>(plainSize >> 32);
    header.savedTimeLow = static_cast<std::uint32_t>(plan.savedTime);
    header.savedTimeHigh = static_cast<std::uint32_t>(plan.savedTime >> 32);
    header.writerTag = HEADER_WRITER_TAG;
    std::copy(plan.entryName.begin(), plan.entryName.end(), header.entryName);
    std::copy(plan.hint.begin(), plan.hint.end(), header.hint);
    header.headerChecksum = computeHeaderChecksum(header);
    std::vector<std::uint8_t> bytes(HEADER_SIZE);
    storeHeader(header, bytes.data());
    return bytes;
}

std::vector<std::uint8_t> legacyHeaderBytes(const ContainerPlan& plan)
{
    LegacyHeaderFields legacy;
    legacy.generation = static_cast<std::uint8_t>(plan.generation);
    legacy.layoutVersion = plan.layoutVersion;
    legacy.blockSize = blockSizeOf(plan);
    legacy.plainSize = plan.text.size();
    std::copy(plan.salt.begin(), plan.salt.end(), legacy.salt);
    legacy.scheduleBase = static_cast<std::uint16_t>(plan.scheduleRounds - 256);
    legacy.roundsBase = static_cast<std::uint16_t>(plan.mixRounds - 4096);
    legacy.checksummed = plan.legacyChecksum;
    legacy.hint = plan.hint;
    legacy.entryName = plan.entryName;
    return writeLegacyHeader(legacy);
}

std::vector<std::uint8_t> headerBytes(const ContainerPlan& plan)
{
    return plan.generation == 2 ? currentHeaderBytes(plan) : legacyHeaderBytes(plan);
}

// The key as a reader derives it from the stored header.
SessionPtr keyedSession(const ContainerPlan& plan)
{
    SessionPtr session = makeSession();
    ContainerHeader& header = session->header;
    header.cipherScheme = plan.generation == 2 ? plan.cipherScheme : 0;
    std::copy(plan.salt.begin(), plan.salt.end(), header.salt);
    header.mixRounds = plan.mixRounds;
    header.scheduleRounds = plan.scheduleRounds;
    header.stirRounds = plan.generation == 2 ? plan.stirRounds : plan.mixRounds;
    setupKey(session.get(), plan.password.c_str());
    return session;
}

std::vector<std::uint32_t> shufflePermutation(CipherState* state, std::uint16_t scheme, std::uint32_t n,
                                              std::uint32_t rounds)
{
    std::vector<std::uint32_t> index(n);
    for (std::uint32_t k = 0; k < n; ++k) {
        index[k] = k;
    }
    if (scheme == 0) {
        std::vector<std::uint32_t> targets(n);
        for (std::uint32_t k = 0; k < n; ++k) {
            targets[k] =
                (keystreamStep(state->shuffleTable, &state->shuffleI, &state->shuffleJ, state->tableMask) % n) & 255;
        }
        for (std::uint32_t r = 0; r < rounds; ++r) {
            for (std::uint32_t k = 0; k < n; ++k) {
                std::swap(index[k], index[targets[k]]);
            }
        }
    } else {
        for (std::uint32_t r = 0; r < rounds; ++r) {
            for (std::uint32_t k = 0; k < n; ++k) {
                const std::uint32_t t =
                    keystreamStep(state->shuffleTable, &state->shuffleI, &state->shuffleJ, state->tableMask);
                std::swap(index[k], index[t % n]);
            }
        }
    }
    return index;
}

}  // namespace

std::vector<std::uint8_t> bytesOf(const std::string& text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> writeContainerBytes(const ContainerPlan& plan)
{
    std::vector<std::uint8_t> out = headerBytes(plan);
    const std::vector<std::uint8_t> plain = payloadOf(plan);
    SessionPtr session = keyedSession(plan);
    CipherState* state = &session->cipher;
    const std::uint16_t scheme = plan.generation == 2 ? plan.cipherScheme : 0;
    const std::uint32_t rounds = effectiveShuffleLevel(plan);

    std::uint32_t sum = 0;
    std::uint32_t running = 0;
    std::size_t offset = 0;
    for (const std::uint32_t n : blockPlan(plan)) {
        std::vector<std::uint8_t> block(plain.begin() + static_cast<std::ptrdiff_t>(offset),
                                        plain.begin() + static_cast<std::ptrdiff_t>(offset + n));
        offset += n;
        for (std::uint8_t& b : block) {
            sum += b;
            b ^=
                static_cast<std::uint8_t>(keystreamStep(state->keyTable, &state->keyI, &state->keyJ, state->tableMask));
        }
        if (rounds != 0) {
            const std::vector<std::uint32_t> index = shufflePermutation(state, scheme, n, rounds);
            std::vector<std::uint8_t> moved(n);
            for (std::uint32_t k = 0; k < n; ++k) {
                moved[k] = block[index[k]];
            }
            block.swap(moved);
        }
        if (plan.generation == 2) {
            running = 0;
        }
        for (const std::uint8_t b : block) {
            running = rotl32(running + b, 1);
        }
        appendLe32(&out, n);
        appendLe32(&out, running);
        out.insert(out.end(), block.begin(), block.end());
    }
    appendLe32(&out, 0);
    appendLe32(&out, sum);
    appendLe32(&out, rotl32(sum, 1));
    appendLe32(&out, ~sum);
    return out;
}

ContainerLayout layoutOf(const ContainerPlan& plan)
{
    ContainerLayout layout{};
    layout.payloadOffset = headerBytes(plan).size();
    std::size_t at = layout.payloadOffset;
    for (const std::uint32_t n : blockPlan(plan)) {
        layout.blockOffsets.push_back(at);
        at += 8 + n;
    }
    layout.trailerOffset = at;
    layout.size = at + 16;
    return layout;
}
