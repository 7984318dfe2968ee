// Headers that pass every check of the reader but ask for more memory or
// work than a document may: vtxt must refuse them with the limit code before
// it allocates block buffers or starts deciphering. The refusals run under an
// address-space limit far below what the header asks for, so a tool that
// allocated first fails with the memory code instead.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "child_process.h"
#include "cipher/checksum.h"
#include "platform/result_codes.h"
#include "platform/byte_order.h"
#include "support/test_support.h"

namespace {

constexpr std::uint32_t MiB = 1048576;

struct HostileCase {
    const char* name;
    std::uint32_t plainSizeLow;
    std::uint32_t plainSizeHigh;
    std::uint32_t shuffleLevel;
    std::uint32_t blockSize;
    bool refused;
    bool wholePayload;  // a whole payload (one block of zeros, the trailer) follows the header
};

// A generation-2 header that passes the reader's checks: right magic, round
// counts in range, and a checksum over the bytes as written.
std::vector<std::uint8_t> hostileContainer(const HostileCase& c)
{
    std::vector<std::uint8_t> file(1024, 0);
    std::uint8_t* h = file.data();
    storeLe32(h + 0, 0x024B5A58);
    storeLe16(h + 4, 1);
    storeLe16(h + 6, 3);
    storeLe32(h + 8, c.shuffleLevel);
    storeLe32(h + 12, c.blockSize);
    for (int k = 0; k < 16; ++k) {
        h[16 + k] = static_cast<std::uint8_t>(k * 7 + 1);
    }
    storeLe32(h + 64, 4096);
    storeLe32(h + 68, 256);
    storeLe32(h + 72, 4096);
    storeLe32(h + 76, c.plainSizeLow);
    storeLe32(h + 80, c.plainSizeHigh);
    storeLe32(h + 92, 0x2020);
    const char16_t name[] = u"vellic.txt";
    for (int k = 0; name[k] != 0; ++k) {
        storeLe16(h + 96 + 2 * k, name[k]);
    }
    storeLe32(h + 1020, rotateAddChecksum(h, 1020));
    if (c.wholePayload) {
        // A block of zero bytes has checksum 0, and the trailer is intact: a
        // reader that does not refuse the header goes on to shuffle the block.
        const std::uint32_t n = c.plainSizeLow;
        std::uint8_t blockHeader[8];
        storeLe32(blockHeader, n);
        storeLe32(blockHeader + 4, 0);
        file.insert(file.end(), blockHeader, blockHeader + 8);
        file.resize(file.size() + n, 0);
        std::uint8_t trailer[16] = {};
        storeLe32(trailer + 12, 0xFFFFFFFFu);
        file.insert(file.end(), trailer, trailer + 16);
    }
    return file;
}

// plainSize / 2^20 x (level + 1) lands on value when rounded as the limit does.
std::uint32_t plainSizeForProduct(double product, std::uint32_t level, bool roundUp)
{
    const double exact = product * MiB / (level + 1);
    return static_cast<std::uint32_t>(roundUp ? std::ceil(exact) : std::floor(exact));
}

const HostileCase HOSTILE_CASES[] = {
    {"BlockOf48MiBAtTopShuffleLevel", 48 * MiB, 0, 1048576, 48 * MiB, true, false},
    {"LargestLowHalfOfPlainSize", 0xFFFFFFFFu, 0, 0, 48 * MiB, true, false},
    {"HighHalfOfPlainSizeSet", 0, 1, 0, 48 * MiB, true, false},
    {"Exactly128MiBAtLevel7", 128 * MiB, 0, 7, 2048, false, false},
    {"Exactly128MiBAtLevel8", 128 * MiB, 0, 8, 2048, true, false},
    {"OneByteOver128MiBAtLevel0", 128 * MiB + 1, 0, 0, 2048, true, false},
    {"ProductOf1024Point4", plainSizeForProduct(1024.4, 8, false), 0, 8, 48 * MiB, false, false},
    {"ProductOf1024Point5", plainSizeForProduct(1024.5, 8, true), 0, 8, 48 * MiB, true, false},
    {"TwoMiBBlockPresentAtTopShuffleLevel", 2 * MiB, 0, 1048576, 2 * MiB, true, true},
};

// Every command that deciphers. verify walks the block checksums first, which
// needs no block buffer, and applies the limits before it deciphers; it has a
// test of its own on a document that passes the walk.
enum class Command { Cat, Decrypt, Passwd };

struct HostileHeaderTest : ::testing::TestWithParam<std::tuple<HostileCase, Command>> {
    std::string directory = makeTempDir("hostile");
    std::string document = joinPath(directory, "hostile.vtxt");
    std::string passwordFile = joinPath(directory, "password");

    std::vector<std::string> argumentsFor(Command command)
    {
        switch (command) {
            case Command::Cat:
                return {"cat", document, "--password-file", passwordFile};
            case Command::Decrypt:
                return {"decrypt", document, "-o", joinPath(directory, "out.txt"), "--password-file", passwordFile};
            case Command::Passwd:
                return {"passwd",     document,     "--password-file", passwordFile, "--new-password-file",
                        passwordFile, "--keep-hint"};
        }
        return {};
    }
};

TEST_P(HostileHeaderTest, LimitsDecideBeforeAnyLargeAllocation)
{
    const auto& [hostile, command] = GetParam();
    writeBytes(document, hostileContainer(hostile));
    writeBytes(passwordFile, {'p', 'w', '\n'});

    ChildLimits limits;
    // Far beyond what a refusal needs; a header that got through to the
    // payload reader would spin on its shuffle for hours.
    limits.cpuSeconds = 120;
#if !defined(__SANITIZE_ADDRESS__)
    if (hostile.refused) {
        // Every refused header asks for at least 48 MiB of block buffers or
        // of text; the tool itself runs in a fraction of this.
        limits.addressSpaceBytes = 40ull * MiB;
    }
#endif
    const ChildOutcome outcome = runChild(TARNWICK_VTXT_PATH, argumentsFor(command), limits);
    ASSERT_TRUE(outcome.exited) << "ended by signal " << outcome.signal << "\n" << outcome.standardError;
    if (hostile.refused) {
        EXPECT_EQ(outcome.exitCode, RESULT_LIMIT_EXCEEDED) << outcome.standardError;
    } else {
        // Within the limits: the reader goes on and meets the missing payload.
        EXPECT_NE(outcome.exitCode, RESULT_LIMIT_EXCEEDED) << outcome.standardError;
        EXPECT_NE(outcome.exitCode, 0) << outcome.standardError;
    }
    // The document is never replaced by a refused or failed passwd.
    EXPECT_EQ(readBytes(document), hostileContainer(hostile));
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<HostileCase, Command>>& info)
{
    static const char* const commands[] = {"Cat", "Decrypt", "Passwd"};
    return std::string(std::get<0>(info.param).name) + "With" + commands[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Vtxt, HostileHeaderTest,
                         ::testing::Combine(::testing::ValuesIn(HOSTILE_CASES),
                                            ::testing::Values(Command::Cat, Command::Decrypt, Command::Passwd)),
                         caseName);

// A document whose blocks and trailer are all in order but whose header asks
// for a million shuffle rounds a byte: verify with a password must stop at the
// limits instead of deciphering (which would take hours).
TEST(HostileHeader, VerifyWithPasswordStopsAtTheLimits)
{
    const std::string directory = makeTempDir("hostile-verify");
    const std::string document = joinPath(directory, "hostile.vtxt");
    const std::string passwordFile = joinPath(directory, "password");
    const HostileCase& hostile = HOSTILE_CASES[std::size(HOSTILE_CASES) - 1];
    ASSERT_TRUE(hostile.wholePayload);
    writeBytes(document, hostileContainer(hostile));
    writeBytes(passwordFile, {'p', 'w', '\n'});
    ChildLimits limits;
    limits.cpuSeconds = 120;
    const ChildOutcome outcome =
        runChild(TARNWICK_VTXT_PATH, {"verify", document, "--password-file", passwordFile}, limits);
    ASSERT_TRUE(outcome.exited) << "ended by signal " << outcome.signal << "\n" << outcome.standardError;
    EXPECT_EQ(outcome.exitCode, RESULT_LIMIT_EXCEEDED) << outcome.standardError;
}

}  // namespace
