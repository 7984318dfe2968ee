#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cipher/checksum.h"
#include "support/hex.h"

namespace {

struct ChecksumCase {
    const char* hex;
    std::uint32_t expected;
};

class RotateAddChecksumTable : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(RotateAddChecksumTable, MatchesKnownValue)
{
    const std::vector<std::uint8_t> bytes = bytesFromHex(GetParam().hex);
    EXPECT_EQ(rotateAddChecksum(bytes.data(), bytes.size()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, RotateAddChecksumTable,
    ::testing::Values(
        ChecksumCase{"", 0},
        ChecksumCase{"616263", 0x00000556},  // "abc"
                                             // Bytes are taken unsigned: 0xFF adds 255, then the sum rotates.
        ChecksumCase{"FF", 0x000001FE},
        // The rotation carries the top bit round to bit 0.
        ChecksumCase{"80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 0x00000001},
        ChecksumCase{"FF FF", 0x000005FA}));

TEST(RotateAddChecksum, ContinuingAcrossPiecesEqualsOnePass)
{
    std::vector<std::uint8_t> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    const std::uint32_t whole = rotateAddChecksum(bytes.data(), bytes.size());
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{333}, std::size_t{999}, std::size_t{1000}}) {
        const std::uint32_t first = rotateAddChecksum(bytes.data(), cut);
        EXPECT_EQ(continueRotateAddChecksum(first, bytes.data() + cut, bytes.size() - cut), whole) << "cut " << cut;
    }
}

TEST(RotateAddChecksum, OrderOfBytesMatters)
{
    const std::vector<std::uint8_t> ab = bytesFromHex("0102");
    const std::vector<std::uint8_t> ba = bytesFromHex("0201");
    EXPECT_NE(rotateAddChecksum(ab.data(), ab.size()), rotateAddChecksum(ba.data(), ba.size()));
}

}  // namespace
