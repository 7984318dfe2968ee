// The size-and-work limit that the editor applies to a container before it
// asks for a password and again before it deciphers: the text's size in MiB
// times (shuffleLevel + 1), rounded half up, may not exceed 1024.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "container/container_header.h"
#include "container/container_header.h"

namespace {

constexpr std::uint32_t MiB = 1048576;

struct LimitCase {
    const char* name;
    std::uint32_t plainSizeLow;
    std::uint32_t plainSizeHigh;
    std::uint32_t shuffleLevel;
    bool within;
};

const LimitCase LIMIT_CASES[] = {
    {"Empty", 0, 0, 1048576, true},
    {"SixHundredMiBAtLevel0", 600 * MiB, 0, 0, true},
    {"SixHundredMiBAtLevel1", 600 * MiB, 0, 1, false},
    {"Product1024Point4", 1024 * MiB + 419430, 0, 0, true},   // 1024.39999..
    {"Product1024Point5", 1024 * MiB + 524288, 0, 0, false},  // exactly 1024.5 rounds up
    {"Exactly128MiBAtLevel7", 128 * MiB, 0, 7, true},
    {"Exactly128MiBAtLevel8", 128 * MiB, 0, 8, false},
    {"OneMiBAtLevel1023", MiB, 0, 1023, true},
    {"OneMiBAtLevel1024", MiB, 0, 1024, false},
    // At the highest level the reader accepts, 1 KiB is the most a document holds.
    {"OneKiBAtTopLevel", 1024, 0, 1048576, true},
    {"OneKiBAndOneByteAtTopLevel", 1025, 0, 1048576, false},
    {"HighHalfOneAtLevel0", 0, 1, 0, false},
    {"LargestLowHalfAtLevel0", 0xFFFFFFFFu, 0, 0, false},
    {"LargestSizeAtTopLevel", 0xFFFFFFFFu, 0xFFFFFFFFu, 1048576, false},
};

class MemoryLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(MemoryLimit, WeighsSizeByShuffleLevel)
{
    ContainerHeader header;
    std::memset(&header, 0, sizeof header);
    header.plainSizeLow = GetParam().plainSizeLow;
    header.plainSizeHigh = GetParam().plainSizeHigh;
    header.shuffleLevel = GetParam().shuffleLevel;
    EXPECT_EQ(withinMemoryLimit(header), GetParam().within);
}

std::string limitName(const ::testing::TestParamInfo<LimitCase>& param)
{
    return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(Headers, MemoryLimit, ::testing::ValuesIn(LIMIT_CASES), limitName);

}  // namespace
