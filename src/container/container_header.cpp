#include "container/container_header.h"

#include <cmath>

#include <cstring>

#include "cipher/checksum.h"
#include "cipher/entropy.h"
#include "container/container_session.h"
#include "platform/byte_order.h"
#include "platform/platform.h"
#include "platform/secure_wipe.h"

namespace {

constexpr std::uint32_t MAGIC_MASK = 0x00FFFFFF;
constexpr std::uint32_t MIN_MIX_ROUNDS = 4096;
constexpr std::uint32_t MIN_SCHEDULE_ROUNDS = 256;
constexpr std::uint32_t MIN_STIR_ROUNDS = 4096;
constexpr std::uint32_t MAX_ROUNDS = 0x100000;
constexpr std::uint32_t MAX_SHUFFLE_LEVEL = 0x100000;
constexpr std::uint32_t MAX_BLOCK_SIZE = 0x3000000;
constexpr std::uint32_t SMALL_BLOCK_LIMIT = 2048;
constexpr std::uint16_t MAX_CIPHER_SCHEME = 3;
constexpr std::uint16_t KNOWN_FLAGS = HEADER_FLAG_BASE | HEADER_FLAG_SHORT_TEXT;
constexpr std::uint32_t HINT_MAX_UNITS = HEADER_HINT_UNITS - 1;
constexpr std::uint32_t ENTRY_NAME_MAX_UNITS = HEADER_ENTRY_NAME_UNITS - 1;

constexpr std::uint64_t WHOLE_BLOCK_LIMIT = 1048576;  // payloads up to this size are one block
constexpr std::uint32_t CANDIDATE_FIRST = 0x80000;
constexpr std::uint32_t CANDIDATE_LAST = 0x180000;
constexpr std::uint32_t CANDIDATE_IDEAL = 1048576;

constexpr char16_t SAVED_ENTRY_NAME[] = u"vellic.txt";

// Offsets of the 64-byte header of generations 0 and 1.
constexpr std::size_t LEGACY_LAYOUT_VERSION = 4;
constexpr std::size_t LEGACY_CHECKSUM = 6;
constexpr std::size_t LEGACY_BLOCK_SIZE = 8;
constexpr std::size_t LEGACY_HINT_LENGTH = 12;
constexpr std::size_t LEGACY_ENTRY_NAME_LENGTH = 14;
constexpr std::size_t LEGACY_PLAIN_SIZE = 16;
constexpr std::size_t LEGACY_SYSTEM_TIME = 24;
constexpr std::size_t LEGACY_WRITER_TAG = 40;
constexpr std::size_t LEGACY_SALT_FIRST = 44;
constexpr std::size_t LEGACY_SALT_SECOND = 52;
constexpr std::size_t LEGACY_SCHEDULE_BASE = 60;
constexpr std::size_t LEGACY_ROUNDS_BASE = 62;

ResultCode finish(ContainerSession* session, ResultCode code)
{
    session->result = code;
    return code;
}

std::uint16_t rotl16(std::uint32_t v)
{
    const auto value = static_cast<std::uint16_t>(v);
    return static_cast<std::uint16_t>((value << 1) | (value >> 15));
}

// The 16-bit checksum of the older headers. Their writer added the salt bytes
// as signed chars, so bytes 0x80..0xFF count as negative.
std::uint16_t computeLegacyChecksum(const std::uint8_t* legacy)
{
    std::uint32_t c = loadLe16(legacy + LEGACY_SCHEDULE_BASE);
    for (std::size_t i = 0; i < 8; ++i) {
        c = rotl16(c + static_cast<std::uint32_t>(
                           static_cast<std::int32_t>(static_cast<std::int8_t>(legacy[LEGACY_SALT_FIRST + i]))));
        c = rotl16(c + static_cast<std::uint32_t>(
                           static_cast<std::int32_t>(static_cast<std::int8_t>(legacy[LEGACY_SALT_SECOND + i]))));
    }
    return static_cast<std::uint16_t>(c + loadLe16(legacy + LEGACY_ROUNDS_BASE));
}

// Reads count characters of an older header's string from the current file
// position: two bytes each in generation 1, one byte each in generation 0.
ResultCode readLegacyString(ContainerSession* session, std::uint32_t count, char16_t* out)
{
    if (count == 0) {
        return RESULT_OK;
    }
    const std::uint32_t unitBytes = session->generation == 0 ? 1 : 2;
    std::uint8_t raw[2 * ENTRY_NAME_MAX_UNITS];
    const std::uint32_t wanted = count * unitBytes;
    std::uint32_t got = 0;
    if (!readFile(session->sourceFile, raw, wanted, &got) || got != wanted) {
        return finish(session, RESULT_READ_FAILED);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        out[i] = unitBytes == 2 ? static_cast<char16_t>(loadLe16(raw + 2 * i)) : static_cast<char16_t>(raw[i]);
    }
    return RESULT_OK;
}

}  // namespace

void storeHeader(const ContainerHeader& header, std::uint8_t bytes[HEADER_SIZE])
{
    storeLe32(bytes + 0, header.signature);
    storeLe16(bytes + 4, header.flags);
    storeLe16(bytes + 6, header.cipherScheme);
    storeLe32(bytes + 8, header.shuffleLevel);
    storeLe32(bytes + 12, header.blockSize);
    std::memcpy(bytes + 16, header.salt, sizeof header.salt);
    std::memcpy(bytes + 32, header.reserved1, sizeof header.reserved1);
    storeLe32(bytes + 64, header.mixRounds);
    storeLe32(bytes + 68, header.scheduleRounds);
    storeLe32(bytes + 72, header.stirRounds);
    storeLe32(bytes + 76, header.plainSizeLow);
    storeLe32(bytes + 80, header.plainSizeHigh);
    storeLe32(bytes + 84, header.savedTimeLow);
    storeLe32(bytes + 88, header.savedTimeHigh);
    storeLe32(bytes + 92, header.writerTag);
    for (std::uint32_t i = 0; i < HEADER_ENTRY_NAME_UNITS; ++i) {
        storeLe16(bytes + 96 + 2 * i, header.entryName[i]);
    }
    for (std::uint32_t i = 0; i < HEADER_HINT_UNITS; ++i) {
        storeLe16(bytes + 608 + 2 * i, header.hint[i]);
    }
    std::memcpy(bytes + 864, header.reserved2, sizeof header.reserved2);
    storeLe32(bytes + 1020, header.headerChecksum);
}

void loadHeader(const std::uint8_t bytes[HEADER_SIZE], ContainerHeader* header)
{
    header->signature = loadLe32(bytes + 0);
    header->flags = loadLe16(bytes + 4);
    header->cipherScheme = loadLe16(bytes + 6);
    header->shuffleLevel = loadLe32(bytes + 8);
    header->blockSize = loadLe32(bytes + 12);
    std::memcpy(header->salt, bytes + 16, sizeof header->salt);
    std::memcpy(header->reserved1, bytes + 32, sizeof header->reserved1);
    header->mixRounds = loadLe32(bytes + 64);
    header->scheduleRounds = loadLe32(bytes + 68);
    header->stirRounds = loadLe32(bytes + 72);
    header->plainSizeLow = loadLe32(bytes + 76);
    header->plainSizeHigh = loadLe32(bytes + 80);
    header->savedTimeLow = loadLe32(bytes + 84);
    header->savedTimeHigh = loadLe32(bytes + 88);
    header->writerTag = loadLe32(bytes + 92);
    for (std::uint32_t i = 0; i < HEADER_ENTRY_NAME_UNITS; ++i) {
        header->entryName[i] = static_cast<char16_t>(loadLe16(bytes + 96 + 2 * i));
    }
    for (std::uint32_t i = 0; i < HEADER_HINT_UNITS; ++i) {
        header->hint[i] = static_cast<char16_t>(loadLe16(bytes + 608 + 2 * i));
    }
    std::memcpy(header->reserved2, bytes + 864, sizeof header->reserved2);
    header->headerChecksum = loadLe32(bytes + 1020);
}

std::uint32_t computeHeaderChecksum(const ContainerHeader& header)
{
    std::uint8_t bytes[HEADER_SIZE];
    storeHeader(header, bytes);
    const std::uint32_t checksum = rotateAddChecksum(bytes, HEADER_CHECKED_BYTES);
    wipeObject(bytes);
    return checksum;
}

std::uint64_t headerPlainSize(const ContainerHeader& header)
{
    return (static_cast<std::uint64_t>(header.plainSizeHigh) << 32) | header.plainSizeLow;
}

ResultCode readHeader(ContainerSession* session, const std::uint8_t* bytes, std::uint32_t count)
{
    const std::uint32_t signature = count >= 4 ? loadLe32(bytes) : 0;
    if (count < 4 || (signature & MAGIC_MASK) != HEADER_MAGIC) {
        return finish(session, RESULT_BAD_FORMAT);
    }
    session->generation = signature >> 24;
    if (session->generation == 2) {
        if (count < HEADER_SIZE) {
            return finish(session, RESULT_BAD_FORMAT);
        }
        loadHeader(bytes, &session->header);
    } else if (session->generation == 0 || session->generation == 1) {
        if (convertLegacyHeader(session) != RESULT_OK) {
            return session->result;
        }
    } else {
        return finish(session, RESULT_BAD_FORMAT);
    }
    return validateHeader(session);
}

ResultCode convertLegacyHeader(ContainerSession* session)
{
    std::uint8_t legacy[LEGACY_HEADER_SIZE];
    std::uint32_t got = 0;
    if (!seekFile(session->sourceFile, 0) || !readFile(session->sourceFile, legacy, LEGACY_HEADER_SIZE, &got)) {
        return finish(session, RESULT_READ_FAILED);
    }
    if (got < LEGACY_HEADER_SIZE) {
        return finish(session, RESULT_BAD_FORMAT);
    }
    const std::uint16_t storedChecksum = loadLe16(legacy + LEGACY_CHECKSUM);
    if (storedChecksum != 0 && storedChecksum != computeLegacyChecksum(legacy)) {
        return finish(session, RESULT_CHECKSUM_FAILED);
    }

    ContainerHeader& header = session->header;
    std::memset(&header, 0, sizeof header);
    header.signature = loadLe32(legacy);
    // The strings' width follows the generation of the bytes just read.
    session->generation = header.signature >> 24;
    switch (loadLe16(legacy + LEGACY_LAYOUT_VERSION)) {
        case 0x100:
            header.shuffleLevel = 0;
            break;
        case 0x200:
            header.shuffleLevel = 7;
            break;
        case 0x210:
            header.shuffleLevel = loadLe32(legacy + LEGACY_BLOCK_SIZE) >> 8;
            break;
        default:
            return finish(session, RESULT_BAD_FORMAT);
    }
    header.blockSize = loadLe32(legacy + LEGACY_BLOCK_SIZE);
    header.plainSizeLow = loadLe32(legacy + LEGACY_PLAIN_SIZE);
    header.plainSizeHigh = loadLe32(legacy + LEGACY_PLAIN_SIZE + 4);
    header.writerTag = loadLe32(legacy + LEGACY_WRITER_TAG);
    std::memcpy(header.salt, legacy + LEGACY_SALT_FIRST, 8);
    std::memcpy(header.salt + 8, legacy + LEGACY_SALT_SECOND, 8);
    header.scheduleRounds = static_cast<std::uint32_t>(loadLe16(legacy + LEGACY_SCHEDULE_BASE)) + 256;
    header.mixRounds = static_cast<std::uint32_t>(loadLe16(legacy + LEGACY_ROUNDS_BASE)) + 4096;
    header.stirRounds = header.mixRounds;

    // The save time is shown nowhere; a time that does not convert stays 0.
    std::uint16_t systemTime[8];
    for (std::size_t i = 0; i < 8; ++i) {
        systemTime[i] = loadLe16(legacy + LEGACY_SYSTEM_TIME + 2 * i);
    }
    std::uint64_t savedTime = 0;
    if (systemTimeToFileTime(systemTime, &savedTime)) {
        header.savedTimeLow = static_cast<std::uint32_t>(savedTime);
        header.savedTimeHigh = static_cast<std::uint32_t>(savedTime >> 32);
    }

    std::uint32_t hintLength = loadLe16(legacy + LEGACY_HINT_LENGTH);
    std::uint32_t entryNameLength = loadLe16(legacy + LEGACY_ENTRY_NAME_LENGTH);
    if (hintLength > HINT_MAX_UNITS) {
        hintLength = HINT_MAX_UNITS;
    }
    if (entryNameLength > ENTRY_NAME_MAX_UNITS) {
        entryNameLength = ENTRY_NAME_MAX_UNITS;
    }
    if (readLegacyString(session, hintLength, header.hint) != RESULT_OK ||
        readLegacyString(session, entryNameLength, header.entryName) != RESULT_OK) {
        return session->result;
    }

    header.headerChecksum = computeHeaderChecksum(header);
    return finish(session, RESULT_OK);
}

ResultCode validateHeader(ContainerSession* session)
{
    ContainerHeader& header = session->header;
    if (computeHeaderChecksum(header) != header.headerChecksum) {
        return finish(session, RESULT_CHECKSUM_FAILED);
    }
    if (header.mixRounds < MIN_MIX_ROUNDS || header.scheduleRounds < MIN_SCHEDULE_ROUNDS ||
        header.stirRounds < MIN_STIR_ROUNDS) {
        return finish(session, RESULT_CHECKSUM_FAILED);
    }
    if (header.blockSize < SMALL_BLOCK_LIMIT && (header.blockSize < header.plainSizeLow || header.plainSizeHigh != 0)) {
        return finish(session, RESULT_CHECKSUM_FAILED);
    }
    if ((header.flags & ~KNOWN_FLAGS) != 0 || header.cipherScheme > MAX_CIPHER_SCHEME ||
        header.shuffleLevel > MAX_SHUFFLE_LEVEL || header.blockSize > MAX_BLOCK_SIZE || header.mixRounds > MAX_ROUNDS ||
        header.scheduleRounds > MAX_ROUNDS || header.stirRounds > MAX_ROUNDS) {
        return finish(session, RESULT_NEWER_VERSION);
    }
    if ((header.flags & HEADER_FLAG_SHORT_TEXT) != 0) {
        if (header.plainSizeHigh != 0 || header.plainSizeLow < SHORT_TEXT_SIZE) {
            return finish(session, RESULT_CHECKSUM_FAILED);
        }
        if (header.plainSizeLow > SHORT_TEXT_SIZE) {
            return finish(session, RESULT_NEWER_VERSION);
        }
        wipeObject(session->shortBlock);
    }
    if (header.plainSizeHigh == 0 && header.blockSize > header.plainSizeLow) {
        header.blockSize = header.plainSizeLow;
    }
    if (header.blockSize < 2) {
        header.shuffleLevel = 0;
    }
    header.entryName[ENTRY_NAME_MAX_UNITS] = 0;
    header.hint[HINT_MAX_UNITS] = 0;
    return finish(session, RESULT_OK);
}

void initHeaderForSave(ContainerSession* session, std::uint64_t length, const char16_t* hint,
                       std::uint32_t shuffleLevel, std::uint64_t savedTime)
{
    ContainerHeader& header = session->header;
    wipeObject(header);
    if (length >= SHORT_TEXT_SIZE) {
        header.plainSizeLow = static_cast<std::uint32_t>(length);
    } else {
        header.flags = HEADER_FLAG_SHORT_TEXT;
        header.plainSizeLow = SHORT_TEXT_SIZE;
        session->shortBlock[SHORT_TEXT_SIZE - 1] = static_cast<std::uint8_t>(length);
    }
    header.savedTimeLow = static_cast<std::uint32_t>(savedTime);
    header.savedTimeHigh = static_cast<std::uint32_t>(savedTime >> 32);
    header.plainSizeHigh = 0;
    header.writerTag = HEADER_WRITER_TAG;
    header.flags = static_cast<std::uint16_t>(header.flags | HEADER_FLAG_BASE);
    header.cipherScheme = 3;
    header.signature = HEADER_SIGNATURE;
    header.shuffleLevel = shuffleLevel;
    header.blockSize = chooseBlockSize(header.plainSizeLow);
    if (hint != nullptr) {
        for (std::uint32_t i = 0; i < HINT_MAX_UNITS && hint[i] != 0; ++i) {
            header.hint[i] = hint[i];
        }
    }
    for (std::size_t i = 0; SAVED_ENTRY_NAME[i] != 0; ++i) {
        header.entryName[i] = SAVED_ENTRY_NAME[i];
    }
}

bool withinOpenLimits(const ContainerHeader& header)
{
    if (header.plainSizeHigh != 0 || header.plainSizeLow > OPEN_SIZE_LIMIT) {
        return false;
    }
    return withinMemoryLimit(header);
}

void applyEntropy(ContainerSession* session, const std::uint8_t r[ENTROPY_BYTES])
{
    ContainerHeader& header = session->header;
    std::memcpy(header.salt, r, sizeof header.salt);
    header.mixRounds = (loadBe16(r + 16) & 0x7FFF) + 0x4000;
    header.scheduleRounds = (loadBe16(r + 18) & 0x3FFF) + 0x2000;
    header.stirRounds = (loadBe16(r + 20) & 0x3FFF) + 0x2000;
    std::memcpy(session->shortBlock, r + 22, SHORT_TEXT_SIZE - 1);
}

void generateParameters(ContainerSession* session)
{
    std::uint8_t r[ENTROPY_BYTES];
    gatherEntropy(r);
    applyEntropy(session, r);
    wipeObject(r);
}

std::uint32_t chooseBlockSize(std::uint64_t plainSize)
{
    if (plainSize <= WHOLE_BLOCK_LIMIT) {
        return static_cast<std::uint32_t>(plainSize);
    }
    // The candidate that leaves the shortest last block short of full, and
    // among equals the one nearest 1 MiB (the larger on a tie).
    std::uint32_t best = CANDIDATE_FIRST;
    std::uint64_t bestShortfall = CANDIDATE_LAST;
    std::uint32_t bestDistance = CANDIDATE_LAST;
    for (std::uint32_t c = CANDIDATE_FIRST; c <= CANDIDATE_LAST; ++c) {
        const std::uint64_t rest = plainSize % c;
        const std::uint64_t shortfall = rest == 0 ? 0 : c - rest;
        const std::uint32_t distance = c > CANDIDATE_IDEAL ? c - CANDIDATE_IDEAL : CANDIDATE_IDEAL - c;
        if (shortfall < bestShortfall || (shortfall == bestShortfall && distance <= bestDistance)) {
            best = c;
            bestShortfall = shortfall;
            bestDistance = distance;
        }
    }
    return best;
}

std::uint32_t chooseShuffleLevel(std::uint64_t textBytes)
{
    constexpr std::uint64_t SHUFFLE_WORK = 8388608;
    constexpr std::uint64_t SHUFFLE_LEVEL_MIN = 7;
    constexpr std::uint64_t SHUFFLE_LEVEL_MAX = 12800;
    const std::uint64_t level = SHUFFLE_WORK / (textBytes + 1);
    if (level < SHUFFLE_LEVEL_MIN) {
        return SHUFFLE_LEVEL_MIN;
    }
    return static_cast<std::uint32_t>(level > SHUFFLE_LEVEL_MAX ? SHUFFLE_LEVEL_MAX : level);
}

bool withinMemoryLimit(const ContainerHeader& header)
{
    const double megabytes = header.plainSizeLow * (1.0 / 1048576.0) + header.plainSizeHigh * 4194304.0;
    const double weighted = std::trunc(megabytes * (static_cast<double>(header.shuffleLevel) + 1.0) + 0.5);
    return weighted <= 1024.0;
}

std::uint32_t cappedPlainSize(const ContainerHeader& header)
{
    const std::uint64_t size = headerPlainSize(header);
    return size > OPEN_TEXT_CAP ? OPEN_TEXT_CAP : static_cast<std::uint32_t>(size);
}

bool hasWideEntryName(const ContainerHeader& header)
{
    static constexpr char16_t WIDE_ENTRY[] = u"vellic_w.txt";
    return std::memcmp(header.entryName, WIDE_ENTRY, sizeof WIDE_ENTRY) == 0;
}

OpenBufferSize sizeOpenBuffer(const ContainerHeader& header, bool isTextContainer)
{
    const std::uint32_t limit = cappedPlainSize(header);
    const bool wide = isTextContainer && hasWideEntryName(header);
    const std::uint32_t unit = wide ? 2 : 1;
    const LoadedSource source =
        !isTextContainer ? LOADED_CONTAINER_BYTES : (wide ? LOADED_CONTAINER_UTF16 : LOADED_CONTAINER_UTF8);
    return OpenBufferSize{unit, limit - limit % unit, source};
}

std::uint32_t openedTextLength(const ContainerHeader& header, std::uint32_t capacity)
{
    const std::uint32_t plainSize = cappedPlainSize(header);
    return capacity < plainSize ? capacity : plainSize;
}
