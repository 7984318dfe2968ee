// The save reads its temporary file back and deciphers it before the file
// takes the document's name: a file that does not hold exactly the saved text
// never replaces the old document.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cipher/entropy.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes sampleText(std::size_t n, std::uint8_t salt = 0)
{
    Bytes text(n);
    for (std::size_t k = 0; k < n; ++k) {
        text[k] = static_cast<std::uint8_t>('a' + (k * 7 + salt) % 26);
    }
    return text;
}

class VerifiedSave : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetFaults();
        initSession(session.get());
    }
    void TearDown() override
    {
        resetFaults();
    }

    ResultCode save(const Bytes& text, const std::string& path, const char16_t* password = u"pw")
    {
        const std::u16string wide = toUtf16(path);
        return saveContainer(session.get(), text.empty() ? nullptr : text.data(), text.size(), wide.c_str(), password,
                             u"hint", 3);
    }

    bool verify(const std::string& path, const Bytes& text, const char16_t* password = u"pw")
    {
        const std::u16string wide = toUtf16(path);
        return verifySavedContainer(wide.c_str(), text.empty() ? nullptr : text.data(), text.size(), password);
    }

    std::unique_ptr<ContainerSession> session = std::make_unique<ContainerSession>();
    std::string directory = makeTempDir("verified-save");
    std::string target = joinPath(directory, "notes.vtxt");
};

// What a file must hold for the read-back to accept it: a table of files that
// were changed after writing, or texts it is compared with.
struct ReadBackCase {
    const char* name;
    std::size_t textLength;
    // Changes the written file or the text it is compared with.
    void (*alter)(Bytes* file, Bytes* text);
    const char16_t* password;
    bool accepted;
};

const ReadBackCase READ_BACK_CASES[] = {
    {"IntactMultiBlock", 3 * 1048576 + 5, [](Bytes*, Bytes*) {}, u"pw", true},
    {"IntactShort", 7, [](Bytes*, Bytes*) {}, u"pw", true},
    {"IntactEmpty", 0, [](Bytes*, Bytes*) {}, u"pw", true},
    {"WrongPassword", 5000, [](Bytes*, Bytes*) {}, u"other", false},
    {"CiphertextByteChanged", 5000, [](Bytes* file, Bytes*) { (*file)[1024 + 8 + 100] ^= 0x10; }, u"pw", false},
    {"HeaderByteChanged", 5000, [](Bytes* file, Bytes*) { (*file)[200] ^= 0x01; }, u"pw", false},
    {"TrailerCut", 5000, [](Bytes* file, Bytes*) { file->resize(file->size() - 12); }, u"pw", false},
    {"LastBlockCut", 3 * 1048576 + 5, [](Bytes* file, Bytes*) { file->resize(file->size() - 16 - 3); }, u"pw", false},
    {"TextOneByteLonger", 5000, [](Bytes*, Bytes* text) { text->push_back('x'); }, u"pw", false},
    {"TextOneByteShorter", 5000, [](Bytes*, Bytes* text) { text->pop_back(); }, u"pw", false},
    {"TextWithOtherSum", 5000, [](Bytes*, Bytes* text) { (*text)[4321] ^= 0x01; }, u"pw", false},
    {"ShortTextWithOtherSum", 9, [](Bytes*, Bytes* text) { (*text)[0] ^= 0x04; }, u"pw", false},
    {"ShortTextOneByteLonger", 9, [](Bytes*, Bytes* text) { text->push_back('x'); }, u"pw", false},
};

class ReadBack : public VerifiedSave, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(ReadBack, AcceptsOnlyTheSavedText)
{
    const ReadBackCase& c = GetParam();
    pinSystemSample(4242);  // a save that every run sees alike, for the other password too
    Bytes text = sampleText(c.textLength);
    ASSERT_EQ(save(text, target), RESULT_OK);
    Bytes file = readBytes(target);
    c.alter(&file, &text);
    const std::string altered = joinPath(directory, "altered.vtxt");
    writeBytes(altered, file);
    EXPECT_EQ(verify(altered, text, c.password), c.accepted);
}

std::string readBackName(const ::testing::TestParamInfo<ReadBackCase>& param)
{
    return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(Files, ReadBack, ::testing::ValuesIn(READ_BACK_CASES), readBackName);

TEST_F(VerifiedSave, MissingFileIsNotAccepted)
{
    EXPECT_FALSE(verify(joinPath(directory, "absent.vtxt"), sampleText(40)));
}

// Every call of the check failing, and damage that no call reports: a bit
// changed in what reached the file, in what the check read, or two bytes of
// text swapped by the writer's transform (a fault that leaves every checksum
// and the plaintext sum as they should be). Each is made at every call of its
// kind in turn, with the check beside the writer and after it: the save must
// report a failed write, the old document stay byte for byte, and nothing of
// the save remain.
struct SaveFault {
    const char* name;
    FaultCall kind;
    std::uint64_t fewestCalls;  // in a save of two blocks
};

struct SaveFaultParam {
    SaveFault fault;
    unsigned threads;
};

void PrintTo(const SaveFaultParam& p, std::ostream* out)
{
    *out << p.fault.name << " on " << p.threads << " thread(s)";
}

class CheckedSave : public VerifiedSave, public ::testing::WithParamInterface<SaveFaultParam> {
protected:
    void SetUp() override
    {
        VerifiedSave::SetUp();
        setPayloadThreads(GetParam().threads);
    }
    void TearDown() override
    {
        setPayloadThreads(0);
        VerifiedSave::TearDown();
    }
};

TEST_P(CheckedSave, EveryFaultyCallFailsTheSaveAndKeepsTheOldDocument)
{
    const FaultCall kind = GetParam().fault.kind;
    const Bytes oldText = sampleText(2500, 3);
    ASSERT_EQ(save(oldText, target), RESULT_OK);
    const Bytes oldFile = readBytes(target);
    // Two blocks, each long enough for the two-thread transform.
    const Bytes newText = sampleText(2 * 1048576 + 77, 9);

    resetFaults();
    ASSERT_EQ(save(newText, target), RESULT_OK);
    const std::uint64_t calls = ioCallCount(kind);
    ASSERT_GE(calls, GetParam().fault.fewestCalls) << "the save does not read its file back";
    writeBytes(target, oldFile);

    for (std::uint64_t k = 1; k <= calls; ++k) {
        resetFaults();
        armFault(kind, k, false);
        const std::string context = std::string(GetParam().fault.name) + " at call " + std::to_string(k);
        EXPECT_EQ(save(newText, target), RESULT_WRITE_FAILED) << context;
        EXPECT_EQ(injectedFailureCount(), 1u) << context;
        EXPECT_EQ(readBytes(target), oldFile) << context;
        EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"notes.vtxt"}) << context;
        EXPECT_EQ(session->targetFile, INVALID_FILE) << context;
        EXPECT_EQ(session->sourceFile, INVALID_FILE) << context;
        EXPECT_EQ(session->buffers.workBuffer, nullptr) << context;
    }
    resetFaults();
    EXPECT_TRUE(verify(target, oldText));
}

const SaveFault SAVE_FAULTS[] = {
    {"CheckersFailedOpen", FAULT_OPEN, 1},
    {"CheckersFailedRead", FAULT_READ, 6},
    {"WrittenBytes", FAULT_CORRUPT_WRITE, 6},
    {"CheckersRead", FAULT_CORRUPT_READ, 6},
    {"WritersTransform", FAULT_CORRUPT_TRANSFORM, 2},
};

std::vector<SaveFaultParam> saveFaultsOnOneAndTwoThreads()
{
    std::vector<SaveFaultParam> params;
    for (const unsigned threads : {1u, 2u}) {
        for (const SaveFault& fault : SAVE_FAULTS) {
            params.push_back({fault, threads});
        }
    }
    return params;
}

INSTANTIATE_TEST_SUITE_P(EveryCall, CheckedSave, ::testing::ValuesIn(saveFaultsOnOneAndTwoThreads()),
                         [](const ::testing::TestParamInfo<SaveFaultParam>& tested) {
                             return std::string(tested.param.fault.name) + "Threads" +
                                    std::to_string(tested.param.threads);
                         });

// The two-thread transform (the caller draws each block's permutation, a
// helper enciphers, gathers, checksums and writes) with two bytes of a
// block's text swapped: the file is self-consistent, its sum is right, and
// only the read-back's comparison with the text can tell.
TEST_F(VerifiedSave, ReadBackCatchesASwapInTheTwoThreadTransform)
{
    setPayloadThreads(2);
    const Bytes text = sampleText(2 * PARALLEL_BLOCK_MIN + 999, 5);
    const std::u16string path = toUtf16(joinPath(directory, "two-threads.vtxt"));
    for (std::uint64_t block = 1; block <= 3; ++block) {
        deleteFile(path.c_str());
        initSession(session.get());
        initHeaderForSave(session.get(), text.size(), nullptr, 7, 0);
        session->header.blockSize = PARALLEL_BLOCK_MIN;
        generateParameters(session.get());
        setupKey(session.get(), u"pw");
        session->targetFile = createNewFile(path.c_str());
        resetFaults();
        armFault(FAULT_CORRUPT_TRANSFORM, block, false);
        EXPECT_EQ(encryptPayload(session.get(), text.data()), RESULT_OK);
        EXPECT_EQ(injectedFailureCount(), 1u);
        teardownSession(session.get());
        resetFaults();
        EXPECT_FALSE(verifySavedContainer(path.c_str(), text.data(), text.size(), u"pw")) << "block " << block;
    }
    setPayloadThreads(0);
}

// The close of the read-back is the last call before the replacement; a
// failure there keeps the old document too.
TEST_F(VerifiedSave, FailedCloseOfTheReadBackKeepsTheOldDocument)
{
    ASSERT_EQ(save(sampleText(100, 1), target), RESULT_OK);
    const Bytes oldFile = readBytes(target);
    resetFaults();
    ASSERT_EQ(save(sampleText(100, 1), target), RESULT_OK);
    const std::uint64_t closes = ioCallCount(FAULT_CLOSE);
    ASSERT_EQ(closes, 2u);  // the written file, then the read-back
    writeBytes(target, oldFile);

    resetFaults();
    armFault(FAULT_CLOSE, closes, false);
    EXPECT_EQ(save(sampleText(300, 2), target), RESULT_WRITE_FAILED);
    EXPECT_EQ(readBytes(target), oldFile);
    EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"notes.vtxt"});
}

// A verified save leaves the header of what it wrote in the session, as an
// unverified one did: the save job reads plainSize from it afterwards.
TEST_F(VerifiedSave, SessionKeepsTheHeaderItWrote)
{
    const Bytes text = sampleText(123457);
    ASSERT_EQ(save(text, target), RESULT_OK);
    EXPECT_EQ(headerPlainSize(session->header), text.size());
    EXPECT_EQ(session->sourceFile, INVALID_FILE);
    EXPECT_EQ(session->targetFile, INVALID_FILE);
    EXPECT_TRUE(verify(target, text));
}

}  // namespace
