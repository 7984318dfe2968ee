// Paths reach the system exactly: every byte string is a name of its own, and
// no two names (an overlong form and "../", say) become one.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/system_path.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::u16string decoded(const Bytes& bytes)
{
    std::u16string out(bytes.size() + 1, u'\0');
    out.resize(decodeSystemPath(bytes.data(), bytes.size(), out.data()));
    return out;
}

bool encoded(const std::u16string& path, Bytes* bytes)
{
    bytes->assign(3 * path.size() + 1, 0);
    std::size_t length = 0;
    if (!encodeSystemPath(path.c_str(), bytes->data(), bytes->size(), &length)) {
        return false;
    }
    bytes->resize(length);
    return true;
}

struct PathCase {
    const char* name;
    Bytes bytes;
    std::u16string units;
};

class SystemPathTable : public ::testing::TestWithParam<PathCase> {};

TEST_P(SystemPathTable, DecodesToExactlyTheseUnitsAndBack)
{
    EXPECT_EQ(decoded(GetParam().bytes), GetParam().units);
    Bytes back;
    ASSERT_TRUE(encoded(GetParam().units, &back));
    EXPECT_EQ(back, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SystemPathTable,
    ::testing::Values(PathCase{"Ascii", {'a', '/', 'b'}, u"a/b"},
                      PathCase{"TwoThreeFourBytes",
                               {0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80},
                               u"\u00E9\u20AC\U0001F600"},
                      // Overlong forms of '.', '.', '/' stay three bytes of their own: never "../".
                      PathCase{"OverlongDotDotSlash",
                               {0xC0, 0xAE, 0xC0, 0xAE, 0xC0, 0xAF, 'v'},
                               {0xDCC0, 0xDCAE, 0xDCC0, 0xDCAE, 0xDCC0, 0xDCAF, u'v'}},
                      PathCase{"Latin1", {'c', 'a', 'f', 0xE9}, {u'c', u'a', u'f', 0xDCE9}},
                      PathCase{"EncodedSurrogate", {0xED, 0xA0, 0x80}, {0xDCED, 0xDCA0, 0xDC80}},
                      PathCase{"AboveUnicode", {0xF4, 0x90, 0x80, 0x80}, {0xDCF4, 0xDC90, 0xDC80, 0xDC80}},
                      PathCase{"CutSequence", {0xE2, 0x82, 'x'}, {0xDCE2, 0xDC82, u'x'}},
                      PathCase{"StrayContinuation", {0x80, 0xBF}, {0xDC80, 0xDCBF}},
                      PathCase{"OverlongFourByte", {0xF0, 0x80, 0x80, 0xAF}, {0xDCF0, 0xDC80, 0xDC80, 0xDCAF}}),
    [](const ::testing::TestParamInfo<PathCase>& entry) { return std::string(entry.param.name); });

TEST(SystemPath, RefusesUnitsThatStandForNoBytes)
{
    Bytes bytes;
    // Unpaired surrogates that are no byte escapes.
    EXPECT_FALSE(encoded(std::u16string{u'a', char16_t(0xD800)}, &bytes));
    EXPECT_FALSE(encoded(std::u16string{char16_t(0xDC41)}, &bytes));
    // Escapes of bytes that together make a valid character would read back
    // as that character: another name.
    EXPECT_FALSE(encoded(std::u16string{char16_t(0xDCC3), char16_t(0xDCA9)}, &bytes));
    // The same bytes apart are fine.
    EXPECT_TRUE(encoded(std::u16string{char16_t(0xDCC3), u'x', char16_t(0xDCA9)}, &bytes));
    EXPECT_TRUE(isWellFormedUtf16(u"a\U0001F600b"));
    EXPECT_FALSE(isWellFormedUtf16(std::u16string{u'a', char16_t(0xDC00)}.c_str()));
    EXPECT_FALSE(isWellFormedUtf16(std::u16string{char16_t(0xD83D), u'x'}.c_str()));
}

// Any byte string (without NUL) is a name: it decodes, encodes back to the
// same bytes, and no two byte strings share a decoding.
TEST(SystemPath, EveryByteStringRoundTrips)
{
    std::mt19937 generator(1234);
    const std::uint8_t interesting[] = {0x00, 0x2E, 0x2F, 0x7F, 0x80, 0xAE, 0xAF, 0xBF, 0xC0, 0xC1, 0xC2,
                                        0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0x9F, 0xA0, 0x8F};
    for (int round = 0; round < 20000; ++round) {
        Bytes bytes(generator() % 12);
        for (std::uint8_t& b : bytes) {
            b = (generator() & 1) != 0 ? interesting[generator() % sizeof interesting]
                                       : static_cast<std::uint8_t>(generator());
            if (b == 0) {
                b = 0x80;
            }
        }
        const std::u16string units = decoded(bytes);
        Bytes back;
        ASSERT_TRUE(encoded(units, &back)) << "round " << round;
        ASSERT_EQ(back, bytes) << "round " << round;
    }
}

// Arbitrary UTF-16: what encodes decodes to itself; nothing else is accepted.
TEST(SystemPath, EveryAcceptedUnitStringRoundTrips)
{
    std::mt19937 generator(99);
    const char16_t interesting[] = {u'a',   u'/',   u'.',   0x00E9, 0xD800, 0xDBFF, 0xDC00, 0xDC80, 0xDCC3,
                                    0xDCA9, 0xDCFF, 0xDFFF, 0xFFFF, 0xDCE2, 0xDC82, 0xDCAC, 0x20AC};
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::u16string units(generator() % 8, u'a');
        for (char16_t& u : units) {
            u = interesting[generator() % (sizeof interesting / sizeof interesting[0])];
        }
        Bytes bytes;
        if (!encoded(units, &bytes)) {
            continue;
        }
        ++accepted;
        ASSERT_EQ(decoded(bytes), units) << "round " << round;
    }
    EXPECT_GT(accepted, 1000);
}

}  // namespace
