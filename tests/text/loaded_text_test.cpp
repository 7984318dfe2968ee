// Loaded bytes as the editor's text: the one reading that the open jobs, vtxt
// and the fuzz targets share.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/locked_memory.h"
#include "text/loaded_text.h"

namespace {

struct LoadedCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    LoadedSource source;
    ResultCode code;
    std::u16string text;  // up to the first NUL unit, as the edit control takes it
};

class LoadedTextTable : public ::testing::TestWithParam<LoadedCase> {};

TEST_P(LoadedTextTable, ReadsBytesAsTheEditorShowsThem)
{
    const LoadedCase& c = GetParam();
    LockedBuffer raw;
    ASSERT_TRUE(raw.allocate(c.bytes.size()));
    if (!c.bytes.empty()) {
        std::copy(c.bytes.begin(), c.bytes.end(), raw.data());
    }
    LockedBuffer converted;
    const char16_t* text = nullptr;
    EXPECT_EQ(loadedBytesToText(&raw, c.bytes.size(), c.source, &converted, &text), c.code);
    if (c.code != RESULT_OK) {
        EXPECT_EQ(text, nullptr);
        return;
    }
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string(text), c.text);
}

std::string caseName(const ::testing::TestParamInfo<LoadedCase>& info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    Sources, LoadedTextTable,
    ::testing::Values(
        LoadedCase{
            "PlainUtf8ExpandsBareLineFeeds", {'a', '\n', 'b', '\r', '\n'}, LOADED_PLAIN_FILE, RESULT_OK, u"a\r\nb\r\n"},
        LoadedCase{"OtherContainerKeepsLineFeeds", {'a', '\n', 'b'}, LOADED_CONTAINER_BYTES, RESULT_OK, u"a\nb"},
        LoadedCase{
            "TextContainerUtf8KeepsLineFeeds", {'a', '\n', 0xC3, 0xA9}, LOADED_CONTAINER_UTF8, RESULT_OK, u"a\n\u00E9"},
        LoadedCase{"TextContainerUtf8IsNotDetected", {'a', 0, 'b', 0}, LOADED_CONTAINER_UTF8, RESULT_OK, u"a"},
        LoadedCase{
            "PlainUtf16LittleEndianWithMark", {0xFF, 0xFE, 'h', 0, 'i', 0}, LOADED_PLAIN_FILE, RESULT_OK, u"\uFEFFhi"},
        LoadedCase{
            "PlainUtf16BigEndianIsSwapped", {0xFE, 0xFF, 0, 'h', 0, 'i'}, LOADED_PLAIN_FILE, RESULT_OK, u"\uFEFFhi"},
        LoadedCase{"PlainUtf16DropsOddByte", {'h', 0, 'i', 0, 'x'}, LOADED_PLAIN_FILE, RESULT_OK, u"hi"},
        LoadedCase{"WideEntryRepairsHalfPairs",
                   {0x00, 0xD8, 'a', 0, 0x3D, 0xD8, 0x00, 0xDE},
                   LOADED_CONTAINER_UTF16,
                   RESULT_OK,
                   u" a\U0001F600"},
        LoadedCase{"PlainNulPairsAreNotText", {'a', 'b', 0, 0, 'c', 'd'}, LOADED_PLAIN_FILE, RESULT_NOT_TEXT, u""},
        LoadedCase{"OtherContainerNulPairsAreNotText", {0, 0}, LOADED_CONTAINER_BYTES, RESULT_NOT_TEXT, u""},
        LoadedCase{"EmptyPlainFile", {}, LOADED_PLAIN_FILE, RESULT_OK, u""},
        LoadedCase{"EmptyTextContainer", {}, LOADED_CONTAINER_UTF16, RESULT_OK, u""}),
    caseName);

// vtxt keeps the units past a NUL of a wide entry: none of them may be left
// half a pair either.
TEST(LoadedText, RepairsEveryStretchBetweenNulUnits)
{
    const std::vector<std::uint8_t> bytes = {'a', 0, 0, 0, 0x00, 0xDC, 'b', 0, 0, 0, 0x3D, 0xD8};
    LockedBuffer raw;
    ASSERT_TRUE(raw.allocate(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), raw.data());
    LockedBuffer converted;
    const char16_t* text = nullptr;
    ASSERT_EQ(loadedBytesToText(&raw, bytes.size(), LOADED_CONTAINER_UTF16, &converted, &text), RESULT_OK);
    EXPECT_EQ(std::u16string(text, bytes.size() / 2), std::u16string(u"a\0 b\0 ", 6));
}

// The caller-owned steps size the conversion exactly: one unit a byte, plus
// one for each bare LF of a plain file, plus the terminator.
TEST(LoadedText, PlansTheConvertedSizeExactly)
{
    const std::uint8_t bytes[] = {'a', '\n', '\n', 'b', '\r', '\n', 0, 0};
    EXPECT_EQ(planLoadedText(bytes, 6, LOADED_PLAIN_FILE).convertedBytes, (6 + 2) * 2 + 2u);
    EXPECT_EQ(planLoadedText(bytes, 6, LOADED_CONTAINER_BYTES).convertedBytes, 6 * 2 + 2u);
    EXPECT_EQ(planLoadedText(bytes, 6, LOADED_CONTAINER_UTF16).convertedBytes, 0u);
}

}  // namespace
