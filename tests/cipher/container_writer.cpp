#include "cipher/container_writer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "cipher/key_setup.h"
#include "cipher/session_fixture.h"
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

bool isShort(const ContainerSpec& spec)
{
    return spec.generation == 2 && (spec.flags & HEADER_FLAG_SHORT_TEXT) != 0;
}

// The plaintext payload as stored: the text, or the padded short block.
std::vector<std::uint8_t> payloadOf(const ContainerSpec& spec)
{
    if (!isShort(spec)) {
        return spec.text;
    }
    if (spec.text.size() >= SHORT_TEXT_SIZE) {
        throw std::invalid_argument("a short text has fewer than 32 bytes");
    }
    std::vector<std::uint8_t> block(spec.padding.begin(), spec.padding.end());
    block.push_back(static_cast<std::uint8_t>(spec.shortLengthByte >= 0 ? spec.shortLengthByte : spec.text.size()));
    std::copy(spec.text.begin(), spec.text.end(), block.begin());
    return block;
}

std::uint32_t blockSizeOf(const ContainerSpec& spec)
{
    if (spec.blockSize != 0) {
        return spec.blockSize;
    }
    const auto length = static_cast<std::uint32_t>(payloadOf(spec).size());
    return std::max<std::uint32_t>(length, 1);
}

std::uint32_t effectiveShuffleLevel(const ContainerSpec& spec)
{
    if (spec.generation == 2) {
        return spec.shuffleLevel;
    }
    switch (spec.layoutVersion) {
        case 256:
            return 0;
        case 512:
            return 7;
        default:
            return blockSizeOf(spec) >> 8;
    }
}

std::vector<std::uint32_t> blockPlan(const ContainerSpec& spec)
{
    if (!spec.blockLengths.empty()) {
        return spec.blockLengths;
    }
    std::vector<std::uint32_t> plan;
    std::uint64_t remaining = payloadOf(spec).size();
    const std::uint32_t size = blockSizeOf(spec);
    while (remaining > 0) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, size));
        plan.push_back(n);
        remaining -= n;
    }
    return plan;
}

std::vector<std::uint8_t> currentHeaderBytes(const ContainerSpec& spec)
{
    ContainerHeader header{};
    header.signature = HEADER_SIGNATURE;
    header.flags = spec.flags;
    header.cipherScheme = spec.cipherScheme;
    header.shuffleLevel = spec.shuffleLevel;
    header.blockSize = blockSizeOf(spec);
    std::copy(spec.salt.begin(), spec.salt.end(), header.salt);
    header.mixRounds = spec.mixRounds;
    header.scheduleRounds = spec.scheduleRounds;
    header.stirRounds = spec.stirRounds;
    const std::uint64_t plainSize = payloadOf(spec).size();
    header.plainSizeLow = static_cast<std::uint32_t>(plainSize);
    header.plainSizeHigh = static_cast<std::uint32_t>(plainSize >> 32);
    header.savedTimeLow = static_cast<std::uint32_t>(spec.savedTime);
    header.savedTimeHigh = static_cast<std::uint32_t>(spec.savedTime >> 32);
    header.writerTag = HEADER_WRITER_TAG;
    std::copy(spec.entryName.begin(), spec.entryName.end(), header.entryName);
    std::copy(spec.hint.begin(), spec.hint.end(), header.hint);
    header.headerChecksum = computeHeaderChecksum(header);
    std::vector<std::uint8_t> bytes(HEADER_SIZE);
    storeHeader(header, bytes.data());
    return bytes;
}

std::vector<std::uint8_t> legacyHeaderBytes(const ContainerSpec& spec)
{
    LegacyHeaderSpec legacy;
    legacy.generation = static_cast<std::uint8_t>(spec.generation);
    legacy.layoutVersion = spec.layoutVersion;
    legacy.blockSize = blockSizeOf(spec);
    legacy.plainSize = spec.text.size();
    std::copy(spec.salt.begin(), spec.salt.end(), legacy.salt);
    legacy.scheduleBase = static_cast<std::uint16_t>(spec.scheduleRounds - 256);
    legacy.roundsBase = static_cast<std::uint16_t>(spec.mixRounds - 4096);
    legacy.checksummed = spec.legacyChecksum;
    legacy.hint = spec.hint;
    legacy.entryName = spec.entryName;
    return writeLegacyHeader(legacy);
}

std::vector<std::uint8_t> headerBytes(const ContainerSpec& spec)
{
    return spec.generation == 2 ? currentHeaderBytes(spec) : legacyHeaderBytes(spec);
}

// The key as a reader derives it from the stored header.
SessionPtr keyedSession(const ContainerSpec& spec)
{
    SessionPtr session = makeSession();
    ContainerHeader& header = session->header;
    header.cipherScheme = spec.generation == 2 ? spec.cipherScheme : 0;
    std::copy(spec.salt.begin(), spec.salt.end(), header.salt);
    header.mixRounds = spec.mixRounds;
    header.scheduleRounds = spec.scheduleRounds;
    header.stirRounds = spec.generation == 2 ? spec.stirRounds : spec.mixRounds;
    setupKey(session.get(), spec.password.c_str());
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

std::vector<std::uint8_t> writeContainerBytes(const ContainerSpec& spec)
{
    std::vector<std::uint8_t> out = headerBytes(spec);
    const std::vector<std::uint8_t> plain = payloadOf(spec);
    SessionPtr session = keyedSession(spec);
    CipherState* state = &session->cipher;
    const std::uint16_t scheme = spec.generation == 2 ? spec.cipherScheme : 0;
    const std::uint32_t rounds = effectiveShuffleLevel(spec);

    std::uint32_t sum = 0;
    std::uint32_t running = 0;
    std::size_t offset = 0;
    for (const std::uint32_t n : blockPlan(spec)) {
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
        if (spec.generation == 2) {
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

ContainerLayout layoutOf(const ContainerSpec& spec)
{
    ContainerLayout layout{};
    layout.payloadOffset = headerBytes(spec).size();
    std::size_t at = layout.payloadOffset;
    for (const std::uint32_t n : blockPlan(spec)) {
        layout.blockOffsets.push_back(at);
        at += 8 + n;
    }
    layout.trailerOffset = at;
    layout.size = at + 16;
    return layout;
}
