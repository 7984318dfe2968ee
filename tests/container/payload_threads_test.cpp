// The product's transforms, on one thread and with the shuffle drawn on a
// helper thread, against the test writer, which enciphers, transposes and
// checksums with the plain one-step generator and nothing else. The cases sit
// on the edges of the fast paths: blocks no longer than the table mask (where
// the shuffle still takes a remainder), blocks just past it, shuffles long
// enough to be split across threads and blocks too short for it, scheme 0's
// single swap list, and short texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <cstdint>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "container/container_io.h"
#include "container/container_writer.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/payload_faults.h"
#include "container/session_fixture.h"
#include "container/container_header.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

struct ThreadCase {
    const char* name;
    std::uint16_t scheme;
    std::uint32_t length;
    std::uint32_t level;
    std::uint32_t blockSize;  // 0: one block
    bool shortText;
};

struct ThreadParam {
    ThreadCase c;
    unsigned threads;
};

void PrintTo(const ThreadParam& p, std::ostream* out)
{
    *out << p.c.name << " on " << p.threads << " thread(s)";
}

ContainerPlan planFor(const ThreadCase& c)
{
    ContainerPlan plan;
    plan.generation = 2;
    plan.cipherScheme = c.scheme;
    plan.shuffleLevel = c.level;
    plan.blockSize = c.blockSize;
    plan.password = u"thr\u00EAads";
    plan.text = patternText(c.length, c.length * 31u + c.scheme);
    if (c.shortText) {
        plan.flags = HEADER_FLAG_BASE | HEADER_FLAG_SHORT_TEXT;
        for (std::size_t k = 0; k < plan.padding.size(); ++k) {
            plan.padding[k] = static_cast<std::uint8_t>(0x5C ^ (k * 7));
        }
    }
    return plan;
}

class PayloadThreads : public ::testing::TestWithParam<ThreadParam> {
protected:
    void SetUp() override
    {
        directory = makeTempDir("payload-threads");
        setPayloadThreads(GetParam().threads);
    }
    void TearDown() override
    {
        setPayloadThreads(0);
    }
    std::string directory;
};

TEST_P(PayloadThreads, EncryptWritesTheReferenceBytes)
{
    const ContainerPlan plan = planFor(GetParam().c);
    const std::vector<std::uint8_t> expected = writeContainerBytes(plan);

    SessionPtr session = makeSession();
    loadHeader(expected.data(), &session->header);
    session->header.headerChecksum = 0;
    if ((plan.flags & HEADER_FLAG_SHORT_TEXT) != 0) {
        std::copy(plan.padding.begin(), plan.padding.end(), session->shortBlock);
        session->shortBlock[31] = static_cast<std::uint8_t>(plan.text.size());
    }
    setupKey(session.get(), plan.password.c_str());
    const std::string path = joinPath(directory, "written.vtxt");
    const std::u16string path16 = toUtf16(path);
    deleteFile(path16.c_str());
    session->targetFile = createNewFile(path16.c_str());
    ASSERT_NE(session->targetFile, INVALID_FILE);
    EXPECT_EQ(encryptPayload(session.get(), plan.text.data()), RESULT_OK);
    teardownSession(session.get());
    const std::vector<std::uint8_t> written = readBytes(path);
    ASSERT_EQ(written.size(), expected.size());
    const auto mismatch = std::mismatch(written.begin(), written.end(), expected.begin());
    EXPECT_TRUE(mismatch.first == written.end())
        << "first differing byte at offset " << (mismatch.first - written.begin());
}

TEST_P(PayloadThreads, DecryptRecoversTheReferenceText)
{
    const ContainerPlan plan = planFor(GetParam().c);
    const std::string path = joinPath(directory, "reference.vtxt");
    writeBytes(path, writeContainerBytes(plan));

    const OpenOutcome outcome = openAndDecrypt(path, plan.password);
    ASSERT_EQ(outcome.code, RESULT_OK);
    EXPECT_EQ(outcome.text, plan.text);

    const OpenOutcome wrong = openAndDecrypt(path, plan.password + u"?");
    EXPECT_EQ(wrong.code, RESULT_WRONG_PASSWORD);
}

constexpr std::uint32_t SPLIT_BLOCK = PARALLEL_BLOCK_MIN;

const ThreadCase CASES[] = {
    // Blocks drawn on the helper thread, then a tail too short for it.
    {"Scheme3BlocksSplitAndTail", 3, 2 * SPLIT_BLOCK + 7232, 2, SPLIT_BLOCK, false},
    {"Scheme3BlockJustShortOfSplitting", 3, SPLIT_BLOCK - 1, 2, 0, false},
    // A block whose last shuffle round hands over its settled positions in many steps.
    {"Scheme3BlockSettledInManySteps", 3, SPLIT_BLOCK + 100003, 3, 0, false},
    {"Scheme3BlockWithinTheMask", 3, 1000, 100, 0, false},
    {"Scheme3BlockOfTheMask", 3, 1023, 70, 0, false},
    {"Scheme3BlockJustPastTheMask", 3, 1024, 70, 0, false},
    {"Scheme2BlocksPastTheMask", 2, 5000, 20, 4096, false},
    {"Scheme2BlocksSplit", 2, 2 * SPLIT_BLOCK, 2, SPLIT_BLOCK, false},
    {"Scheme2BlockOfTheMask", 2, 255, 300, 0, false},
    {"Scheme2BlockJustPastTheMask", 2, 256, 300, 0, false},
    {"Scheme1BlockWithinTheMask", 1, 200, 400, 0, false},
    {"Scheme0SwapListManyRounds", 0, 3000, 30, 2048, false},
    {"Scheme0LongShuffle", 0, 9000, 40, 0, false},
    {"ShuffleLevelOne", 3, SPLIT_BLOCK + 70000, 1, 0, false},
    {"NoShuffle", 3, 5000, 0, 2048, false},
    {"EmptyShortTextHighestLevel", 3, 0, 12800, 0, true},
    {"ShortText31HighestLevel", 3, 31, 12800, 0, true},
    {"ThirtyTwoBytesHighestLevel", 3, 32, 12800, 0, false},
};

std::vector<ThreadParam> everyCaseOnBothThreadCounts()
{
    std::vector<ThreadParam> params;
    for (const unsigned threads : {1u, 2u}) {
        for (const ThreadCase& c : CASES) {
            params.push_back({c, threads});
        }
    }
    return params;
}

INSTANTIATE_TEST_SUITE_P(EdgesOfTheFastPaths, PayloadThreads, ::testing::ValuesIn(everyCaseOnBothThreadCounts()),
                         [](const ::testing::TestParamInfo<ThreadParam>& tested) {
                             return std::string(tested.param.c.name) + "Threads" + std::to_string(tested.param.threads);
                         });

// ---------------------------------------------------------------------------
// Failures inside blocks long enough for two threads. There the helper reads,
// checks and writes the blocks while the caller draws the next permutation;
// every failure must end the transform with the code one thread gives, and
// nothing may be written after a failed write.

// Three blocks past the two-thread limit, then a short tail block.
ContainerPlan splitPlan()
{
    return planFor({"", 3, 3 * SPLIT_BLOCK + 999, 2, SPLIT_BLOCK, false});
}

class SplitBlockFailures : public ::testing::TestWithParam<unsigned> {
protected:
    void SetUp() override
    {
        directory = makeTempDir("split-failures");
        setPayloadThreads(GetParam());
        resetFaults();
    }
    void TearDown() override
    {
        resetFaults();
        setPayloadThreads(0);
    }
    std::string directory;
};

TEST_P(SplitBlockFailures, DamagedBlocksAreRefused)
{
    const ContainerPlan plan = splitPlan();
    const ContainerLayout layout = layoutOf(plan);
    ASSERT_EQ(layout.blockOffsets.size(), 4u);
    const std::vector<std::uint8_t> intact = writeContainerBytes(plan);
    struct DamageAt {
        const char* what;
        std::size_t offset;  // byte flipped there
        std::size_t cutTo;   // or the file cut to this size, when not 0
        ResultCode expected;
    };
    const DamageAt cases[] = {
        {"first block's data", layout.blockOffsets[0] + BLOCK_HEADER_SIZE + 5, 0, RESULT_CHECKSUM_FAILED},
        {"second block's last byte", layout.blockOffsets[2] - 1, 0, RESULT_CHECKSUM_FAILED},
        {"third block's checksum", layout.blockOffsets[2] + 4, 0, RESULT_CHECKSUM_FAILED},
        {"tail block's data", layout.blockOffsets[3] + BLOCK_HEADER_SIZE, 0, RESULT_CHECKSUM_FAILED},
        {"cut inside the second block", 0, layout.blockOffsets[1] + BLOCK_HEADER_SIZE + 1000, RESULT_UNEXPECTED_EOF},
        {"cut inside the third block's header", 0, layout.blockOffsets[2] + 3, RESULT_UNEXPECTED_EOF},
    };
    for (const DamageAt& c : cases) {
        std::vector<std::uint8_t> bytes = intact;
        if (c.cutTo != 0) {
            bytes.resize(c.cutTo);
        } else {
            bytes[c.offset] ^= 0x01;
        }
        const std::string path = joinPath(directory, "damaged.vtxt");
        writeBytes(path, bytes);
        EXPECT_EQ(openAndDecrypt(path, plan.password).code, c.expected) << c.what;
    }
}

TEST_P(SplitBlockFailures, EveryFailedReadGivesReadFailed)
{
    const ContainerPlan plan = splitPlan();
    const std::string path = joinPath(directory, "reads.vtxt");
    writeBytes(path, writeContainerBytes(plan));
    // Four block headers and blocks, then the trailer.
    expectEachPayloadReadFails(path, plan.password, 9);
}

TEST_P(SplitBlockFailures, EveryFailedWriteGivesWriteFailedAndWritesNothingMore)
{
    // The header, four blocks with their headers, the trailer.
    expectEachPayloadWriteFails(splitPlan(), directory, 1u + 4u * 2u + 1u);
}

INSTANTIATE_TEST_SUITE_P(OnOneAndTwoThreads, SplitBlockFailures, ::testing::Values(1u, 2u),
                         [](const ::testing::TestParamInfo<unsigned>& tested) {
                             return "Threads" + std::to_string(tested.param);
                         });

// Every shuffled block long enough for two threads puts the helper to sleep
// until the permutation's last round and has the caller wake it: many blocks,
// many chances for a wake-up to be lost, which would leave the transform
// waiting for ever. A watchdog turns such a hang into a failure.
TEST(PayloadThreadsWaiting, ManyBlocksOnTwoThreadsAllFinish)
{
    const std::string directory = makeTempDir("payload-threads-many");
    setPayloadThreads(2);
    ContainerPlan plan = planFor({"", 3, 40 * SPLIT_BLOCK, 3, SPLIT_BLOCK, false});
    const std::string path = joinPath(directory, "many.vtxt");
    writeBytes(path, writeContainerBytes(plan));
    std::packaged_task<bool()> roundTrips([&] {
        for (int round = 0; round < 3; ++round) {
            const OpenOutcome outcome = openAndDecrypt(path, plan.password);
            if (outcome.code != RESULT_OK || outcome.text != plan.text) {
                return false;
            }
        }
        return true;
    });
    std::future<bool> finished = roundTrips.get_future();
    std::thread worker(std::move(roundTrips));
    constexpr auto PATIENCE = std::chrono::minutes(3);
    if (finished.wait_for(PATIENCE) != std::future_status::ready) {
        ADD_FAILURE() << "the two-thread transform still runs after " << PATIENCE.count() << " minutes: a lost wake-up";
        std::fflush(stdout);
        std::_Exit(1);
    }
    worker.join();
    EXPECT_TRUE(finished.get());
    setPayloadThreads(0);
}

TEST(PayloadThreadsSetting, ZeroRestoresTheDefault)
{
    setPayloadThreads(1);
    EXPECT_EQ(payloadThreads(), 1u);
    setPayloadThreads(2);
    EXPECT_EQ(payloadThreads(), 2u);
    setPayloadThreads(0);
    EXPECT_GE(payloadThreads(), 1u);
    EXPECT_LE(payloadThreads(), 2u);
}

}  // namespace
