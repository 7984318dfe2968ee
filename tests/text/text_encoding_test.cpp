#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/hex.h"
#include "text/text_encoding.h"

namespace {

// ---- fileExtension ----------------------------------------------------------

struct ExtensionCase {
    const char16_t* path;
    const char16_t* extension;
};

class FileExtensionTable : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(FileExtensionTable, FindsTextAfterLastDot)
{
    const char16_t* path = GetParam().path;
    const char16_t* extension = fileExtension(path);
    EXPECT_EQ(std::u16string(extension), std::u16string(GetParam().extension));
    // The result points into the path itself: the tail of it.
    const std::size_t length = std::char_traits<char16_t>::length(path);
    ASSERT_GE(extension, path);
    ASSERT_LE(extension, path + length);
    EXPECT_EQ(extension + std::char_traits<char16_t>::length(extension), path + length);
}

INSTANTIATE_TEST_SUITE_P(Paths, FileExtensionTable,
                         ::testing::Values(ExtensionCase{u"C:\\a.b\\file", u""}, ExtensionCase{u"a/b.c/d", u""},
                                           ExtensionCase{u"name.", u""}, ExtensionCase{u"notes.VTXT", u"VTXT"},
                                           ExtensionCase{u"C:\\dir.x\\notes.kzx", u"kzx"},
                                           ExtensionCase{u"archive.tar.vtxt", u"vtxt"}, ExtensionCase{u"", u""},
                                           ExtensionCase{u"plain", u""}, ExtensionCase{u".vtxt", u"vtxt"},
                                           // Both separators count, whichever comes later.
                                           ExtensionCase{u"C:\\a.b/c", u""}, ExtensionCase{u"a/b.c\\d", u""},
                                           ExtensionCase{u"C:/dir\\file.txt", u"txt"},
                                           ExtensionCase{u"dir\\sub/file.TxT", u"TxT"}));

TEST(FileExtension, ComparesCaseInsensitively)
{
    EXPECT_TRUE(equalsIgnoreCase(fileExtension(u"notes.VTXT"), u"vtxt"));
    EXPECT_TRUE(equalsIgnoreCase(u"KzX", u"kzx"));
    EXPECT_TRUE(equalsIgnoreCase(u"", u""));
    EXPECT_FALSE(equalsIgnoreCase(u"vtxt", u"vtx"));
    EXPECT_FALSE(equalsIgnoreCase(u"vtx", u"vtxt"));
    EXPECT_FALSE(equalsIgnoreCase(u"[", u"{"));  // only letters fold
    EXPECT_FALSE(equalsIgnoreCase(u"\u00C9", u"\u00E9"));
}

// ---- encodeUtf8 -------------------------------------------------------------

struct EncodeCase {
    const char* units;  // UTF-16 units in hex, without the terminator
    const char* bytes;  // expected UTF-8 bytes in hex, without the terminating NUL
};

class EncodeUtf8Table : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeUtf8Table, WritesBytesAndTerminator)
{
    const std::u16string text = unitsFromHex(GetParam().units);
    const std::vector<std::uint8_t> expected = bytesFromHex(GetParam().bytes);
    // Exactly the documented capacity, so an overrun shows under the sanitizers.
    std::vector<std::uint8_t> out(3 * text.size() + 1, 0xCC);
    const std::size_t written = encodeUtf8(text.c_str(), out.data());
    ASSERT_EQ(written, expected.size() + 1);
    EXPECT_EQ(hexFromBytes(out.data(), written - 1), hexFromBytes(expected));
    EXPECT_EQ(out[written - 1], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Units, EncodeUtf8Table,
    ::testing::Values(EncodeCase{"", ""}, EncodeCase{"0041", "41"}, EncodeCase{"007F", "7F"},
                      EncodeCase{"0080", "C2 80"}, EncodeCase{"00E9", "C3 A9"}, EncodeCase{"07FF", "DF BF"},
                      EncodeCase{"0800", "E0 A0 80"}, EncodeCase{"20AC", "E2 82 AC"}, EncodeCase{"D7FF", "ED 9F BF"},
                      EncodeCase{"E000", "EE 80 80"}, EncodeCase{"FFFF", "EF BF BF"},
                      EncodeCase{"D83D DE00", "F0 9F 98 80"}, EncodeCase{"DBFF DFFF", "F4 8F BF BF"},
                      // Unpaired halves are dropped.
                      EncodeCase{"DC00", ""}, EncodeCase{"D800", ""}, EncodeCase{"0041 DC00 0042", "41 42"},
                      EncodeCase{"D800 0041", "41"},
                      // Units between the halves are written first; only a low half closes the pair.
                      EncodeCase{"D800 0041 DC00", "41 F0 90 80 80"},
                      // A second high half replaces the first.
                      EncodeCase{"D800 D801 DC00", "F0 90 90 80"},
                      // A closed pair does not pair again.
                      EncodeCase{"D83D DE00 DE00", "F0 9F 98 80"}));

// ---- decodeUtf8 -------------------------------------------------------------

struct DecodeCase {
    const char* bytes;
    const char* units;
};

class DecodeUtf8Table : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeUtf8Table, DecodesLeniently)
{
    const std::vector<std::uint8_t> bytes = bytesFromHex(GetParam().bytes);
    // The caller's buffer: 2n + 2 zero bytes, so the result is always terminated.
    std::vector<char16_t> out(bytes.size() + 1, 0);
    const std::size_t units = decodeUtf8(bytes.data(), bytes.size(), out.data());
    ASSERT_LE(units, bytes.size());
    EXPECT_EQ(hexFromUnits(std::u16string(out.data(), units)), hexFromUnits(unitsFromHex(GetParam().units)));
    EXPECT_EQ(out[units], 0);
}

INSTANTIATE_TEST_SUITE_P(Bytes, DecodeUtf8Table,
                         ::testing::Values(DecodeCase{"", ""}, DecodeCase{"41 42", "0041 0042"},
                                           DecodeCase{"C3 A9", "00E9"}, DecodeCase{"E2 82 AC", "20AC"},
                                           DecodeCase{"F0 9F 98 80", "D83D DE00"},
                                           DecodeCase{"F4 8F BF BF", "DBFF DFFF"},
                                           // Encoded surrogates and values above 10FFFF give nothing.
                                           DecodeCase{"ED A0 80", ""}, DecodeCase{"F4 90 80 80", ""},
                                           // Overlong forms decode to their value.
                                           DecodeCase{"C0 80", "0000"}, DecodeCase{"E0 81 81", "0041"},
                                           // An ASCII byte inside a sequence is written, and the sequence goes on.
                                           DecodeCase{"E2 41 82 AC", "0041 20AC"},
                                           // A stray continuation byte starts a two-byte sequence.
                                           DecodeCase{"A9 A9", "0269"}, DecodeCase{"80 80", "0000"},
                                           // Bytes F8..FF are skipped where a lead byte is expected.
                                           DecodeCase{"F8 41 FF", "0041"}, DecodeCase{"F8 C3 A9", "00E9"},
                                           // A sequence cut by the end of the buffer gives nothing.
                                           DecodeCase{"41 E2 82", "0041"}, DecodeCase{"C3", ""}));

TEST(DecodeUtf8, RoundTripsEveryUnitAndPairEncoded)
{
    std::u16string text;
    for (std::uint32_t u = 1; u <= 0xFFFF; ++u) {
        if (u < 0xD800 || u > 0xDFFF) {
            text.push_back(static_cast<char16_t>(u));
        }
    }
    for (std::uint32_t c = 0x10000; c <= 0x10FFFF; c += 0x3FF) {
        text.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        text.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
    std::vector<std::uint8_t> bytes(4 * text.size() + 1);
    const std::size_t written = encodeUtf8(text.c_str(), bytes.data());
    std::vector<char16_t> back(written + 1, 0);
    const std::size_t units = decodeUtf8(bytes.data(), written - 1, back.data());
    ASSERT_EQ(units, text.size());
    EXPECT_TRUE(std::u16string(back.data(), units) == text);
}

// ---- detectEncoding ---------------------------------------------------------

struct DetectCase {
    const char* bytes;
    TextKind kind;
};

class DetectEncodingTable : public ::testing::TestWithParam<DetectCase> {};

TEST_P(DetectEncodingTable, GivesVerdict)
{
    const std::vector<std::uint8_t> bytes = bytesFromHex(GetParam().bytes);
    EXPECT_EQ(detectEncoding(bytes.data(), bytes.size()), GetParam().kind) << GetParam().bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, DetectEncodingTable,
    ::testing::Values(DetectCase{"", TEXT_EMPTY}, DetectCase{"00", TEXT_NOT_TEXT}, DetectCase{"41", TEXT_BYTES},
                      DetectCase{"FF", TEXT_BYTES}, DetectCase{"41 00 42 00", TEXT_UTF16LE},
                      DetectCase{"00 41 00 42", TEXT_UTF16BE}, DetectCase{"41 42", TEXT_BYTES},
                      DetectCase{"41 42 00 00", TEXT_NOT_TEXT}, DetectCase{"41 00 00 42", TEXT_UTF16LE},
                      DetectCase{"41 42 00", TEXT_UTF16BE},
                      // A mark decides before anything else is examined.
                      DetectCase{"FF FE", TEXT_UTF16LE}, DetectCase{"FF FE 00 00 00", TEXT_UTF16LE},
                      DetectCase{"FE FF", TEXT_UTF16BE}, DetectCase{"FE FF 00 00", TEXT_UTF16BE},
                      DetectCase{"EF BB BF 41", TEXT_BYTES}, DetectCase{"00 00", TEXT_NOT_TEXT},
                      // The odd last byte is outside every unit: only the zero-byte rule sees it.
                      DetectCase{"41 42 43 44 00", TEXT_UTF16BE}, DetectCase{"41 42 43 00 45", TEXT_UTF16LE}));

// ---- the UTF-16 loading steps -----------------------------------------------

// A loaded file: n data bytes and two zero spare bytes, as the loader allocates them.
std::vector<std::uint8_t> loadedBuffer(const char* hex)
{
    std::vector<std::uint8_t> buffer = bytesFromHex(hex);
    buffer.push_back(0);
    buffer.push_back(0);
    return buffer;
}

std::u16string unitsOf(const std::vector<std::uint8_t>& buffer)
{
    std::u16string text;
    for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) {
        const auto unit = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
        if (unit == 0) {
            break;
        }
        text.push_back(unit);
    }
    return text;
}

TEST(TerminateUtf16, DropsTrailingOddByte)
{
    std::vector<std::uint8_t> odd = loadedBuffer("41 00 42 00 43");
    terminateUtf16(odd.data(), odd.size() - 2);
    EXPECT_EQ(hexFromUnits(unitsOf(odd)), "0041 0042");

    std::vector<std::uint8_t> even = loadedBuffer("41 00 42 00");
    terminateUtf16(even.data(), even.size() - 2);
    EXPECT_EQ(hexFromUnits(unitsOf(even)), "0041 0042");
    EXPECT_EQ(hexFromBytes(even), "41 00 42 00 00 00");
}

TEST(SwapByteOrder, SwapsWholeUnitsOnly)
{
    std::vector<std::uint8_t> buffer = bytesFromHex("00 41 D8 3D 7F");
    swapByteOrder(buffer.data(), buffer.size());
    EXPECT_EQ(hexFromBytes(buffer), "41 00 3D D8 7F");
}

struct LoadCase {
    const char* bytes;
    const char* units;  // the text the edit control receives
};

class Utf16LoadTable : public ::testing::TestWithParam<LoadCase> {};

// The steps the loader runs for a UTF-16 file, as one pipeline.
TEST_P(Utf16LoadTable, GivesText)
{
    std::vector<std::uint8_t> buffer = loadedBuffer(GetParam().bytes);
    const std::size_t n = buffer.size() - 2;
    const TextKind kind = detectEncoding(buffer.data(), n);
    ASSERT_TRUE(kind == TEXT_UTF16LE || kind == TEXT_UTF16BE);
    if (kind == TEXT_UTF16BE) {
        swapByteOrder(buffer.data(), n);
    }
    terminateUtf16(buffer.data(), n);
    std::vector<char16_t> text(buffer.size() / 2 + 1, 0);
    std::memcpy(text.data(), buffer.data(), buffer.size() & ~std::size_t{1});
    repairSurrogates(text.data());
    EXPECT_EQ(hexFromUnits(skipByteOrderMark(text.data())), hexFromUnits(unitsFromHex(GetParam().units)));
}

INSTANTIATE_TEST_SUITE_P(Files, Utf16LoadTable,
                         ::testing::Values(LoadCase{"41 00 42 00 43", "0041 0042"}, LoadCase{"FF FE 41 00", "0041"},
                                           LoadCase{"FE FF 00 41 D8 00", "0041 0020"},
                                           LoadCase{"FF FE FF FE 41 00", "FEFF 0041"},
                                           LoadCase{"00 41 00 42", "0041 0042"},
                                           LoadCase{"41 00 3D D8 00 DE", "0041 D83D DE00"}));

// ---- repairSurrogates -------------------------------------------------------

struct RepairCase {
    const char* before;
    const char* after;
};

class RepairSurrogatesTable : public ::testing::TestWithParam<RepairCase> {};

TEST_P(RepairSurrogatesTable, ReplacesUnpairedHalves)
{
    std::u16string text = unitsFromHex(GetParam().before);
    repairSurrogates(text.data());
    EXPECT_EQ(hexFromUnits(text), hexFromUnits(unitsFromHex(GetParam().after)));
}

INSTANTIATE_TEST_SUITE_P(Units, RepairSurrogatesTable,
                         ::testing::Values(RepairCase{"D800 0041", "0020 0041"}, RepairCase{"0041 DC00", "0041 0020"},
                                           RepairCase{"DC00", "0020"}, RepairCase{"D800 DC00", "D800 DC00"},
                                           RepairCase{"0041 D800", "0041 0020"}, RepairCase{"", ""},
                                           RepairCase{"D800 D800 DC00", "0020 D800 DC00"},
                                           RepairCase{"D800 DC00 DC00", "D800 DC00 0020"},
                                           RepairCase{"DC00 D800", "0020 0020"},
                                           RepairCase{"DBFF DFFF 0041 D83D DE00", "DBFF DFFF 0041 D83D DE00"}));

TEST(RepairSurrogates, StopsAtTerminator)
{
    std::u16string text = unitsFromHex("0041 0000 D800");
    repairSurrogates(text.data());
    EXPECT_EQ(hexFromUnits(text), "0041 0000 D800");
}

// ---- countBareLineFeeds and expandLineBreaks -------------------------------

struct LineBreakCase {
    const char* bytes;
    std::size_t bareLineFeeds;
    const char* units;
};

class ExpandLineBreaksTable : public ::testing::TestWithParam<LineBreakCase> {};

TEST_P(ExpandLineBreaksTable, GivesCrLfBreaks)
{
    const std::vector<std::uint8_t> bytes = bytesFromHex(GetParam().bytes);
    const std::size_t count = countBareLineFeeds(bytes.data(), bytes.size());
    EXPECT_EQ(count, GetParam().bareLineFeeds);
    // Exactly the size the loader allocates: (n + count) * 2 + 2 zero bytes.
    std::vector<char16_t> out(bytes.size() + count + 1, 0);
    const std::size_t units = expandLineBreaks(bytes.data(), bytes.size(), out.data());
    EXPECT_EQ(hexFromUnits(std::u16string(out.data(), units)), hexFromUnits(unitsFromHex(GetParam().units)));
    ASSERT_LT(units, out.size());
    EXPECT_EQ(out[units], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, ExpandLineBreaksTable,
    ::testing::Values(
        // a LF b CR LF c LF
        LineBreakCase{"61 0A 62 0D 0A 63 0A", 2, "0061 000D 000A 0062 000D 000A 0063 000D 000A"},
        LineBreakCase{"0A 78", 1, "000D 000A 0078"}, LineBreakCase{"", 0, ""}, LineBreakCase{"0D", 0, "000D"},
        LineBreakCase{"0D 0D 0A", 0, "000D 000D 000A"}, LineBreakCase{"0A 0A", 2, "000D 000A 000D 000A"},
        LineBreakCase{"0A 0D", 1, "000D 000A 000D"}, LineBreakCase{"C3 A9 0A", 1, "00E9 000D 000A"},
        // The pending sequence does not write a unit, so the LF follows the CR as a unit.
        LineBreakCase{"0D C3 0A", 1, "000D 000A"}, LineBreakCase{"EF BB BF 61 0A", 1, "FEFF 0061 000D 000A"}));

TEST(ExpandLineBreaks, Utf8MarkIsSkippedForTheEditor)
{
    const std::vector<std::uint8_t> bytes = bytesFromHex("EF BB BF EF BB BF 41");
    std::vector<char16_t> out(bytes.size() + 1, 0);
    expandLineBreaks(bytes.data(), bytes.size(), out.data());
    // Exactly one mark is skipped: a second one stays in the text.
    EXPECT_EQ(hexFromUnits(skipByteOrderMark(out.data())), "FEFF 0041");
}

TEST(SkipByteOrderMark, SkipsOneLeadingMark)
{
    const char16_t plain[] = u"A";
    const char16_t marked[] = u"\uFEFFA";
    const char16_t empty[] = u"";
    const char16_t inner[] = u"A\uFEFF";
    EXPECT_EQ(skipByteOrderMark(plain), plain);
    EXPECT_EQ(skipByteOrderMark(marked), marked + 1);
    EXPECT_EQ(skipByteOrderMark(empty), empty);
    EXPECT_EQ(skipByteOrderMark(inner), inner);
}

}  // namespace
