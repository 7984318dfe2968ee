#pragma once
// The 1024-byte container header, the two older 64-byte layouts it is
// converted from, and the rules by which a header is accepted or filled in.
#include <cstddef>
#include <cstdint>

#include "cipher/entropy.h"
#include "platform/result_codes.h"
#include "text/loaded_text.h"

struct ContainerSession;

inline constexpr std::uint32_t HEADER_SIZE = 1024;
inline constexpr std::uint32_t HEADER_CHECKED_BYTES = 1020;
inline constexpr std::uint32_t LEGACY_HEADER_SIZE = 64;
inline constexpr std::uint32_t HEADER_MAGIC = 0x004B5A58;      // "XZK" in the low 24 bits
inline constexpr std::uint32_t HEADER_SIGNATURE = 0x024B5A58;  // magic with generation 2
inline constexpr std::uint32_t HEADER_WRITER_TAG = 0x2020;
inline constexpr std::uint16_t HEADER_FLAG_BASE = 1;
inline constexpr std::uint16_t HEADER_FLAG_SHORT_TEXT = 2;
inline constexpr std::uint32_t SHORT_TEXT_SIZE = 32;
inline constexpr std::uint32_t HEADER_ENTRY_NAME_UNITS = 256;
inline constexpr std::uint32_t HEADER_HINT_UNITS = 128;

// In-memory form of a header of any generation. The members mirror the
// generation-2 layout, but the file bytes are always produced and parsed by
// storeHeader / loadHeader, never by copying the record.
struct ContainerHeader {
    std::uint32_t signature;                      // 0
    std::uint16_t flags;                          // 4
    std::uint16_t cipherScheme;                   // 6
    std::uint32_t shuffleLevel;                   // 8
    std::uint32_t blockSize;                      // 12
    std::uint8_t salt[16];                        // 16
    std::uint8_t reserved1[32];                   // 32
    std::uint32_t mixRounds;                      // 64
    std::uint32_t scheduleRounds;                 // 68
    std::uint32_t stirRounds;                     // 72
    std::uint32_t plainSizeLow;                   // 76
    std::uint32_t plainSizeHigh;                  // 80
    std::uint32_t savedTimeLow;                   // 84
    std::uint32_t savedTimeHigh;                  // 88
    std::uint32_t writerTag;                      // 92
    char16_t entryName[HEADER_ENTRY_NAME_UNITS];  // 96
    char16_t hint[HEADER_HINT_UNITS];             // 608
    std::uint8_t reserved2[156];                  // 864
    std::uint32_t headerChecksum;                 // 1020
};
static_assert(sizeof(ContainerHeader) == HEADER_SIZE);
static_assert(offsetof(ContainerHeader, mixRounds) == 64);
static_assert(offsetof(ContainerHeader, entryName) == 96);
static_assert(offsetof(ContainerHeader, hint) == 608);
static_assert(offsetof(ContainerHeader, headerChecksum) == 1020);

// Serialises the record into the 1024 file bytes (little-endian).
void storeHeader(const ContainerHeader& header, std::uint8_t bytes[HEADER_SIZE]);
// Parses 1024 file bytes into the record.
void loadHeader(const std::uint8_t bytes[HEADER_SIZE], ContainerHeader* header);
// rotateAddChecksum of the serialised bytes 0..1019.
std::uint32_t computeHeaderChecksum(const ContainerHeader& header);
std::uint64_t headerPlainSize(const ContainerHeader& header);

// Accepts the first bytes of a file (count of them read, up to 1024) that the
// session's sourceFile was opened on: checks the magic, takes the generation,
// converts an older header (reading its strings from sourceFile) and validates.
// Stores the code in session->result and returns it.
ResultCode readHeader(ContainerSession* session, const std::uint8_t* bytes, std::uint32_t count);
// Converts a generation 0 or 1 header: seeks sourceFile to 0, reads the 64
// bytes and the two strings after them.
ResultCode convertLegacyHeader(ContainerSession* session);
// The acceptance rules, in their order; normalises blockSize, shuffleLevel and
// the string terminators of an accepted header.
ResultCode validateHeader(ContainerSession* session);
// Fills in session->header for saving length bytes (below 4 GiB; the save
// refuses more) before the salt and rounds are drawn:
// short-text flag and shortBlock length byte, time, flags, scheme 3, level,
// block size, hint (may be null) and entry name "vellic.txt".
void initHeaderForSave(ContainerSession* session, std::uint64_t length, const char16_t* hint,
                       std::uint32_t shuffleLevel, std::uint64_t savedTime);
// Distributes 64 entropy bytes: salt from bytes 0..15, the three round counts
// from the big-endian pairs at 16, 18 and 20 (masked into their ranges),
// shortBlock bytes 0..30 from bytes 22..52. shortBlock byte 31 is not touched.
void applyEntropy(ContainerSession* session, const std::uint8_t r[ENTROPY_BYTES]);
// gatherEntropy, then applyEntropy: fresh salt, round counts and padding for
// one save. Cannot fail.
void generateParameters(ContainerSession* session);
// The block size the writer uses for a payload of plainSize bytes.
std::uint32_t chooseBlockSize(std::uint64_t plainSize);
// The shuffle level a save uses for a text of textBytes bytes: 8388608 over
// the size with its terminator, kept within 7..12800, so that larger texts
// cost about the same work as small ones.
std::uint32_t chooseShuffleLevel(std::uint64_t textBytes);
// True when the decrypted size in MiB, weighted by shuffleLevel + 1 and
// rounded, is at most 1024: the work and memory an open may ask for.
bool withinMemoryLimit(const ContainerHeader& header);

// The largest text the editor and vtxt open: 128 MiB. A container whose text
// is larger is refused before any password is asked for.
inline constexpr std::uint32_t OPEN_SIZE_LIMIT = 0x8000000;
// The test before a container is opened: plainSize at most OPEN_SIZE_LIMIT,
// and withinMemoryLimit.
bool withinOpenLimits(const ContainerHeader& header);

// The largest text an open takes from a container: 1 GiB less one byte.
inline constexpr std::uint32_t OPEN_TEXT_CAP = 0x3FFFFFFF;
// plainSize capped at OPEN_TEXT_CAP (any nonzero high half gives the cap).
std::uint32_t cappedPlainSize(const ContainerHeader& header);
// True when the entry name is exactly "vellic_w.txt" (terminator included,
// case-sensitive): the entry holds UTF-16LE text.
bool hasWideEntryName(const ContainerHeader& header);

// How an open sizes the buffer for the deciphered bytes of a container whose
// header was read: unit 2 for a text container whose entry holds UTF-16, else
// 1; capacity the capped plainSize rounded down to a multiple of the unit. The
// buffer is allocated with capacity and two spare zero bytes; source tells
// loadedBytesToText how to read what it holds.
struct OpenBufferSize {
    std::uint32_t unit;
    std::uint32_t capacity;
    LoadedSource source;
};
OpenBufferSize sizeOpenBuffer(const ContainerHeader& header, bool isTextContainer);
// The bytes of text in that buffer after decryption, which leaves a short
// text's real length in plainSize: the smaller of capacity and the capped plainSize.
std::uint32_t openedTextLength(const ContainerHeader& header, std::uint32_t capacity);
