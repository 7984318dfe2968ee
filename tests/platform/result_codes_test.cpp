#include <gtest/gtest.h>

#include <string>

#include "platform/result_codes.h"

namespace {

struct ResultCase {
    ResultCode code;
    const char16_t* title;
    const char16_t* message;
};

class ResultTextTable : public ::testing::TestWithParam<ResultCase> {};

TEST_P(ResultTextTable, GivesTitleAndMessage)
{
    const ResultCase& expected = GetParam();
    ResultText text{};
    ASSERT_TRUE(LookupResultText(expected.code, &text));
    ASSERT_NE(text.title, nullptr);
    EXPECT_EQ(std::u16string(text.title), std::u16string(expected.title));
    EXPECT_EQ(std::u16string(text.message), std::u16string(expected.message));
}

INSTANTIATE_TEST_SUITE_P(
    EveryCode, ResultTextTable,
    ::testing::Values(
        ResultCase{6, u"Error", u"Error"}, ResultCase{7, u"Memory Error", u"Memory allocation failed."},
        ResultCase{8, u"Memory Error", u"Memory access failed."},
        ResultCase{10, u"Limit Error", u"The file exceeds the size and/or sanity limit."},
        ResultCase{11, u"Error", u"Thread creation failed."}, ResultCase{12, u"Error", u"Window creation failed."},
        ResultCase{14, u"Open Error", u"The file cannot be opened."},
        ResultCase{15, u"Read Error", u"File read failed."},
        ResultCase{16, u"Save Error", u"The file cannot be saved."},
        ResultCase{17, u"Write Error", u"File write failed."},
        ResultCase{18, u"Storage Error", u"There is not enough free disk space."},
        ResultCase{19, u"Open Error", u"The file is not a valid KZX/VTXT format file."},
        ResultCase{20, u"Open Error", u"The file may require a newer version of Tarnwick."},
        ResultCase{21, u"Checksum Error", u"Checksum failed. The file may be corrupt."},
        ResultCase{23, u"Unexpected End of File Error", u"The file may be corrupt, incomplete, or incompatible."},
        ResultCase{35, u"Password Error", u"The password you have entered is incorrect."},
        ResultCase{36, u"Password Error", u"Password and Confirm do not match. Try again."},
        ResultCase{45, u"Open Error", u"The file is not a text file."},
        // Unassigned numbers, numbers past the table and negative ones fall back.
        ResultCase{1, u"Error", u"Error"}, ResultCase{9, u"Error", u"Error"}, ResultCase{22, u"Error", u"Error"},
        ResultCase{43, u"Error", u"Error"}, ResultCase{46, u"Error", u"Error"}, ResultCase{-1, u"Error", u"Error"}));

TEST(ResultText, SuccessIsNeverShown)
{
    ResultText text{u"untouched", u"untouched"};
    EXPECT_FALSE(LookupResultText(RESULT_OK, &text));
    EXPECT_EQ(std::u16string(text.title), u"untouched");
}

TEST(ResultText, AskSaveLeavesTheTitleToTheProgramName)
{
    ResultText text{};
    ASSERT_TRUE(LookupResultText(RESULT_ASK_SAVE, &text));
    EXPECT_EQ(text.title, nullptr);
    EXPECT_EQ(std::u16string(text.message), u"Do you want to save changes?");
}

}  // namespace
