#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cipher/checksum.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "platform/byte_order.h"

namespace {

struct SessionFree {
    void operator()(ContainerSession* session) const
    {
        teardownSession(session);
        delete session;
    }
};
using SessionOwner = std::unique_ptr<ContainerSession, SessionFree>;

SessionOwner newSession()
{
    SessionOwner session(new ContainerSession);
    initSession(session.get());
    return session;
}

// A header the reader accepts as it stands.
ContainerHeader acceptedHeader()
{
    ContainerHeader header;
    std::memset(&header, 0, sizeof header);
    header.signature = HEADER_SIGNATURE;
    header.flags = HEADER_FLAG_BASE;
    header.cipherScheme = 3;
    header.shuffleLevel = 100;
    header.blockSize = 4096;
    for (int i = 0; i < 16; ++i) {
        header.salt[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    header.mixRounds = 20000;
    header.scheduleRounds = 10000;
    header.stirRounds = 12000;
    header.plainSizeLow = 50000;
    header.writerTag = HEADER_WRITER_TAG;
    const char16_t name[] = u"vellic.txt";
    std::memcpy(header.entryName, name, sizeof name);
    header.headerChecksum = computeHeaderChecksum(header);
    return header;
}

// ---- layout -----------------------------------------------------------------

TEST(ContainerHeader, StoresEveryFieldLittleEndianAtItsOffset)
{
    ContainerHeader header;
    std::memset(&header, 0, sizeof header);
    header.signature = 0x024B5A58;
    header.flags = 0x0102;
    header.cipherScheme = 0x0304;
    header.shuffleLevel = 0x05060708;
    header.blockSize = 0x090A0B0C;
    for (int i = 0; i < 16; ++i) {
        header.salt[i] = static_cast<std::uint8_t>(0x10 + i);
    }
    header.reserved1[0] = 0xE1;
    header.reserved1[31] = 0xE2;
    header.mixRounds = 0x11121314;
    header.scheduleRounds = 0x15161718;
    header.stirRounds = 0x191A1B1C;
    header.plainSizeLow = 0x21222324;
    header.plainSizeHigh = 0x25262728;
    header.savedTimeLow = 0x31323334;
    header.savedTimeHigh = 0x35363738;
    header.writerTag = 0x41424344;
    header.entryName[0] = 0x5152;
    header.entryName[255] = 0x5354;
    header.hint[0] = 0x6162;
    header.hint[127] = 0x6364;
    header.reserved2[0] = 0xF1;
    header.reserved2[155] = 0xF2;
    header.headerChecksum = 0x71727374;

    std::uint8_t bytes[HEADER_SIZE];
    std::memset(bytes, 0xCC, sizeof bytes);
    storeHeader(header, bytes);
    EXPECT_EQ(bytes[0], 0x58);
    EXPECT_EQ(bytes[3], 0x02);
    EXPECT_EQ(loadLe16(bytes + 4), 0x0102);
    EXPECT_EQ(loadLe16(bytes + 6), 0x0304);
    EXPECT_EQ(loadLe32(bytes + 8), 0x05060708u);
    EXPECT_EQ(loadLe32(bytes + 12), 0x090A0B0Cu);
    EXPECT_EQ(bytes[16], 0x10);
    EXPECT_EQ(bytes[31], 0x1F);
    EXPECT_EQ(bytes[32], 0xE1);
    EXPECT_EQ(bytes[63], 0xE2);
    EXPECT_EQ(loadLe32(bytes + 64), 0x11121314u);
    EXPECT_EQ(loadLe32(bytes + 68), 0x15161718u);
    EXPECT_EQ(loadLe32(bytes + 72), 0x191A1B1Cu);
    EXPECT_EQ(loadLe32(bytes + 76), 0x21222324u);
    EXPECT_EQ(loadLe32(bytes + 80), 0x25262728u);
    EXPECT_EQ(loadLe32(bytes + 84), 0x31323334u);
    EXPECT_EQ(loadLe32(bytes + 88), 0x35363738u);
    EXPECT_EQ(loadLe32(bytes + 92), 0x41424344u);
    EXPECT_EQ(loadLe16(bytes + 96), 0x5152);
    EXPECT_EQ(loadLe16(bytes + 96 + 2 * 255), 0x5354);
    EXPECT_EQ(loadLe16(bytes + 608), 0x6162);
    EXPECT_EQ(loadLe16(bytes + 608 + 2 * 127), 0x6364);
    EXPECT_EQ(bytes[864], 0xF1);
    EXPECT_EQ(bytes[1019], 0xF2);
    EXPECT_EQ(loadLe32(bytes + 1020), 0x71727374u);

    ContainerHeader back;
    std::memset(&back, 0x5A, sizeof back);
    loadHeader(bytes, &back);
    EXPECT_EQ(0, std::memcmp(&back, &header, sizeof header));
    EXPECT_EQ(headerPlainSize(back), 0x2526272821222324ull);
}

TEST(ContainerHeader, ChecksumCoversBytesBeforeTheChecksumField)
{
    ContainerHeader header = acceptedHeader();
    std::uint8_t bytes[HEADER_SIZE];
    storeHeader(header, bytes);
    EXPECT_EQ(computeHeaderChecksum(header), rotateAddChecksum(bytes, 1020));
    header.headerChecksum ^= 0xFFFFFFFF;
    EXPECT_EQ(computeHeaderChecksum(header), rotateAddChecksum(bytes, 1020));
    header.reserved2[155] = 1;  // the last covered byte
    EXPECT_NE(computeHeaderChecksum(header), rotateAddChecksum(bytes, 1020));
}

// ---- chooseBlockSize --------------------------------------------------------

struct BlockSizeCase {
    std::uint64_t plainSize;
    std::uint32_t blockSize;
};

class ChooseBlockSizeTable : public ::testing::TestWithParam<BlockSizeCase> {};

TEST_P(ChooseBlockSizeTable, PicksSize)
{
    EXPECT_EQ(chooseBlockSize(GetParam().plainSize), GetParam().blockSize) << GetParam().plainSize;
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChooseBlockSizeTable,
                         ::testing::Values(BlockSizeCase{32, 32}, BlockSizeCase{100, 100}, BlockSizeCase{2048, 2048},
                                           BlockSizeCase{1048575, 1048575}, BlockSizeCase{1048576, 1048576},
                                           BlockSizeCase{1048577, 1048577}, BlockSizeCase{3145728, 1048576},
                                           BlockSizeCase{2000000, 1000000}, BlockSizeCase{5000000, 1000000},
                                           BlockSizeCase{2097153, 699051},
                                           // 4 GiB is a multiple of 1 MiB exactly.
                                           BlockSizeCase{4294967296ull, 1048576},
                                           // Both 786432 and 1572864 divide it; the one nearer 1 MiB wins.
                                           BlockSizeCase{1572864, 786432},
                                           // A prime: nothing divides it, so the smallest shortfall wins.
                                           BlockSizeCase{1048583, 1048583}));

// ---- initHeaderForSave ------------------------------------------------------

struct SaveHeaderCase {
    std::uint64_t length;
    std::uint32_t plainSize;
    std::uint16_t flags;
    std::uint32_t blockSize;
};

class InitHeaderForSaveTable : public ::testing::TestWithParam<SaveHeaderCase> {};

TEST_P(InitHeaderForSaveTable, FillsSizesAndFlags)
{
    SessionOwner session = newSession();
    std::memset(&session->header, 0xFF, sizeof session->header);
    session->shortBlock[31] = 0xEE;
    const std::uint64_t time = 0x01D9C0DE12345678ull;
    initHeaderForSave(session.get(), GetParam().length, nullptr, 777, time);
    const ContainerHeader& header = session->header;
    EXPECT_EQ(header.plainSizeLow, GetParam().plainSize);
    EXPECT_EQ(header.plainSizeHigh, 0u);
    EXPECT_EQ(header.flags, GetParam().flags);
    EXPECT_EQ(header.blockSize, GetParam().blockSize);
    if ((GetParam().flags & HEADER_FLAG_SHORT_TEXT) != 0) {
        EXPECT_EQ(session->shortBlock[31], GetParam().length);
    } else {
        EXPECT_EQ(session->shortBlock[31], 0xEE);
    }
    EXPECT_EQ(header.signature, 0x024B5A58u);
    EXPECT_EQ(header.cipherScheme, 3);
    EXPECT_EQ(header.shuffleLevel, 777u);
    EXPECT_EQ(header.writerTag, 0x2020u);
    EXPECT_EQ(header.savedTimeLow, 0x12345678u);
    EXPECT_EQ(header.savedTimeHigh, 0x01D9C0DEu);
    EXPECT_EQ(std::u16string(header.entryName), u"vellic.txt");
    // Everything else is cleared: salt and rounds come later, reserved bytes stay zero.
    std::uint8_t bytes[HEADER_SIZE];
    storeHeader(header, bytes);
    for (std::size_t i = 16; i < 96; ++i) {
        if (i < 76 || i >= 96) {
            ASSERT_EQ(bytes[i], 0) << "byte " << i;
        }
    }
    for (std::size_t i = 96 + 2 * 10; i < 1024; ++i) {
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, InitHeaderForSaveTable,
                         ::testing::Values(SaveHeaderCase{5, 32, HEADER_FLAG_BASE | HEADER_FLAG_SHORT_TEXT, 32},
                                           SaveHeaderCase{0, 32, HEADER_FLAG_BASE | HEADER_FLAG_SHORT_TEXT, 32},
                                           SaveHeaderCase{31, 32, HEADER_FLAG_BASE | HEADER_FLAG_SHORT_TEXT, 32},
                                           SaveHeaderCase{32, 32, HEADER_FLAG_BASE, 32},
                                           SaveHeaderCase{1048576, 1048576, HEADER_FLAG_BASE, 1048576},
                                           SaveHeaderCase{1048577, 1048577, HEADER_FLAG_BASE, 1048577},
                                           SaveHeaderCase{2097153, 2097153, HEADER_FLAG_BASE, 699051}));

TEST(InitHeaderForSave, KeepsFirst127UnitsOfHint)
{
    SessionOwner session = newSession();
    std::u16string hint;
    for (int i = 0; i < 200; ++i) {
        hint.push_back(static_cast<char16_t>(u'A' + i % 26));
    }
    initHeaderForSave(session.get(), 100, hint.c_str(), 7, 0);
    EXPECT_EQ(std::u16string(session->header.hint), hint.substr(0, 127));
    EXPECT_EQ(session->header.hint[127], 0);

    initHeaderForSave(session.get(), 100, u"short \u00E9\U0001F600", 7, 0);
    EXPECT_EQ(std::u16string(session->header.hint), u"short \u00E9\U0001F600");

    for (const char16_t* none : {static_cast<const char16_t*>(nullptr), u""}) {
        initHeaderForSave(session.get(), 100, none, 7, 0);
        for (char16_t unit : session->header.hint) {
            ASSERT_EQ(unit, 0);
        }
    }
}

// ---- validateHeader ---------------------------------------------------------

struct ValidateCase {
    const char* what;
    void (*change)(ContainerHeader&);
    ResultCode expected;
};

class ValidateHeaderTable : public ::testing::TestWithParam<ValidateCase> {};

TEST_P(ValidateHeaderTable, GivesCode)
{
    SessionOwner session = newSession();
    session->header = acceptedHeader();
    GetParam().change(session->header);
    session->header.headerChecksum = computeHeaderChecksum(session->header);
    EXPECT_EQ(validateHeader(session.get()), GetParam().expected) << GetParam().what;
    EXPECT_EQ(session->result, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ValidateHeaderTable,
    ::testing::Values(
        ValidateCase{"as written", [](ContainerHeader&) {}, RESULT_OK},
        ValidateCase{"mixRounds 4095", [](ContainerHeader& h) { h.mixRounds = 4095; }, RESULT_CHECKSUM_FAILED},
        ValidateCase{"mixRounds 4096", [](ContainerHeader& h) { h.mixRounds = 4096; }, RESULT_OK},
        ValidateCase{"scheduleRounds 255", [](ContainerHeader& h) { h.scheduleRounds = 255; }, RESULT_CHECKSUM_FAILED},
        ValidateCase{"scheduleRounds 256", [](ContainerHeader& h) { h.scheduleRounds = 256; }, RESULT_OK},
        ValidateCase{"stirRounds 4095", [](ContainerHeader& h) { h.stirRounds = 4095; }, RESULT_CHECKSUM_FAILED},
        ValidateCase{"scheduleRounds 1048577", [](ContainerHeader& h) { h.scheduleRounds = 1048577; },
                     RESULT_NEWER_VERSION},
        ValidateCase{"scheduleRounds 1048576", [](ContainerHeader& h) { h.scheduleRounds = 1048576; }, RESULT_OK},
        ValidateCase{"mixRounds 1048577", [](ContainerHeader& h) { h.mixRounds = 1048577; }, RESULT_NEWER_VERSION},
        ValidateCase{"stirRounds 1048577", [](ContainerHeader& h) { h.stirRounds = 1048577; }, RESULT_NEWER_VERSION},
        ValidateCase{"flags 3",
                     [](ContainerHeader& h) {
                         h.flags = 3;
                         h.plainSizeLow = 32;
                     },
                     RESULT_OK},
        ValidateCase{"flags 4", [](ContainerHeader& h) { h.flags = 4; }, RESULT_NEWER_VERSION},
        ValidateCase{"flags 0x8001", [](ContainerHeader& h) { h.flags = 0x8001; }, RESULT_NEWER_VERSION},
        ValidateCase{"flags 0", [](ContainerHeader& h) { h.flags = 0; }, RESULT_OK},
        ValidateCase{"scheme 0", [](ContainerHeader& h) { h.cipherScheme = 0; }, RESULT_OK},
        ValidateCase{"scheme 4", [](ContainerHeader& h) { h.cipherScheme = 4; }, RESULT_NEWER_VERSION},
        ValidateCase{"shuffleLevel 1048576", [](ContainerHeader& h) { h.shuffleLevel = 1048576; }, RESULT_OK},
        ValidateCase{"shuffleLevel 1048577", [](ContainerHeader& h) { h.shuffleLevel = 1048577; },
                     RESULT_NEWER_VERSION},
        ValidateCase{"blockSize 50331648",
                     [](ContainerHeader& h) {
                         h.blockSize = 50331648;
                         h.plainSizeHigh = 1;
                     },
                     RESULT_OK},
        ValidateCase{"blockSize 50331649",
                     [](ContainerHeader& h) {
                         h.blockSize = 50331649;
                         h.plainSizeHigh = 1;
                     },
                     RESULT_NEWER_VERSION},
        ValidateCase{"small block smaller than text",
                     [](ContainerHeader& h) {
                         h.blockSize = 1000;
                         h.plainSizeLow = 1001;
                     },
                     RESULT_CHECKSUM_FAILED},
        ValidateCase{"small block with high size half",
                     [](ContainerHeader& h) {
                         h.blockSize = 2047;
                         h.plainSizeLow = 10;
                         h.plainSizeHigh = 1;
                     },
                     RESULT_CHECKSUM_FAILED},
        ValidateCase{"block 2048 below text",
                     [](ContainerHeader& h) {
                         h.blockSize = 2048;
                         h.plainSizeLow = 1000000;
                     },
                     RESULT_OK},
        ValidateCase{"empty blocks of an empty text",
                     [](ContainerHeader& h) {
                         h.blockSize = 0;
                         h.plainSizeLow = 0;
                     },
                     RESULT_OK},
        ValidateCase{"empty blocks of a text",
                     [](ContainerHeader& h) {
                         h.blockSize = 0;
                         h.plainSizeLow = 1;
                     },
                     RESULT_CHECKSUM_FAILED},
        ValidateCase{"short text of 32",
                     [](ContainerHeader& h) {
                         h.flags = HEADER_FLAG_BASE | HEADER_FLAG_SHORT_TEXT;
                         h.plainSizeLow = 32;
                     },
                     RESULT_OK},
        ValidateCase{"short text of 31",
                     [](ContainerHeader& h) {
                         h.flags = HEADER_FLAG_BASE | HEADER_FLAG_SHORT_TEXT;
                         h.plainSizeLow = 31;
                     },
                     RESULT_CHECKSUM_FAILED},
        ValidateCase{"short text of 33",
                     [](ContainerHeader& h) {
                         h.flags = HEADER_FLAG_BASE | HEADER_FLAG_SHORT_TEXT;
                         h.plainSizeLow = 33;
                     },
                     RESULT_NEWER_VERSION},
        ValidateCase{"short text with high size half",
                     [](ContainerHeader& h) {
                         h.flags = HEADER_FLAG_SHORT_TEXT;
                         h.plainSizeLow = 32;
                         h.plainSizeHigh = 1;
                     },
                     RESULT_CHECKSUM_FAILED},
        // The order of the checks: the first failure decides.
        ValidateCase{"minimum before maximum",
                     [](ContainerHeader& h) {
                         h.scheduleRounds = 255;
                         h.flags = 4;
                         h.cipherScheme = 9;
                     },
                     RESULT_CHECKSUM_FAILED},
        ValidateCase{"small block before maximum",
                     [](ContainerHeader& h) {
                         h.blockSize = 10;
                         h.plainSizeLow = 11;
                         h.shuffleLevel = 0xFFFFFFFF;
                     },
                     RESULT_CHECKSUM_FAILED},
        ValidateCase{"maximum before short text",
                     [](ContainerHeader& h) {
                         h.flags = HEADER_FLAG_SHORT_TEXT | 4;
                         h.plainSizeLow = 31;
                     },
                     RESULT_NEWER_VERSION},
        ValidateCase{"scheme before short text",
                     [](ContainerHeader& h) {
                         h.flags = HEADER_FLAG_SHORT_TEXT;
                         h.cipherScheme = 4;
                         h.plainSizeLow = 31;
                     },
                     RESULT_NEWER_VERSION}));

TEST(ValidateHeader, ChecksumDecidesBeforeAnyRange)
{
    SessionOwner session = newSession();
    session->header = acceptedHeader();
    session->header.flags = 4;
    session->header.scheduleRounds = 1;
    // Checksum left stale.
    EXPECT_EQ(validateHeader(session.get()), RESULT_CHECKSUM_FAILED);
    session->header = acceptedHeader();
    session->header.headerChecksum += 1;
    EXPECT_EQ(validateHeader(session.get()), RESULT_CHECKSUM_FAILED);
}

struct NormaliseCase {
    std::uint32_t blockSize;
    std::uint32_t plainSize;
    std::uint32_t shuffleLevel;
    std::uint32_t blockSizeAfter;
    std::uint32_t shuffleLevelAfter;
};

class ValidateHeaderNormalises : public ::testing::TestWithParam<NormaliseCase> {};

TEST_P(ValidateHeaderNormalises, BlockSizeAndShuffleLevel)
{
    SessionOwner session = newSession();
    session->header = acceptedHeader();
    session->header.blockSize = GetParam().blockSize;
    session->header.plainSizeLow = GetParam().plainSize;
    session->header.shuffleLevel = GetParam().shuffleLevel;
    session->header.headerChecksum = computeHeaderChecksum(session->header);
    ASSERT_EQ(validateHeader(session.get()), RESULT_OK);
    EXPECT_EQ(session->header.blockSize, GetParam().blockSizeAfter);
    EXPECT_EQ(session->header.shuffleLevel, GetParam().shuffleLevelAfter);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ValidateHeaderNormalises,
                         ::testing::Values(NormaliseCase{4096, 100, 9, 100, 9}, NormaliseCase{4096, 4096, 9, 4096, 9},
                                           NormaliseCase{4096, 5000, 9, 4096, 9}, NormaliseCase{1, 1, 9, 1, 0},
                                           NormaliseCase{4096, 1, 9, 1, 0}, NormaliseCase{0, 0, 9, 0, 0},
                                           NormaliseCase{2, 2, 9, 2, 9}));

TEST(ValidateHeader, TerminatesStringsAndClearsShortBlock)
{
    SessionOwner session = newSession();
    session->header = acceptedHeader();
    for (char16_t& unit : session->header.entryName) {
        unit = u'n';
    }
    for (char16_t& unit : session->header.hint) {
        unit = u'h';
    }
    session->header.headerChecksum = computeHeaderChecksum(session->header);
    std::memset(session->shortBlock, 0xAB, sizeof session->shortBlock);
    ASSERT_EQ(validateHeader(session.get()), RESULT_OK);
    EXPECT_EQ(std::u16string(session->header.entryName), std::u16string(255, u'n'));
    EXPECT_EQ(std::u16string(session->header.hint), std::u16string(127, u'h'));
    // Without the short-text flag the short block is not touched.
    EXPECT_EQ(session->shortBlock[0], 0xAB);

    session->header.flags = HEADER_FLAG_BASE | HEADER_FLAG_SHORT_TEXT;
    session->header.plainSizeLow = 32;
    session->header.headerChecksum = computeHeaderChecksum(session->header);
    ASSERT_EQ(validateHeader(session.get()), RESULT_OK);
    for (std::uint8_t byte : session->shortBlock) {
        ASSERT_EQ(byte, 0);
    }
}

// ---- readHeader on the first bytes of a file --------------------------------

std::vector<std::uint8_t> acceptedBytes()
{
    std::vector<std::uint8_t> bytes(HEADER_SIZE);
    storeHeader(acceptedHeader(), bytes.data());
    return bytes;
}

struct ReadCase {
    const char* what;
    std::uint32_t signature;
    std::uint32_t count;
    ResultCode expected;
};

class ReadHeaderTable : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadHeaderTable, GivesCode)
{
    SessionOwner session = newSession();
    std::vector<std::uint8_t> bytes = acceptedBytes();
    storeLe32(bytes.data(), GetParam().signature);
    ContainerHeader header = acceptedHeader();
    loadHeader(bytes.data(), &header);
    storeLe32(bytes.data() + 1020, computeHeaderChecksum(header));
    EXPECT_EQ(readHeader(session.get(), bytes.data(), GetParam().count), GetParam().expected) << GetParam().what;
    EXPECT_EQ(session->result, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Signatures, ReadHeaderTable,
                         ::testing::Values(ReadCase{"generation 2", 0x024B5A58, 1024, RESULT_OK},
                                           ReadCase{"generation 3", 0x034B5A58, 1024, RESULT_BAD_FORMAT},
                                           ReadCase{"generation 255", 0xFF4B5A58, 1024, RESULT_BAD_FORMAT},
                                           ReadCase{"wrong magic", 0x024B5A59, 1024, RESULT_BAD_FORMAT},
                                           ReadCase{"magic backwards", 0x02585A4B, 1024, RESULT_BAD_FORMAT},
                                           ReadCase{"short generation 2", 0x024B5A58, 1023, RESULT_BAD_FORMAT},
                                           ReadCase{"magic only", 0x024B5A58, 4, RESULT_BAD_FORMAT},
                                           ReadCase{"three bytes", 0x024B5A58, 3, RESULT_BAD_FORMAT},
                                           ReadCase{"one byte", 0x024B5A58, 1, RESULT_BAD_FORMAT},
                                           ReadCase{"nothing", 0x024B5A58, 0, RESULT_BAD_FORMAT}));

TEST(ReadHeader, KeepsGenerationOnceMagicMatches)
{
    SessionOwner session = newSession();
    std::vector<std::uint8_t> bytes = acceptedBytes();
    session->generation = 77;
    ASSERT_EQ(readHeader(session.get(), bytes.data(), HEADER_SIZE), RESULT_OK);
    EXPECT_EQ(session->generation, 2u);
    EXPECT_EQ(session->header.mixRounds, 20000u);
    storeLe32(bytes.data(), 0x074B5A58);
    EXPECT_EQ(readHeader(session.get(), bytes.data(), HEADER_SIZE), RESULT_BAD_FORMAT);
    EXPECT_EQ(session->generation, 7u);
}

TEST(ReadHeader, AnyChangedByteFailsTheChecksumFirst)
{
    SessionOwner session = newSession();
    const std::vector<std::uint8_t> original = acceptedBytes();
    for (std::size_t offset = 4; offset < 1020; ++offset) {
        for (std::uint8_t delta : {std::uint8_t{1}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
            std::vector<std::uint8_t> bytes = original;
            bytes[offset] = static_cast<std::uint8_t>(bytes[offset] + delta);
            ASSERT_EQ(readHeader(session.get(), bytes.data(), HEADER_SIZE), RESULT_CHECKSUM_FAILED)
                << "offset " << offset << " delta " << int{delta};
        }
    }
}

// ---- the open's buffer --------------------------------------------------------

struct OpenBufferCase {
    const char* label;
    std::uint32_t plainSizeLow;
    std::uint32_t plainSizeHigh;
    std::u16string entryName;
    bool isTextContainer;  // a "vtxt" name; "kzx" otherwise
    std::uint32_t unit;
    std::uint32_t capacity;
};

class OpenBufferTable : public ::testing::TestWithParam<OpenBufferCase> {};

TEST_P(OpenBufferTable, SizesTheBufferForTheDecipheredBytes)
{
    const OpenBufferCase& c = GetParam();
    ContainerHeader header = acceptedHeader();
    header.plainSizeLow = c.plainSizeLow;
    header.plainSizeHigh = c.plainSizeHigh;
    std::memset(header.entryName, 0, sizeof header.entryName);
    std::memcpy(header.entryName, c.entryName.c_str(), c.entryName.size() * sizeof(char16_t));
    const OpenBufferSize size = sizeOpenBuffer(header, c.isTextContainer);
    EXPECT_EQ(size.unit, c.unit);
    EXPECT_EQ(size.capacity, c.capacity);
    // The text in the buffer never runs past it, and a short text's real length is taken.
    EXPECT_EQ(openedTextLength(header, size.capacity),
              c.capacity < c.plainSizeLow || c.plainSizeHigh != 0 ? c.capacity : c.plainSizeLow);
    header.plainSizeLow = 5;
    header.plainSizeHigh = 0;
    EXPECT_EQ(openedTextLength(header, size.capacity), size.capacity < 5 ? size.capacity : 5u);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, OpenBufferTable,
    ::testing::Values(OpenBufferCase{"Utf8Text", 1001, 0, u"vellic.txt", true, 1, 1001},
                      OpenBufferCase{"WideTextOddSize", 1001, 0, u"vellic_w.txt", true, 2, 1000},
                      OpenBufferCase{"WideEntryInAKzx", 1001, 0, u"vellic_w.txt", false, 1, 1001},
                      OpenBufferCase{"NameInOtherCase", 1001, 0, u"Vellic_W.txt", true, 1, 1001},
                      OpenBufferCase{"NameLongerByOne", 1001, 0, u"vellic_w.txtx", true, 1, 1001},
                      OpenBufferCase{"Empty", 0, 0, u"vellic_w.txt", true, 2, 0},
                      OpenBufferCase{"AtTheCap", 0x3FFFFFFF, 0, u"vellic.txt", true, 1, 0x3FFFFFFF},
                      OpenBufferCase{"AboveTheCap", 0x40000000, 0, u"vellic.txt", true, 1, 0x3FFFFFFF},
                      OpenBufferCase{"WideAboveTheCap", 0xFFFFFFFF, 0, u"vellic_w.txt", true, 2, 0x3FFFFFFE},
                      OpenBufferCase{"HighHalf", 7, 1, u"vellic.txt", false, 1, 0x3FFFFFFF}),
    [](const ::testing::TestParamInfo<OpenBufferCase>& param) { return std::string(param.param.label); });

}  // namespace
