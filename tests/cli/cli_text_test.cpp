// The encoders every name, hint and message of vtxt passes through: what a
// terminal gets, and what a JSON reader reads back.
#include <gtest/gtest.h>

#include <string>

#include "cli/cli_text.h"
#include "support/json_string.h"

namespace {

struct EscapeCase {
    const char* label;
    std::string bytes;
    std::string shown;
};

class TerminalEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(TerminalEscape, ShowsControlsAndForeignBytesAsEscapes)
{
    const EscapeCase& c = GetParam();
    const std::string shown = escapeForTerminal(c.bytes);
    EXPECT_EQ(shown, c.shown);
    EXPECT_TRUE(isValidUtf8(reinterpret_cast<const std::uint8_t*>(shown.data()), shown.size()));
    // Escaping what was shown changes nothing: a message can pass through twice.
    EXPECT_EQ(escapeForTerminal(shown), shown);
}

INSTANTIATE_TEST_SUITE_P(
    Utf8, TerminalEscape,
    ::testing::Values(EscapeCase{"Plain", "notes 2026.vtxt", "notes 2026.vtxt"},
                      EscapeCase{"LettersOfOtherScripts",
                                 "Gr\xC3\xBC\xC3\x9F"
                                 "e \xE2\x9C\x93 \xF0\x9F\x90\xB1",
                                 "Gr\xC3\xBC\xC3\x9F"
                                 "e \xE2\x9C\x93 \xF0\x9F\x90\xB1"},
                      EscapeCase{"ClearScreen", "\x1B[2J", "\\x1b[2J"},
                      EscapeCase{"TitleChange", "\x1B]0;owned\x07", "\\x1b]0;owned\\x07"},
                      EscapeCase{"TabAndLineBreaks", "a\tb\nc\rd", "a\\x09b\\x0ac\\x0dd"},
                      EscapeCase{"Delete", "\x7F", "\\x7f"},
                      EscapeCase{"EightBitCsi",
                                 "\xC2\x9B"
                                 "31m",
                                 "\\u009b31m"},
                      EscapeCase{"FirstAndLastC1", "\xC2\x80\xC2\x9F", "\\u0080\\u009f"},
                      EscapeCase{"NoBreakSpaceIsShown", "\xC2\xA0", "\xC2\xA0"},
                      EscapeCase{"ArabicLetterMark", "\xD8\x9C", "\\u061c"},
                      EscapeCase{"LeftAndRightMarks", "\xE2\x80\x8E\xE2\x80\x8F", "\\u200e\\u200f"},
                      EscapeCase{"EmbeddingsAndOverrides", "\xE2\x80\xAA\xE2\x80\xAE", "\\u202a\\u202e"},
                      EscapeCase{"Isolates", "\xE2\x81\xA6\xE2\x81\xA9", "\\u2066\\u2069"},
                      EscapeCase{"NeighboursOfTheIsolates", "\xE2\x81\xA5\xE2\x81\xAA\xE2\x80\xA9\xE2\x80\xAF",
                                 "\xE2\x81\xA5\xE2\x81\xAA\xE2\x80\xA9\xE2\x80\xAF"},
                      EscapeCase{"OverlongDots", "\xC0\xAE\xC0\xAE\xC0\xAFx", "\\xc0\\xae\\xc0\\xae\\xc0\\xafx"},
                      EscapeCase{"Latin1Byte", "p\xE4ss", "p\\xe4ss"}, EscapeCase{"RawC1Byte", "\x9B", "\\x9b"},
                      EscapeCase{"EncodedSurrogate", "\xED\xA0\x80", "\\xed\\xa0\\x80"},
                      EscapeCase{"AboveUnicode", "\xF4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
                      EscapeCase{"CutAtTheEnd", "a\xE2\x82", "a\\xe2\\x82"},
                      EscapeCase{"Nul", std::string("a\0b", 3), "a\\x00b"}),
    [](const ::testing::TestParamInfo<EscapeCase>& param) { return std::string(param.param.label); });

TEST(TerminalEscape, ShowsUnpairedSurrogatesOfUtf16AsEscapes)
{
    const std::u16string units = u"a" + std::u16string(1, char16_t(0xD800)) + u"b" +
                                 std::u16string(1, char16_t(0xDC00)) + u"\U0001F431\x1B\x9B\u202E";
    EXPECT_EQ(escapeForTerminal(units), "a\\ud800b\\udc00\xF0\x9F\x90\xB1\\x1b\\u009b\\u202e");
    const std::u16string highAtTheEnd = u"x" + std::u16string(1, char16_t(0xDBFF));
    EXPECT_EQ(escapeForTerminal(highAtTheEnd), "x\\udbff");
}

// JSON output decodes to exactly the units that went in, whatever they are.
class JsonString : public ::testing::TestWithParam<std::u16string> {};

TEST_P(JsonString, DecodesToTheSameUnitsAndHoldsNoControl)
{
    std::string json;
    appendJsonString(&json, std::u16string_view(GetParam()));
    std::u16string back;
    ASSERT_TRUE(decodeJsonString(json, &back)) << json;
    EXPECT_TRUE(back == GetParam()) << json;
    // Nothing a terminal acts on reaches it raw from JSON either.
    EXPECT_EQ(escapeForTerminal(json), json);
}

INSTANTIATE_TEST_SUITE_P(Units, JsonString,
                         ::testing::Values(u"", u"the usual one", u"\"quoted\" and \\back\\slashed/",
                                           u"\x01\x1B[2J\t\n\r\x7F\x80\x9B\x9F\xA0", u"\u061C\u200E\u202E\u2066\u2069",
                                           u"Gr\u00FC\u00DFe \u2713 \U0001F431",
                                           u"lone " + std::u16string(1, char16_t(0xD83D)) + u" and " +
                                               std::u16string(1, char16_t(0xDE00)) + u" halves",
                                           std::u16string(1, char16_t(0xDBFF)), std::u16string(u"nul\0inside", 10)));

TEST(JsonString, ShowsBytesThatAreNotUtf8AsReplacementCharacters)
{
    std::string json;
    appendJsonString(&json, std::string_view("a\xC0\xAE"
                                             "b\xE2\x82"));
    std::u16string back;
    ASSERT_TRUE(decodeJsonString(json, &back)) << json;
    EXPECT_TRUE(back == u"a\uFFFD\uFFFDb\uFFFD\uFFFD") << json;
    json.clear();
    appendJsonString(&json, std::string_view("\x1B]0;x\x07 \xE2\x80\xAE"));
    EXPECT_EQ(json, "\"\\u001b]0;x\\u0007 \\u202e\"");
}

struct Utf8Case {
    const char* label;
    std::string bytes;
    bool valid;
};

class StrictUtf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(StrictUtf8, AcceptsOnlyWellFormedCharacters)
{
    const Utf8Case& c = GetParam();
    EXPECT_EQ(isValidUtf8(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()), c.valid);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, StrictUtf8,
    ::testing::Values(Utf8Case{"Empty", "", true}, Utf8Case{"Ascii", "secret", true},
                      Utf8Case{"TwoThreeFour", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
                      Utf8Case{"Largest", "\xF4\x8F\xBF\xBF", true}, Utf8Case{"BeforeSurrogates", "\xED\x9F\xBF", true},
                      Utf8Case{"AfterSurrogates", "\xEE\x80\x80", true}, Utf8Case{"OverlongTwo", "\xC1\xBF", false},
                      Utf8Case{"OverlongThree", "\xE0\x9F\xBF", false},
                      Utf8Case{"OverlongFour", "\xF0\x8F\xBF\xBF", false}, Utf8Case{"Surrogate", "\xED\xA0\x80", false},
                      Utf8Case{"AboveUnicode", "\xF4\x90\x80\x80", false},
                      Utf8Case{"LeadF5", "\xF5\x80\x80\x80", false}, Utf8Case{"StrayContinuation", "a\x80", false},
                      Utf8Case{"Cut", "\xE2\x82", false}, Utf8Case{"InterruptedByAscii", "\xE2x\x82\xAC", false}),
    [](const ::testing::TestParamInfo<Utf8Case>& param) { return std::string(param.param.label); });

}  // namespace
