#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "cipher/checksum.h"
#include "container/container_io.h"
#include "container/container_writer.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/payload_faults.h"
#include "container/session_fixture.h"
#include "platform/byte_order.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

class PayloadFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetFaults();
        directory = makeTempDir("payload");
    }
    void TearDown() override
    {
        resetFaults();
    }
    std::string pathFor(const std::string& name) const
    {
        return joinPath(directory, name);
    }
    std::string writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        const std::string path = pathFor(name);
        writeBytes(path, bytes);
        return path;
    }
    std::string directory;
};

// ---------------------------------------------------------------------------
// Round trips through files of every generation, scheme and layout

struct RoundTripCase {
    const char* name;
    std::function<ContainerPlan()> make;
};

ContainerPlan currentPlan(std::uint16_t scheme, std::size_t textLength, std::uint32_t shuffleLevel,
                          std::uint32_t blockSize = 0)
{
    ContainerPlan plan;
    plan.generation = 2;
    plan.cipherScheme = scheme;
    plan.shuffleLevel = shuffleLevel;
    plan.blockSize = blockSize;
    plan.password = u"s\u00E9same";
    plan.text = patternText(textLength, scheme + 7);
    return plan;
}

ContainerPlan shortPlan(std::size_t textLength)
{
    ContainerPlan plan = currentPlan(3, textLength, 7);
    plan.flags = HEADER_FLAG_BASE | HEADER_FLAG_SHORT_TEXT;
    for (std::size_t k = 0; k < plan.padding.size(); ++k) {
        plan.padding[k] = static_cast<std::uint8_t>(0xA0 + k);
    }
    return plan;
}

ContainerPlan legacyPlan(std::uint32_t generation, std::uint16_t layoutVersion, std::size_t textLength,
                         std::uint32_t blockSize = 0, std::vector<std::uint32_t> blocks = {})
{
    ContainerPlan plan;
    plan.generation = generation;
    plan.layoutVersion = layoutVersion;
    plan.blockSize = blockSize;
    plan.blockLengths = std::move(blocks);
    plan.mixRounds = 4096 + 1234;
    plan.stirRounds = plan.mixRounds;
    plan.scheduleRounds = 256 + 999;
    plan.password = u"old password";
    plan.hint = generation == 0 ? u"caf\u00E9 hint" : u"\u4F60\u597D hint";
    plan.entryName = u"vellic.txt";
    plan.text = patternText(textLength, generation * 100 + layoutVersion);
    return plan;
}

void PrintTo(const RoundTripCase& c, std::ostream* out)
{
    *out << c.name;
}

class RoundTrip : public PayloadFiles, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(RoundTrip, OpensToTheStoredText)
{
    const ContainerPlan plan = GetParam().make();
    const std::string path = writeFile("case.vtxt", writeContainerBytes(plan));
    const OpenOutcome outcome = openAndDecrypt(path, plan.password);
    ASSERT_EQ(outcome.code, RESULT_OK);
    EXPECT_EQ(outcome.text, plan.text);
    EXPECT_EQ(headerPlainSize(outcome.header), plan.text.size());

    const OpenOutcome wrong = openAndDecrypt(path, plan.password + u"!");
    EXPECT_EQ(wrong.code, RESULT_WRONG_PASSWORD);
}

INSTANTIATE_TEST_SUITE_P(
    EveryLayout, RoundTrip,
    ::testing::Values(RoundTripCase{"Scheme3", [] { return currentPlan(3, 700, 7); }},
                      RoundTripCase{"Scheme2", [] { return currentPlan(2, 700, 7); }},
                      RoundTripCase{"Scheme1", [] { return currentPlan(1, 700, 7); }},
                      RoundTripCase{"Scheme0", [] { return currentPlan(0, 700, 7); }},
                      RoundTripCase{"Scheme0ManyRoundsLongBlock", [] { return currentPlan(0, 5000, 40); }},
                      RoundTripCase{"Scheme3BlockLargerThanTable", [] { return currentPlan(3, 3000, 3); }},
                      RoundTripCase{"NoShuffle", [] { return currentPlan(3, 700, 0); }},
                      RoundTripCase{"ShuffleLevelOne", [] { return currentPlan(1, 700, 1); }},
                      RoundTripCase{"ManyBlocks", [] { return currentPlan(3, 5000, 7, 2048); }},
                      RoundTripCase{"ManyBlocksScheme0", [] { return currentPlan(0, 5000, 7, 2048); }},
                      RoundTripCase{"ExactlyOneBlock", [] { return currentPlan(3, 2048, 7, 2048); }},
                      RoundTripCase{"OneByteMoreThanABlock", [] { return currentPlan(3, 2049, 7, 2048); }},
                      RoundTripCase{"ThirtyTwoBytesStoredNormally", [] { return currentPlan(3, 32, 7); }},
                      RoundTripCase{"Generation1Layout512", [] { return legacyPlan(1, 512, 900); }},
                      RoundTripCase{"Generation1NoShuffle", [] { return legacyPlan(1, 256, 900); }},
                      RoundTripCase{"Generation1Layout528", [] { return legacyPlan(1, 528, 5000, 4096); }},
                      RoundTripCase{"Generation0Layout512", [] { return legacyPlan(0, 512, 900); }},
                      RoundTripCase{"Generation0UncheckedHeader",
                                    [] {
                                        ContainerPlan plan = legacyPlan(0, 512, 300);
                                        plan.legacyChecksum = false;
                                        return plan;
                                    }},
                      // Older writers cut blocks short and ran one checksum on across them.
                      RoundTripCase{"Generation0ShortBlocksChainedChecksum",
                                    [] {
                                        return legacyPlan(0, 528, 9000, 4096, {3000, 4096, 100, 1804});
                                    }},
                      RoundTripCase{"Generation1ShortBlocksChainedChecksum",
                                    [] {
                                        return legacyPlan(1, 512, 6000, 2048, {1000, 2048, 5, 2048, 899});
                                    }}),
    [](const ::testing::TestParamInfo<RoundTripCase>& tested) { return std::string(tested.param.name); });

class ShortText : public PayloadFiles, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(ShortText, OpensToItsRealLength)
{
    const ContainerPlan plan = shortPlan(GetParam());
    const std::string path = writeFile("short.vtxt", writeContainerBytes(plan));
    const OpenOutcome outcome = openAndDecrypt(path, plan.password);
    ASSERT_EQ(outcome.code, RESULT_OK);
    EXPECT_EQ(outcome.text, plan.text);
    EXPECT_EQ(headerPlainSize(outcome.header), GetParam()) << "the real length replaces plainSize";
}

INSTANTIATE_TEST_SUITE_P(Lengths, ShortText, ::testing::Values(0, 1, 5, 30, 31));

TEST_F(PayloadFiles, ShortBlockLengthByteAbove31IsCutTo31)
{
    ContainerPlan plan = shortPlan(3);
    plan.shortLengthByte = 200;
    const std::string path = writeFile("short.vtxt", writeContainerBytes(plan));
    const OpenOutcome outcome = openAndDecrypt(path, plan.password);
    ASSERT_EQ(outcome.code, RESULT_OK);
    ASSERT_EQ(outcome.text.size(), 31u);
    EXPECT_TRUE(std::equal(plan.text.begin(), plan.text.end(), outcome.text.begin()));
    EXPECT_TRUE(std::equal(plan.padding.begin() + 3, plan.padding.end(), outcome.text.begin() + 3));
}

// ---------------------------------------------------------------------------
// The product's writer gives exactly the test writer's bytes

struct EncryptCase {
    const char* name;
    std::function<ContainerPlan()> make;
};

void PrintTo(const EncryptCase& c, std::ostream* out)
{
    *out << c.name;
}

class EncryptPayloadBytes : public PayloadFiles, public ::testing::WithParamInterface<EncryptCase> {};

TEST_P(EncryptPayloadBytes, MatchTheTestWriter)
{
    const ContainerPlan plan = GetParam().make();
    const std::vector<std::uint8_t> expected = writeContainerBytes(plan);

    SessionPtr session = makeSession();
    loadHeader(expected.data(), &session->header);
    session->header.headerChecksum = 0;  // encryptPayload computes it
    if ((plan.flags & HEADER_FLAG_SHORT_TEXT) != 0) {
        std::copy(plan.padding.begin(), plan.padding.end(), session->shortBlock);
        session->shortBlock[31] = static_cast<std::uint8_t>(plan.text.size());
    }
    setupKey(session.get(), plan.password.c_str());
    const std::string path = pathFor("written.vtxt");
    const std::u16string path16 = toUtf16(path);
    session->targetFile = createNewFile(path16.c_str());
    ASSERT_NE(session->targetFile, INVALID_FILE);
    EXPECT_EQ(encryptPayload(session.get(), plan.text.data()), RESULT_OK);
    teardownSession(session.get());
    EXPECT_EQ(readBytes(path), expected);
}

INSTANTIATE_TEST_SUITE_P(
    EveryScheme, EncryptPayloadBytes,
    ::testing::Values(EncryptCase{"Scheme3", [] { return currentPlan(3, 3000, 9); }},
                      EncryptCase{"Scheme2", [] { return currentPlan(2, 700, 7); }},
                      EncryptCase{"Scheme1", [] { return currentPlan(1, 700, 7); }},
                      EncryptCase{"Scheme0", [] { return currentPlan(0, 700, 7); }},
                      EncryptCase{"NoShuffle", [] { return currentPlan(3, 100, 0); }},
                      EncryptCase{"ManyBlocks", [] { return currentPlan(3, 5000, 7, 2048); }},
                      EncryptCase{"OneByteMoreThanABlock", [] { return currentPlan(2, 2049, 2, 2048); }},
                      EncryptCase{"EmptyShortText", [] { return shortPlan(0); }},
                      EncryptCase{"ShortText31", [] { return shortPlan(31); }}),
    [](const ::testing::TestParamInfo<EncryptCase>& tested) { return std::string(tested.param.name); });

TEST_F(PayloadFiles, WithoutShuffleTheCiphertextIsTheKeystreamXor)
{
    const ContainerPlan plan = currentPlan(3, 500, 0);
    const std::vector<std::uint8_t> file = writeContainerBytes(plan);
    SessionPtr keyed = makeSession();
    loadHeader(file.data(), &keyed->header);
    setupKey(keyed.get(), plan.password.c_str());
    CipherState& state = keyed->cipher;
    const std::size_t first = HEADER_SIZE + BLOCK_HEADER_SIZE;
    for (std::size_t k = 0; k < plan.text.size(); ++k) {
        const std::uint32_t t = keystreamStep(state.keyTable, &state.keyI, &state.keyJ, state.tableMask);
        ASSERT_EQ(file[first + k], static_cast<std::uint8_t>(plan.text[k] ^ (t & 255))) << k;
    }
}

// ---------------------------------------------------------------------------
// Whole containers through the save pipeline

class SavedText : public PayloadFiles, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(SavedText, OpensAgainWithThePassword)
{
    // The only password check is the text's 32-bit sum, which about one other
    // password in a thousand also meets for a short text; pinned values make
    // the save, and so the refusal below, the same on every run.
    pinSystemSample(20261210);
    const std::vector<std::uint8_t> text = patternText(GetParam(), 99);
    const std::string path = pathFor("saved.vtxt");
    ASSERT_EQ(saveText(path, text, u"pa55 w\u00F6rd"), RESULT_OK);
    const OpenOutcome outcome = openAndDecrypt(path, u"pa55 w\u00F6rd");
    ASSERT_EQ(outcome.code, RESULT_OK);
    EXPECT_EQ(outcome.text, text);
    EXPECT_EQ((outcome.header.flags & HEADER_FLAG_SHORT_TEXT) != 0, GetParam() < 32);
    EXPECT_EQ(outcome.header.cipherScheme, 3);
    EXPECT_EQ(openAndDecrypt(path, u"pa55 word").code, RESULT_WRONG_PASSWORD);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SavedText, ::testing::Values(0, 1, 31, 32, 33, 1000, 70000));

TEST_F(PayloadFiles, TwoSavesOfTheSameTextDiffer)
{
    const std::vector<std::uint8_t> text = patternText(100);
    ASSERT_EQ(saveText(pathFor("a.vtxt"), text, u"pw"), RESULT_OK);
    ASSERT_EQ(saveText(pathFor("b.vtxt"), text, u"pw"), RESULT_OK);
    const std::vector<std::uint8_t> a = readBytes(pathFor("a.vtxt"));
    const std::vector<std::uint8_t> b = readBytes(pathFor("b.vtxt"));
    ASSERT_EQ(a.size(), b.size());
    EXPECT_NE(std::vector<std::uint8_t>(a.begin() + HEADER_SIZE, a.end()),
              std::vector<std::uint8_t>(b.begin() + HEADER_SIZE, b.end()));
}

TEST_F(PayloadFiles, ShortTextPaddingDiffersFromSaveToSave)
{
    // The padding is enciphered, so compare it deciphered through a raw open.
    std::set<std::vector<std::uint8_t>> paddings;
    for (int k = 0; k < 3; ++k) {
        const std::string path = pathFor("pad" + std::to_string(k) + ".vtxt");
        ASSERT_EQ(saveText(path, {}, u"pw"), RESULT_OK);
        SessionPtr session = makeSession();
        ASSERT_EQ(openContainer(session.get(), toUtf16(path).c_str()), RESULT_OK);
        setupKey(session.get(), u"pw");
        ASSERT_EQ(decryptPayload(session.get(), nullptr, 0), RESULT_OK);
        EXPECT_EQ(session->shortBlock[31], 0);
        EXPECT_EQ(headerPlainSize(session->header), 0u);
        paddings.insert(std::vector<std::uint8_t>(session->shortBlock, session->shortBlock + 31));
    }
    EXPECT_EQ(paddings.size(), 3u);
}

// ---------------------------------------------------------------------------
// Damage and its result codes

struct DamageCase {
    const char* name;
    std::uint16_t scheme;
    bool wrongPassword;
    // Changes the file bytes; layout gives the offsets of its pieces.
    std::function<void(std::vector<std::uint8_t>*, const ContainerLayout&)> damage;
    ResultCode expected;
};

void flipByte(std::vector<std::uint8_t>* bytes, std::size_t offset)
{
    (*bytes)[offset] ^= 0x01;
}

void cutTo(std::vector<std::uint8_t>* bytes, std::size_t size)
{
    bytes->resize(size);
}

void PrintTo(const DamageCase& c, std::ostream* out)
{
    *out << c.name;
}

class Damage : public PayloadFiles, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(Damage, GivesItsResultCode)
{
    const DamageCase& c = GetParam();
    const ContainerPlan plan = currentPlan(c.scheme, 5000, 7, 2048);
    std::vector<std::uint8_t> bytes = writeContainerBytes(plan);
    c.damage(&bytes, layoutOf(plan));
    const std::string path = writeFile("damaged.vtxt", bytes);
    const OpenOutcome outcome = openAndDecrypt(path, c.wrongPassword ? u"not it" : plan.password);
    EXPECT_EQ(outcome.code, c.expected);
    if (c.expected == RESULT_OK) {
        EXPECT_EQ(outcome.text, plan.text);
    }
}

using Bytes = std::vector<std::uint8_t>;
using Layout = ContainerLayout;

INSTANTIATE_TEST_SUITE_P(FailureTable, Damage,
                         ::testing::
                             Values(
                                 DamageCase{"Intact", 3, false, [](Bytes*, const Layout&) {}, RESULT_OK},
                                 DamageCase{"WrongPassword", 3, true, [](Bytes*, const Layout&) {},
                                            RESULT_WRONG_PASSWORD},
                                 DamageCase{"WrongPasswordScheme0", 0, true, [](Bytes*, const Layout&) {},
                                            RESULT_WRONG_PASSWORD},
                                 DamageCase{"CiphertextByteOfFirstBlock", 3, false,
                                            [](Bytes* b, const Layout& l) { flipByte(b, l.blockOffsets[0] + 8 + 100); },
                                            RESULT_CHECKSUM_FAILED},
                                 DamageCase{"CiphertextByteOfLastBlock", 3, false,
                                            [](Bytes* b, const Layout& l) { flipByte(b, l.trailerOffset - 1); },
                                            RESULT_CHECKSUM_FAILED},
                                 DamageCase{"BlockChecksum", 3, false,
                                            [](Bytes* b, const Layout& l) { flipByte(b, l.blockOffsets[1] + 4); },
                                            RESULT_CHECKSUM_FAILED},
                                 DamageCase{
                                     "BlockLengthShorter", 3, false,
                                     [](Bytes* b, const Layout& l) { storeLe32(&(*b)[l.blockOffsets[0]], 2047); },
                                     RESULT_CHECKSUM_FAILED},
                                 DamageCase{"BlockLengthLonger", 3, false,
                                            [](Bytes* b, const Layout& l) { storeLe32(&(*b)[l.blockOffsets[2]], 905); },
                                            RESULT_CHECKSUM_FAILED},
                                 DamageCase{"BlockLengthZero", 3, false,
                                            [](Bytes* b, const Layout& l) { storeLe32(&(*b)[l.blockOffsets[1]], 0); },
                                            RESULT_CHECKSUM_FAILED},
                                 DamageCase{"EndMarker", 3, false,
                                            [](Bytes* b, const Layout& l) { flipByte(b, l.trailerOffset + 2); },
                                            RESULT_CHECKSUM_FAILED},
                                 DamageCase{"SumPlain", 3, false,
                                            [](Bytes* b, const Layout& l) { flipByte(b, l.trailerOffset + 4); },
                                            RESULT_CHECKSUM_FAILED},
                                 DamageCase{"SumPlainScheme0", 0, false,
                                            [](Bytes* b, const Layout& l) { flipByte(b, l.trailerOffset + 4); },
                                            RESULT_WRONG_PASSWORD},
                                 DamageCase{"SumRotatedIsOnlyConsultedOnMismatch", 3, false,
                                            [](Bytes* b, const Layout& l) { flipByte(b, l.trailerOffset + 9); },
                                            RESULT_OK},
                                 DamageCase{"SumInvertedIsOnlyConsultedOnMismatch", 3, false,
                                            [](Bytes* b, const Layout& l) { flipByte(b, l.trailerOffset + 15); },
                                            RESULT_OK},
                                 DamageCase{"WrongPasswordWithSumRotatedDamaged", 3,
                                            true, [](Bytes* b, const Layout& l) { flipByte(b, l.trailerOffset + 8); },
                                            RESULT_CHECKSUM_FAILED},
                                 DamageCase{"WrongPasswordWithSumInvertedDamaged", 2,
                                            true, [](Bytes* b, const Layout& l) { flipByte(b, l.trailerOffset + 12); },
                                            RESULT_CHECKSUM_FAILED},
                                 DamageCase{"WrongPasswordWithSumInvertedDamagedScheme0", 0,
                                            true, [](Bytes* b, const Layout& l) { flipByte(b, l.trailerOffset + 12); },
                                            RESULT_WRONG_PASSWORD},
                                 DamageCase{"TrailerCutAfter8Bytes", 3, false,
                                            [](Bytes* b, const Layout& l) { cutTo(b, l.trailerOffset + 8); },
                                            RESULT_OK},
                                 DamageCase{"TrailerCutAfter15Bytes", 1, false,
                                            [](Bytes* b, const Layout& l) { cutTo(b, l.trailerOffset + 15); },
                                            RESULT_OK},
                                 DamageCase{"TrailerCutAfter7Bytes", 3, false,
                                            [](Bytes* b, const Layout& l) { cutTo(b, l.trailerOffset + 7); },
                                            RESULT_UNEXPECTED_EOF},
                                 DamageCase{"TrailerMissing", 3,
                                            false, [](Bytes* b, const Layout& l) { cutTo(b, l.trailerOffset); },
                                            RESULT_UNEXPECTED_EOF},
                                 DamageCase{"WrongPasswordWithTrailerCut", 3,
                                            true, [](Bytes* b, const Layout& l) { cutTo(b, l.trailerOffset + 12); },
                                            RESULT_CHECKSUM_FAILED},
                                 DamageCase{"WrongPasswordWithTrailerCutScheme0", 0,
                                            true, [](Bytes* b, const Layout& l) { cutTo(b, l.trailerOffset + 12); },
                                            RESULT_WRONG_PASSWORD},
                                 DamageCase{"CutInsideABlockHeader", 3, false,
                                            [](Bytes* b, const Layout& l) { cutTo(b, l.blockOffsets[1] + 5); },
                                            RESULT_UNEXPECTED_EOF},
                                 DamageCase{"CutInsideABlock", 3, false,
                                            [](Bytes* b, const Layout& l) { cutTo(b, l.blockOffsets[1] + 8 + 2000); },
                                            RESULT_UNEXPECTED_EOF},
                                 DamageCase{"NoPayloadAtAll", 3,
                                            false, [](Bytes* b, const Layout& l) { cutTo(b, l.payloadOffset); },
                                            RESULT_UNEXPECTED_EOF},
                                 DamageCase{"BytesAfterTheTrailerAreNeverRead", 3, false,
                                            [](Bytes* b, const Layout&) { b->insert(b->end(), 100, 0xCC); }, RESULT_OK},
                                 // In the current generation a block checksum starts from 0 for every block.
                                 DamageCase{"ChainedChecksumInCurrentGeneration", 3, false,
                                            [](Bytes* b, const Layout& l) {
                                                const std::uint32_t first =
                                                    rotateAddChecksum(&(*b)[l.blockOffsets[0] + 8], 2048);
                                                storeLe32(&(*b)[l.blockOffsets[1] + 4],
                                                          continueRotateAddChecksum(first, &(*b)[l.blockOffsets[1] + 8],
                                                                                    2048));
                                            },
                                            RESULT_CHECKSUM_FAILED}),
                         [](const ::testing::TestParamInfo<DamageCase>& tested) {
                             return std::string(tested.param.name);
                         });

TEST_F(PayloadFiles, OlderFilesRefuseRestartedBlockChecksums)
{
    const ContainerPlan plan = legacyPlan(0, 512, 6000, 2048, {1000, 2048, 2048, 904});
    std::vector<std::uint8_t> bytes = writeContainerBytes(plan);
    const ContainerLayout layout = layoutOf(plan);
    const std::size_t second = layout.blockOffsets[1];
    storeLe32(&bytes[second + 4], rotateAddChecksum(&bytes[second + 8], 2048));
    EXPECT_EQ(openAndDecrypt(writeFile("restart.vtxt", bytes), plan.password).code, RESULT_CHECKSUM_FAILED);
}

TEST_F(PayloadFiles, CurrentGenerationRefusesBlocksCutShort)
{
    ContainerPlan plan = currentPlan(3, 5000, 7, 4096);
    plan.blockLengths = {1000, 4000};
    EXPECT_EQ(openAndDecrypt(writeFile("cut.vtxt", writeContainerBytes(plan)), plan.password).code,
              RESULT_CHECKSUM_FAILED);
}

TEST_F(PayloadFiles, OlderFilesRefuseBlocksLongerThanWhatRemains)
{
    ContainerPlan plan = legacyPlan(1, 512, 5000, 4096, {4096, 904});
    std::vector<std::uint8_t> bytes = writeContainerBytes(plan);
    storeLe32(&bytes[layoutOf(plan).blockOffsets[1]], 905);
    EXPECT_EQ(openAndDecrypt(writeFile("long.vtxt", bytes), plan.password).code, RESULT_CHECKSUM_FAILED);
}

// ---------------------------------------------------------------------------
// The destination

TEST_F(PayloadFiles, SmallDestinationReceivesTheFirstBytesAndTheRestIsStillChecked)
{
    const ContainerPlan plan = currentPlan(3, 5000, 7, 2048);
    std::vector<std::uint8_t> bytes = writeContainerBytes(plan);
    const std::string path = writeFile("small.vtxt", bytes);
    const OpenOutcome outcome = openAndDecrypt(path, plan.password, 10);
    ASSERT_EQ(outcome.code, RESULT_OK);
    EXPECT_EQ(outcome.text, std::vector<std::uint8_t>(plan.text.begin(), plan.text.begin() + 10));

    flipByte(&bytes, layoutOf(plan).trailerOffset - 1);
    EXPECT_EQ(openAndDecrypt(writeFile("small-damaged.vtxt", bytes), plan.password, 10).code, RESULT_CHECKSUM_FAILED);
    EXPECT_EQ(openAndDecrypt(path, u"other", 10).code, RESULT_WRONG_PASSWORD);
}

TEST_F(PayloadFiles, ShortTextIntoASmallerDestination)
{
    const ContainerPlan plan = shortPlan(20);
    const std::string path = writeFile("short.vtxt", writeContainerBytes(plan));
    SessionPtr session = makeSession();
    ASSERT_EQ(openContainer(session.get(), toUtf16(path).c_str()), RESULT_OK);
    setupKey(session.get(), plan.password.c_str());
    std::vector<std::uint8_t> destination(12, 0xEE);
    destination.resize(16, 0xEE);
    ASSERT_EQ(decryptPayload(session.get(), destination.data(), 12), RESULT_OK);
    EXPECT_TRUE(std::equal(plan.text.begin(), plan.text.begin() + 12, destination.begin()));
    EXPECT_EQ(destination[12], 0xEE) << "nothing written past the capacity";
    EXPECT_EQ(headerPlainSize(session->header), 20u);
}

// ---------------------------------------------------------------------------
// Failing reads and writes

TEST_F(PayloadFiles, EveryFailedReadGivesReadFailed)
{
    const ContainerPlan plan = currentPlan(3, 5000, 7, 2048);
    const std::string path = writeFile("reads.vtxt", writeContainerBytes(plan));
    // Three block headers and blocks, then the trailer.
    expectEachPayloadReadFails(path, plan.password, 7);
}

TEST_F(PayloadFiles, EveryFailedWriteGivesWriteFailed)
{
    // The header, three blocks with their headers, the trailer.
    expectEachPayloadWriteFails(currentPlan(3, 5000, 7, 2048), directory, 1u + 3u * 2u + 1u);
}

// ---------------------------------------------------------------------------
// Buffers and the block shuffle

TEST(AllocateBuffers, SizesAndShuffleBuffersAsAsked)
{
    SessionPtr session = makeSession();
    EXPECT_EQ(allocateBuffers(session.get(), 0, true), RESULT_OK);
    EXPECT_EQ(session->buffers.workBuffer, nullptr);
    EXPECT_EQ(session->buffers.shuffleIndex, nullptr);
    EXPECT_EQ(allocateBuffers(session.get(), 100, false), RESULT_OK);
    EXPECT_EQ(session->buffers.bufferSize, 100u);
    EXPECT_NE(session->buffers.workBuffer, nullptr);
    EXPECT_EQ(session->buffers.shuffleBuffer, nullptr);
    EXPECT_EQ(session->buffers.shuffleIndex, nullptr);
    // Asking again replaces the buffers; the old ones are released, not leaked.
    EXPECT_EQ(allocateBuffers(session.get(), 300, true), RESULT_OK);
    EXPECT_EQ(session->buffers.bufferSize, 300u);
    EXPECT_NE(session->buffers.shuffleBuffer, nullptr);
    EXPECT_NE(session->buffers.shuffleIndex, nullptr);
    releaseBuffers(session.get());
    EXPECT_EQ(session->buffers.workBuffer, nullptr);
    EXPECT_EQ(session->buffers.bufferSize, 0u);
    releaseBuffers(session.get());
}

struct ShuffleCase {
    std::uint16_t scheme;
    std::uint32_t n;
    std::uint32_t level;
};

void PrintTo(const ShuffleCase& c, std::ostream* out)
{
    *out << "scheme " << c.scheme << ", n " << c.n << ", level " << c.level;
}

class BuildShuffle : public ::testing::TestWithParam<ShuffleCase> {};

TEST_P(BuildShuffle, DrawsAPermutationAndAdvancesTheGeneratorByItsSteps)
{
    const ShuffleCase c = GetParam();
    SessionPtr session = makeSession();
    session->header.cipherScheme = c.scheme;
    session->header.shuffleLevel = c.level;
    session->header.mixRounds = 5000;
    session->header.scheduleRounds = 300;
    session->header.stirRounds = 5000;
    setupKey(session.get(), u"shuffle");
    ASSERT_EQ(allocateBuffers(session.get(), c.n, true), RESULT_OK);

    CipherState expected = session->cipher;
    const std::uint64_t steps = c.scheme == 0 ? c.n : std::uint64_t{c.n} * c.level;
    for (std::uint64_t k = 0; k < steps; ++k) {
        keystreamStep(expected.shuffleTable, &expected.shuffleI, &expected.shuffleJ, expected.tableMask);
    }
    buildShuffle(session.get(), c.n);
    EXPECT_EQ(std::memcmp(&expected, &session->cipher, sizeof expected), 0) << "generator steps taken";

    std::vector<std::uint32_t> index(session->buffers.shuffleIndex, session->buffers.shuffleIndex + c.n);
    std::vector<std::uint32_t> sorted = index;
    std::sort(sorted.begin(), sorted.end());
    for (std::uint32_t k = 0; k < c.n; ++k) {
        ASSERT_EQ(sorted[k], k);
    }
    if (c.n > 300) {
        std::size_t moved = 0;
        for (std::uint32_t k = 0; k < c.n; ++k) {
            moved += index[k] != k ? 1 : 0;
        }
        if (c.scheme != 0) {
            EXPECT_GT(moved, c.n / 2);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BuildShuffle,
                         ::testing::Values(ShuffleCase{0, 1, 7}, ShuffleCase{0, 2, 7}, ShuffleCase{0, 255, 3},
                                           ShuffleCase{0, 1000, 12}, ShuffleCase{1, 1, 7}, ShuffleCase{1, 256, 7},
                                           ShuffleCase{2, 1000, 2}, ShuffleCase{3, 1023, 1}, ShuffleCase{3, 1025, 4},
                                           ShuffleCase{3, 5000, 7}));

TEST(BuildShuffle, SchemeZeroSwapTargetsStayBelow256)
{
    SessionPtr session = makeSession();
    session->header.cipherScheme = 0;
    session->header.shuffleLevel = 5;
    session->header.mixRounds = 5000;
    session->header.scheduleRounds = 300;
    session->header.stirRounds = 5000;
    setupKey(session.get(), u"shuffle");
    const std::uint32_t n = 4000;
    ASSERT_EQ(allocateBuffers(session.get(), n, true), RESULT_OK);
    buildShuffle(session.get(), n);
    // The swap list is left in shuffleBuffer; its targets come from the low
    // 8 bits of a 256-entry generator.
    std::set<std::uint32_t> targets(session->buffers.shuffleBuffer, session->buffers.shuffleBuffer + n);
    EXPECT_LE(*targets.rbegin(), 255u);
}

}  // namespace
