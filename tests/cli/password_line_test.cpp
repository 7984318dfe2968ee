// The one reader of password lines: what each source's line becomes, for an
// existing file and for a new password.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "cli/cli_password_line.h"
#include "text/text_encoding.h"

namespace {

// Feeds bytes as a source would, stopping where the reader says; returns how
// many bytes it took.
std::size_t feed(PasswordLine* line, const std::string& bytes)
{
    std::size_t taken = 0;
    while (taken < bytes.size()) {
        if (!takePasswordByte(line, static_cast<std::uint8_t>(bytes[taken++]))) {
            break;
        }
    }
    return taken;
}

struct LineCase {
    const char* label;
    std::string source;
    PasswordVerdict open;             // as the password of an existing file
    PasswordVerdict fresh;            // as a new password
    PasswordVerdict freshMayBeEmpty;  // as a new password with --allow-empty-password
    std::u16string password;          // on Ok
};

class PasswordLineReader : public ::testing::TestWithParam<LineCase> {};

TEST_P(PasswordLineReader, ChecksAndConvertsEachUse)
{
    const LineCase& c = GetParam();
    const struct {
        PasswordUse use;
        bool allowEmpty;
        PasswordVerdict expected;
    } uses[] = {{PasswordUse::Open, false, c.open},
                {PasswordUse::New, false, c.fresh},
                {PasswordUse::New, true, c.freshMayBeEmpty}};
    for (const auto& use : uses) {
        PasswordLine line{};
        feed(&line, c.source);
        PasswordRecord password;
        std::memset(&password, 0x55, sizeof password);
        EXPECT_EQ(convertPasswordLine(&line, use.use, use.allowEmpty, &password), use.expected)
            << "use " << static_cast<int>(use.use) << ", empty allowed " << use.allowEmpty;
        // The line's copies are gone, whatever the verdict.
        EXPECT_EQ(line.length, 0u);
        EXPECT_TRUE(std::all_of(std::begin(line.bytes), std::end(line.bytes), [](std::uint8_t b) { return b == 0; }));
        if (use.expected == PasswordVerdict::Ok) {
            EXPECT_TRUE(std::u16string(password.units, password.length) == c.password);
            EXPECT_EQ(password.units[password.length], u'\0');
        } else {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(&password);
            EXPECT_TRUE(std::all_of(bytes, bytes + sizeof password, [](std::uint8_t b) { return b == 0; }))
                << "a refused password must leave nothing behind";
        }
    }
}

constexpr PasswordVerdict OK = PasswordVerdict::Ok;
constexpr PasswordVerdict NONE = PasswordVerdict::NoPassword;
constexpr PasswordVerdict EMPTY = PasswordVerdict::Empty;
constexpr PasswordVerdict NUL = PasswordVerdict::HasNul;
constexpr PasswordVerdict NOT_UTF8 = PasswordVerdict::NotUtf8;
constexpr PasswordVerdict TOO_LONG = PasswordVerdict::TooLong;

// The old reader's result for a line that is not UTF-8: the core's lenient decoder.
std::u16string lenient(const std::string& bytes)
{
    std::u16string units(bytes.size() + 1, u'\0');
    units.resize(decodeUtf8(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), units.data()));
    return units;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PasswordLineReader,
    ::testing::Values(LineCase{"Plain", "secret\n", OK, OK, OK, u"secret"},
                      LineCase{"WithoutLineBreak", "secret", OK, OK, OK, u"secret"},
                      LineCase{"CrLf", "secret\r\n", OK, OK, OK, u"secret"},
                      LineCase{"OnlyTheLastCrGoes", "secret\r\r\n", OK, OK, OK, u"secret\r"},
                      LineCase{"ByteOrderMark", "\xEF\xBB\xBFsecret\r\n", OK, OK, OK, u"secret"},
                      LineCase{"SpacesStay", " secret \n", OK, OK, OK, u" secret "},
                      LineCase{"Utf8", "n\xC3\xA9w \xF0\x9F\x98\x80\n", OK, OK, OK, u"n\u00E9w \U0001F600"},
                      LineCase{"NothingAtAll", "", NONE, NONE, NONE, u""},
                      LineCase{"EmptyLine", "\n", OK, EMPTY, OK, u""},
                      LineCase{"EmptyCrLf", "\r\n", OK, EMPTY, OK, u""},
                      LineCase{"OnlyAMark", "\xEF\xBB\xBF", OK, EMPTY, OK, u""},
                      LineCase{"NulByte", std::string("ab\0cdefgh\n", 10), NUL, NUL, NUL, u""},
                      LineCase{"NulAlone", std::string("\0", 1), NUL, NUL, NUL, u""},
                      LineCase{"OverlongNul",
                               "ab\xC0\x80"
                               "cd",
                               NUL, NOT_UTF8, NOT_UTF8, u""},
                      LineCase{"Latin1", "p\xE4ss", OK, NOT_UTF8, NOT_UTF8, lenient("p\xE4ss")},
                      LineCase{"StrayContinuation", "p\x80ss", OK, NOT_UTF8, NOT_UTF8, lenient("p\x80ss")},
                      LineCase{"OverlongSlash", "\xC0\xAE\xC0\xAF", OK, NOT_UTF8, NOT_UTF8, u"./"},
                      LineCase{"EncodedSurrogate", "\xED\xA0\x80x", OK, NOT_UTF8, NOT_UTF8, u"x"},
                      LineCase{"Longest", std::string(255, 'x'), OK, OK, OK, std::u16string(255, u'x')},
                      LineCase{"OneUnitTooMany", std::string(256, 'x'), TOO_LONG, TOO_LONG, TOO_LONG, u""},
                      LineCase{"LongestInThreeByteCharacters",
                               [] {
                                   std::string s;
                                   for (int k = 0; k < 255; ++k) {
                                       s += "\xE2\x82\xAC";
                                   }
                                   return s;
                               }(),
                               OK, OK, OK, std::u16string(255, u'\u20AC')},
                      LineCase{"NoLineBreakInSight", std::string(5000, 'y'), TOO_LONG, TOO_LONG, TOO_LONG, u""}),
    [](const ::testing::TestParamInfo<LineCase>& param) { return std::string(param.param.label); });

TEST(PasswordLineReader, TakesNothingAfterTheLine)
{
    PasswordLine line{};
    EXPECT_EQ(feed(&line, "first\nsecond\n"), 6u);
    PasswordRecord password{};
    ASSERT_EQ(convertPasswordLine(&line, PasswordUse::New, false, &password), PasswordVerdict::Ok);
    EXPECT_TRUE(std::u16string(password.units, password.length) == u"first");
    // A source without a line break is read no further than the reader can hold.
    PasswordLine endless{};
    EXPECT_EQ(feed(&endless, std::string(100000, '\0')), PASSWORD_LINE_CAPACITY + 1);
}

}  // namespace
