#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "container/container_header.h"
#include "container/container_session.h"
#include "support/legacy_writer.h"
#include "support/test_support.h"

namespace {

// Older files on disk, opened through the session as the program opens them.
class LegacyHeader : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = makeTempDir("legacy");
        session.reset(new ContainerSession);
        initSession(session.get());
    }
    void TearDown() override
    {
        teardownSession(session.get());
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::u8path(directory), ignored);
    }

    // Writes the header, its strings and a payload marker, and opens the file.
    ResultCode open(const LegacyHeaderFields& fields, std::size_t cut = SIZE_MAX)
    {
        std::vector<std::uint8_t> bytes = writeLegacyHeader(fields);
        headerLength = bytes.size();
        for (std::uint8_t marker : PAYLOAD_MARKER) {
            bytes.push_back(marker);
        }
        if (cut < bytes.size()) {
            bytes.resize(cut);
        }
        // The file a previous open left open could not be rewritten on Windows.
        teardownSession(session.get());
        const std::string path = joinPath(directory, "old.kzx");
        writeBytes(path, bytes);
        return openContainer(session.get(), toUtf16(path).c_str());
    }

    // The bytes at the file position the open left behind.
    std::vector<std::uint8_t> nextBytes(std::uint32_t count)
    {
        std::vector<std::uint8_t> bytes(count);
        std::uint32_t got = 0;
        EXPECT_TRUE(readFile(session->sourceFile, bytes.data(), count, &got));
        bytes.resize(got);
        return bytes;
    }

    static LegacyHeaderFields typicalSpec()
    {
        LegacyHeaderFields fields;
        fields.generation = 1;
        fields.layoutVersion = 0x210;
        fields.blockSize = 0x00080000;
        fields.plainSize = 3 * 1048576;
        for (int i = 0; i < 16; ++i) {
            fields.salt[i] = static_cast<std::uint8_t>(0xF0 - 7 * i);
        }
        fields.scheduleBase = 300;
        fields.roundsBase = 5000;
        fields.writerTag = 0x1234ABCD;
        fields.hint = u"my cat";
        return fields;
    }

    static constexpr std::uint8_t PAYLOAD_MARKER[4] = {0xB1, 0x0C, 0x4B, 0x1D};
    std::string directory;
    std::unique_ptr<ContainerSession> session;
    std::size_t headerLength = 0;
};

TEST_F(LegacyHeader, ConvertsEveryField)
{
    ASSERT_EQ(open(typicalSpec()), RESULT_OK);
    const ContainerHeader& header = session->header;
    EXPECT_EQ(session->generation, 1u);
    EXPECT_EQ(header.signature, 0x014B5A58u);
    EXPECT_EQ(header.blockSize, 524288u);
    EXPECT_EQ(header.shuffleLevel, 2048u);
    EXPECT_EQ(header.plainSizeLow, 3u * 1048576u);
    EXPECT_EQ(header.plainSizeHigh, 0u);
    EXPECT_EQ(header.scheduleRounds, 556u);
    EXPECT_EQ(header.mixRounds, 9096u);
    EXPECT_EQ(header.stirRounds, 9096u);
    EXPECT_EQ(header.writerTag, 0x1234ABCDu);
    EXPECT_EQ(header.flags, 0);
    EXPECT_EQ(header.cipherScheme, 0);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(header.salt[i], static_cast<std::uint8_t>(0xF0 - 7 * i)) << i;
    }
    // 2009-06-15 12:30:45.500 UTC as a FILETIME.
    const std::uint64_t savedTime = (std::uint64_t{header.savedTimeHigh} << 32) | header.savedTimeLow;
    EXPECT_EQ(savedTime, 128895426455000000ull);
    EXPECT_EQ(std::u16string(header.hint), u"my cat");
    EXPECT_EQ(std::u16string(header.entryName), u"vellic.txt");
    EXPECT_EQ(header.headerChecksum, computeHeaderChecksum(header));
    // The file is left at the payload, right after the strings.
    EXPECT_EQ(nextBytes(4), std::vector<std::uint8_t>(std::begin(PAYLOAD_MARKER), std::end(PAYLOAD_MARKER)));
}

struct LayoutCase {
    std::uint16_t layoutVersion;
    std::uint32_t blockSize;
    ResultCode expected;
    std::uint32_t shuffleLevel;
};

class LegacyLayoutTable : public LegacyHeader, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(LegacyLayoutTable, SelectsShuffleLevel)
{
    LegacyHeaderFields fields = typicalSpec();
    fields.layoutVersion = GetParam().layoutVersion;
    fields.blockSize = GetParam().blockSize;
    ASSERT_EQ(open(fields), GetParam().expected);
    if (GetParam().expected == RESULT_OK) {
        EXPECT_EQ(session->header.shuffleLevel, GetParam().shuffleLevel);
        EXPECT_EQ(session->header.blockSize, GetParam().blockSize);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, LegacyLayoutTable,
    ::testing::Values(LayoutCase{0x100, 0x80000, RESULT_OK, 0}, LayoutCase{0x200, 0x80000, RESULT_OK, 7},
                      LayoutCase{0x210, 0x80000, RESULT_OK, 2048}, LayoutCase{0x210, 0x12345, RESULT_OK, 0x123},
                      LayoutCase{0x210, 0xFFFF, RESULT_OK, 0xFF}, LayoutCase{0x000, 0x80000, RESULT_BAD_FORMAT, 0},
                      LayoutCase{0x211, 0x80000, RESULT_BAD_FORMAT, 0},
                      LayoutCase{0x300, 0x80000, RESULT_BAD_FORMAT, 0}));

TEST_F(LegacyHeader, ChecksumAddsSaltBytesAsSigned)
{
    // Reference values worked out by hand for these inputs: 0xDB62 with the
    // bytes taken as signed, 0x8A68 if they were taken unsigned.
    LegacyHeaderFields fields = typicalSpec();
    const std::uint8_t salt[16] = {0xF0, 0x01, 0x7F, 0x80, 0xFF, 0x00, 0x10, 0xEE,
                                   0x11, 0x22, 0x33, 0x44, 0xAA, 0xBB, 0xCC, 0xDD};
    std::memcpy(fields.salt, salt, sizeof salt);
    fields.scheduleBase = 100;
    fields.roundsBase = 200;
    std::vector<std::uint8_t> header = writeLegacyHeader(fields);
    ASSERT_EQ(legacyHeaderChecksum(header.data()), 0xDB62);

    fields.checksummed = false;
    ASSERT_EQ(open(fields), RESULT_OK);  // 0 is not checked

    // The stored value is written over the computed one through a fields without
    // a checksum and a patched file.
    for (const auto& [stored, expected] : {std::pair<std::uint16_t, ResultCode>{0xDB62, RESULT_OK},
                                           std::pair<std::uint16_t, ResultCode>{0x8A68, RESULT_CHECKSUM_FAILED},
                                           std::pair<std::uint16_t, ResultCode>{0xDB63, RESULT_CHECKSUM_FAILED}}) {
        std::vector<std::uint8_t> bytes = writeLegacyHeader(fields);
        bytes[6] = static_cast<std::uint8_t>(stored);
        bytes[7] = static_cast<std::uint8_t>(stored >> 8);
        teardownSession(session.get());
        const std::string path = joinPath(directory, "patched.kzx");
        writeBytes(path, bytes);
        EXPECT_EQ(openContainer(session.get(), toUtf16(path).c_str()), expected) << std::hex << stored;
    }
}

TEST_F(LegacyHeader, ChecksumIsCheckedBeforeTheLayoutVersion)
{
    LegacyHeaderFields fields = typicalSpec();
    fields.layoutVersion = 0x999;
    std::vector<std::uint8_t> bytes = writeLegacyHeader(fields);
    bytes[6] = static_cast<std::uint8_t>(bytes[6] ^ 1);
    const std::string path = joinPath(directory, "both.kzx");
    writeBytes(path, bytes);
    EXPECT_EQ(openContainer(session.get(), toUtf16(path).c_str()), RESULT_CHECKSUM_FAILED);
}

TEST_F(LegacyHeader, ChangedSaltOrBasesFailTheChecksum)
{
    const std::vector<std::uint8_t> good = writeLegacyHeader(typicalSpec());
    for (std::size_t offset : {44u, 51u, 52u, 59u, 60u, 61u, 62u, 63u}) {
        std::vector<std::uint8_t> bytes = good;
        bytes[offset] = static_cast<std::uint8_t>(bytes[offset] + 1);
        teardownSession(session.get());
        const std::string path = joinPath(directory, "changed.kzx");
        writeBytes(path, bytes);
        EXPECT_EQ(openContainer(session.get(), toUtf16(path).c_str()), RESULT_CHECKSUM_FAILED) << offset;
    }
}

TEST_F(LegacyHeader, LongHintIsCutAndNameFollowsTheReadPart)
{
    LegacyHeaderFields fields = typicalSpec();
    fields.hint.clear();
    for (int i = 0; i < 200; ++i) {
        fields.hint.push_back(static_cast<char16_t>(0x4E00 + i));
    }
    fields.entryName = u"0123456789";
    ASSERT_EQ(open(fields), RESULT_OK);
    EXPECT_EQ(std::u16string(session->header.hint), fields.hint.substr(0, 127));
    // The name is read from where the hint reading stopped, inside the long hint.
    EXPECT_EQ(std::u16string(session->header.entryName), fields.hint.substr(127, 10));
    // And the file is left right after those 137 characters.
    const std::vector<std::uint8_t> next = nextBytes(2);
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0] | (next[1] << 8), 0x4E00 + 137);
}

TEST_F(LegacyHeader, LongEntryNameIsCut)
{
    LegacyHeaderFields fields = typicalSpec();
    fields.entryName.assign(300, u'n');
    fields.entryName[254] = u'e';
    fields.entryName[255] = u'X';
    ASSERT_EQ(open(fields), RESULT_OK);
    std::u16string expected(255, u'n');
    expected[254] = u'e';
    EXPECT_EQ(std::u16string(session->header.entryName), expected);
}

TEST_F(LegacyHeader, GenerationZeroWidensEachByte)
{
    LegacyHeaderFields fields = typicalSpec();
    fields.generation = 0;
    fields.hint = u"\u00E9t\u00E9 \u00FF\u0080";
    fields.entryName = u"vellic_w.txt";
    ASSERT_EQ(open(fields), RESULT_OK);
    EXPECT_EQ(session->generation, 0u);
    EXPECT_EQ(std::u16string(session->header.hint), u"\u00E9t\u00E9 \u00FF\u0080");
    EXPECT_EQ(std::u16string(session->header.entryName), u"vellic_w.txt");
    EXPECT_EQ(nextBytes(4), std::vector<std::uint8_t>(std::begin(PAYLOAD_MARKER), std::end(PAYLOAD_MARKER)));
}

TEST_F(LegacyHeader, EmptyStringsReadNothing)
{
    LegacyHeaderFields fields = typicalSpec();
    fields.hint.clear();
    fields.entryName.clear();
    ASSERT_EQ(open(fields), RESULT_OK);
    EXPECT_EQ(session->header.hint[0], 0);
    EXPECT_EQ(session->header.entryName[0], 0);
    EXPECT_EQ(nextBytes(4), std::vector<std::uint8_t>(std::begin(PAYLOAD_MARKER), std::end(PAYLOAD_MARKER)));
}

TEST_F(LegacyHeader, UnconvertibleTimeStillOpens)
{
    LegacyHeaderFields fields = typicalSpec();
    fields.savedSystemTime[1] = 13;
    ASSERT_EQ(open(fields), RESULT_OK);
    EXPECT_EQ(session->header.savedTimeLow, 0u);
    EXPECT_EQ(session->header.savedTimeHigh, 0u);
}

TEST_F(LegacyHeader, ValidatedLikeNewerHeaders)
{
    LegacyHeaderFields fields = typicalSpec();
    fields.blockSize = 100;
    fields.plainSize = 200;
    EXPECT_EQ(open(fields), RESULT_CHECKSUM_FAILED);

    fields = typicalSpec();
    fields.blockSize = 0x4000000;
    fields.layoutVersion = 0x100;
    EXPECT_EQ(open(fields), RESULT_NEWER_VERSION);

    // A small text: blockSize comes down to plainSize.
    fields = typicalSpec();
    fields.plainSize = 10;
    ASSERT_EQ(open(fields), RESULT_OK);
    EXPECT_EQ(session->header.blockSize, 10u);
}

struct CutCase {
    std::size_t keep;  // bytes of the file kept
    ResultCode expected;
};

class LegacyCutTable : public LegacyHeader, public ::testing::WithParamInterface<CutCase> {};

TEST_P(LegacyCutTable, ShortFileGivesCode)
{
    LegacyHeaderFields fields = typicalSpec();
    fields.hint = u"abc";            // bytes 64..69
    fields.entryName = u"name.txt";  // bytes 70..85
    EXPECT_EQ(open(fields, GetParam().keep), GetParam().expected) << GetParam().keep;
}

INSTANTIATE_TEST_SUITE_P(Lengths, LegacyCutTable,
                         ::testing::Values(CutCase{4, RESULT_BAD_FORMAT}, CutCase{63, RESULT_BAD_FORMAT},
                                           CutCase{64, RESULT_READ_FAILED}, CutCase{69, RESULT_READ_FAILED},
                                           CutCase{70, RESULT_READ_FAILED}, CutCase{85, RESULT_READ_FAILED},
                                           // The strings are all a header needs.
                                           CutCase{86, RESULT_OK}));

}  // namespace
