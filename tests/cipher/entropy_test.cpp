#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ostream>
#include <set>
#include <vector>

#include "cipher/checksum.h"
#include "cipher/entropy.h"
#include "cipher/key_setup.h"
#include "container/session_fixture.h"
#include "platform/byte_order.h"
#include "platform/platform.h"

namespace {

SystemSample distinctSample()
{
    SystemSample sample;
    std::memset(&sample, 0, sizeof sample);
    sample.perfFrequency = 0x1111111122222222ull;
    sample.perfCounter = 0x3333333344444444ull;
    sample.diskFreeBytes = 0x5555555566666666ull;
    sample.systemTime = 0x7777777788888888ull;
    for (std::size_t k = 0; k < sizeof sample.memoryStatus; ++k) {
        sample.memoryStatus[k] = static_cast<std::uint8_t>(k + 1);
    }
    for (std::size_t k = 0; k < sizeof sample.systemInfo; ++k) {
        sample.systemInfo[k] = static_cast<std::uint8_t>(3 * k + 7);
    }
    sample.foregroundWindow = 0xAAAAAAAABBBBBBBBull;
    for (std::size_t k = 0; k < sizeof sample.windowInfo; ++k) {
        sample.windowInfo[k] = static_cast<std::uint8_t>(200 - k);
    }
    sample.tickCount = 0xC0C0C0C1;
    sample.processId = 0xD0D0D0D1;
    sample.threadId = 0xE0E0E0E1;
    sample.messageTime = 0xF0F0F0F1;
    return sample;
}

TEST(EntropyRecord, PlacesEverySampledValueAtItsOffset)
{
    const SystemSample sample = distinctSample();
    std::uint8_t record[ENTROPY_RECORD_SIZE];
    std::memset(record, 0xEE, sizeof record);
    storeEntropyRecord(sample, record);
    EXPECT_EQ(loadLe32(record + 0), 0xC0C0C0C1u);
    EXPECT_EQ(loadLe32(record + 4), 0xD0D0D0D1u);
    EXPECT_EQ(loadLe32(record + 8), 0xE0E0E0E1u);
    EXPECT_EQ(loadLe32(record + 12), 0xF0F0F0F1u);
    EXPECT_EQ(loadLe32(record + 16), 0x22222222u);  // low half of the frequency only
    EXPECT_EQ(loadLe64(record + 20), 0x3333333344444444ull);
    EXPECT_EQ(loadLe64(record + 28), 0x5555555566666666ull);
    EXPECT_EQ(loadLe64(record + 36), 0x7777777788888888ull);
    EXPECT_EQ(loadLe32(record + 44), rotateAddChecksum(sample.memoryStatus, 64));
    EXPECT_EQ(loadLe32(record + 48), rotateAddChecksum(sample.systemInfo, 48));
    EXPECT_EQ(loadLe32(record + 52), 0xBBBBBBBBu);  // low half of the window handle
    EXPECT_EQ(loadLe32(record + 56), rotateAddChecksum(sample.windowInfo, 60));
}

struct DrawCase {
    const char* name;
    std::uint8_t pairs[6];  // R[16..21]
    std::uint32_t mixRounds;
    std::uint32_t scheduleRounds;
    std::uint32_t stirRounds;
};

void PrintTo(const DrawCase& c, std::ostream* out)
{
    *out << c.name;
}

class ParameterDraw : public ::testing::TestWithParam<DrawCase> {};

// The two-byte values are big-endian; the masked-off top bits never reach the counts.
TEST_P(ParameterDraw, MasksTheRoundCountsIntoTheirRanges)
{
    const DrawCase& c = GetParam();
    std::uint8_t r[ENTROPY_BYTES];
    for (std::uint32_t k = 0; k < ENTROPY_BYTES; ++k) {
        r[k] = static_cast<std::uint8_t>(0x40 + k);
    }
    std::copy(std::begin(c.pairs), std::end(c.pairs), r + 16);
    SessionPtr session = makeSession();
    session->shortBlock[31] = 17;
    applyEntropy(session.get(), r);
    EXPECT_EQ(session->header.mixRounds, c.mixRounds);
    EXPECT_EQ(session->header.scheduleRounds, c.scheduleRounds);
    EXPECT_EQ(session->header.stirRounds, c.stirRounds);
    EXPECT_TRUE(std::equal(r, r + 16, session->header.salt));
    EXPECT_TRUE(std::equal(r + 22, r + 53, session->shortBlock));
    EXPECT_EQ(session->shortBlock[31], 17) << "the short-text length byte is not the padding's";
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, ParameterDraw,
    ::testing::Values(
        DrawCase{"AllZero", {0, 0, 0, 0, 0, 0}, 16384, 8192, 8192},
        DrawCase{"AllOnes", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 49151, 24575, 24575},
        DrawCase{"OnlyMaskedBits", {0x80, 0x00, 0xC0, 0x00, 0xC0, 0x00}, 16384, 8192, 8192},
        DrawCase{"HighByteFirst", {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 16384 + 0x0102, 8192 + 0x0304, 8192 + 0x0506},
        DrawCase{"TopKeptBits", {0x40, 0x00, 0x20, 0x00, 0x20, 0x00}, 16384 + 0x4000, 8192 + 0x2000, 8192 + 0x2000}),
    [](const ::testing::TestParamInfo<DrawCase>& drawn) { return std::string(drawn.param.name); });

TEST(GenerateParameters, EverySaveDrawsFreshValuesInsideTheReadersRanges)
{
    std::set<std::vector<std::uint8_t>> salts;
    std::set<std::vector<std::uint8_t>> paddings;
    const int draws = 40;
    for (int k = 0; k < draws; ++k) {
        SessionPtr session = makeSession();
        session->shortBlock[31] = 5;
        generateParameters(session.get());
        const ContainerHeader& h = session->header;
        EXPECT_GE(h.mixRounds, 16384u);
        EXPECT_LE(h.mixRounds, 49151u);
        EXPECT_GE(h.scheduleRounds, 8192u);
        EXPECT_LE(h.scheduleRounds, 24575u);
        EXPECT_GE(h.stirRounds, 8192u);
        EXPECT_LE(h.stirRounds, 24575u);
        EXPECT_EQ(session->shortBlock[31], 5);
        salts.insert(std::vector<std::uint8_t>(h.salt, h.salt + 16));
        paddings.insert(std::vector<std::uint8_t>(session->shortBlock, session->shortBlock + 31));
    }
    EXPECT_EQ(salts.size(), static_cast<std::size_t>(draws)) << "two saves drew the same salt";
    EXPECT_EQ(paddings.size(), static_cast<std::size_t>(draws)) << "two saves drew the same padding";
}

TEST(GatherEntropy, FoldsTheSampledRecord)
{
    // The performance counter alone moves between two calls, and the fold
    // spreads any change over all 64 bytes.
    std::uint8_t first[ENTROPY_BYTES];
    std::uint8_t second[ENTROPY_BYTES];
    gatherEntropy(first);
    gatherEntropy(second);
    EXPECT_NE(std::memcmp(first, second, ENTROPY_BYTES), 0);
    EXPECT_FALSE(std::all_of(first, first + ENTROPY_BYTES, [](std::uint8_t b) { return b == 0; }));
}

}  // namespace
