#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/container_session.h"
#include "platform/fault_injection.h"
#include "support/test_support.h"

namespace {

class ContainerSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetFaults();
        directory = makeTempDir("session");
        session.reset(new ContainerSession);
        initSession(session.get());
    }
    void TearDown() override
    {
        teardownSession(session.get());
        resetFaults();
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::u8path(directory), ignored);
    }
    std::string pathOf(const std::string& name) const
    {
        return joinPath(directory, name);
    }

    // Saves text at path with the given password; returns the code.
    ResultCode save(const std::vector<std::uint8_t>& text, const std::string& path, const char16_t* password = u"pw",
                    std::uint32_t shuffleLevel = 7, const char16_t* hint = u"hint")
    {
        return saveContainer(session.get(), text.empty() ? nullptr : text.data(), text.size(), toUtf16(path).c_str(),
                             password, hint, shuffleLevel);
    }

    // Opens, keys and deciphers the container at path; the text on success.
    ResultCode load(const std::string& path, const char16_t* password, std::vector<std::uint8_t>* text)
    {
        teardownSession(session.get());
        if (openContainer(session.get(), toUtf16(path).c_str()) != RESULT_OK) {
            return session->result;
        }
        text->assign(static_cast<std::size_t>(headerPlainSize(session->header)), 0);
        if (setupKey(session.get(), password) != RESULT_OK ||
            decryptPayload(session.get(), text->data(), text->size()) != RESULT_OK) {
            teardownSession(session.get());
            return session->result;
        }
        text->resize(static_cast<std::size_t>(headerPlainSize(session->header)));
        teardownSession(session.get());
        return RESULT_OK;
    }

    std::string directory;
    std::unique_ptr<ContainerSession> session;
};

std::vector<std::uint8_t> sampleText(std::size_t size)
{
    std::vector<std::uint8_t> text(size);
    std::uint32_t v = 12345;
    for (std::size_t i = 0; i < size; ++i) {
        v = v * 1103515245u + 12345u;
        text[i] = static_cast<std::uint8_t>(' ' + (v >> 16) % 90);
    }
    return text;
}

// ---- openContainer ----------------------------------------------------------

TEST_F(ContainerSessionTest, OpenRefusesMissingFileAndNoPath)
{
    EXPECT_EQ(openContainer(session.get(), toUtf16(pathOf("missing.vtxt")).c_str()), RESULT_OPEN_FAILED);
    EXPECT_EQ(session->result, RESULT_OPEN_FAILED);
    EXPECT_EQ(session->sourceFile, INVALID_FILE);
    EXPECT_EQ(openContainer(session.get(), nullptr), RESULT_OPEN_FAILED);
}

struct ShortFileCase {
    const char* what;
    std::vector<std::uint8_t> bytes;
    ResultCode expected;
};

class OpenShortFileTable : public ContainerSessionTest, public ::testing::WithParamInterface<ShortFileCase> {};

TEST_P(OpenShortFileTable, GivesCode)
{
    const std::string path = pathOf("short.vtxt");
    writeBytes(path, GetParam().bytes);
    EXPECT_EQ(openContainer(session.get(), toUtf16(path).c_str()), GetParam().expected) << GetParam().what;
}

std::vector<std::uint8_t> generationTwoStart(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size, 0);
    const std::uint8_t magic[4] = {0x58, 0x5A, 0x4B, 0x02};
    std::copy(magic, magic + std::min<std::size_t>(4, size), bytes.begin());
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, OpenShortFileTable,
    ::testing::Values(ShortFileCase{"empty", {}, RESULT_BAD_FORMAT},
                      ShortFileCase{"one byte", {0x58}, RESULT_BAD_FORMAT},
                      ShortFileCase{"magic only", generationTwoStart(4), RESULT_BAD_FORMAT},
                      ShortFileCase{"generation 2 of 1023 bytes", generationTwoStart(1023), RESULT_BAD_FORMAT},
                      // Whole but all zero after the magic: the checksum fails.
                      ShortFileCase{"generation 2 of 1024 zero bytes", generationTwoStart(1024),
                                    RESULT_CHECKSUM_FAILED},
                      ShortFileCase{"text file", std::vector<std::uint8_t>(2000, 'a'), RESULT_BAD_FORMAT}));

TEST_F(ContainerSessionTest, OpenRefusesWhileSourceIsOpen)
{
    const std::string path = pathOf("doc.vtxt");
    ASSERT_EQ(save(sampleText(100), path), RESULT_OK);
    ASSERT_EQ(openContainer(session.get(), toUtf16(path).c_str()), RESULT_OK);
    const FileHandle first = session->sourceFile;
    const ContainerHeader header = session->header;
    const std::string other = pathOf("other.vtxt");
    writeBytes(other, {0x58});
    EXPECT_EQ(openContainer(session.get(), toUtf16(other).c_str()), RESULT_OPEN_FAILED);
    // The open file and its header are untouched, still at the first payload byte.
    EXPECT_EQ(session->sourceFile, first);
    EXPECT_EQ(0, std::memcmp(&session->header, &header, sizeof header));
    std::vector<std::uint8_t> text(100);
    session->result = RESULT_OK;
    ASSERT_EQ(setupKey(session.get(), u"pw"), RESULT_OK);
    EXPECT_EQ(decryptPayload(session.get(), text.data(), text.size()), RESULT_OK);
    EXPECT_EQ(text, sampleText(100));
}

TEST_F(ContainerSessionTest, OpenReportsFailedFirstRead)
{
    const std::string path = pathOf("doc.vtxt");
    ASSERT_EQ(save(sampleText(100), path), RESULT_OK);
    armFault(FAULT_READ, 1, false);
    EXPECT_EQ(openContainer(session.get(), toUtf16(path).c_str()), RESULT_READ_FAILED);
}

// ---- teardownSession --------------------------------------------------------

TEST_F(ContainerSessionTest, TeardownTwiceKeepsHeaderAndClosesFiles)
{
    const std::string path = pathOf("doc.vtxt");
    ASSERT_EQ(save(sampleText(5000), path), RESULT_OK);
    ASSERT_EQ(openContainer(session.get(), toUtf16(path).c_str()), RESULT_OK);
    ASSERT_EQ(setupKey(session.get(), u"pw"), RESULT_OK);
    ASSERT_EQ(allocateBuffers(session.get(), session->header.blockSize, true), RESULT_OK);
    session->cipher.plainSum = 0xABCD1234;
    std::memset(session->shortBlock, 0x77, sizeof session->shortBlock);
    const ContainerHeader header = session->header;

    teardownSession(session.get());
    teardownSession(session.get());

    EXPECT_EQ(session->sourceFile, INVALID_FILE);
    EXPECT_EQ(session->targetFile, INVALID_FILE);
    EXPECT_EQ(session->buffers.workBuffer, nullptr);
    EXPECT_EQ(session->buffers.shuffleBuffer, nullptr);
    EXPECT_EQ(session->buffers.shuffleIndex, nullptr);
    EXPECT_EQ(session->buffers.bufferSize, 0u);
    EXPECT_EQ(session->cipher.plainSum, 0xABCD1234u);
    EXPECT_EQ(session->cipher.tableMask, 0u);
    EXPECT_TRUE(std::all_of(std::begin(session->cipher.keyTable), std::end(session->cipher.keyTable),
                            [](std::uint32_t v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(std::begin(session->cipher.shuffleTable), std::end(session->cipher.shuffleTable),
                            [](std::uint32_t v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(std::begin(session->shortBlock), std::end(session->shortBlock),
                            [](std::uint8_t v) { return v == 0; }));
    EXPECT_EQ(0, std::memcmp(&session->header, &header, sizeof header));
    EXPECT_EQ(session->header.plainSizeLow, 5000u);
    EXPECT_EQ(session->generation, 2u);
    // The file was really closed: it can be replaced and deleted.
    EXPECT_TRUE(deleteFile(toUtf16(path).c_str()));
}

// ---- saveContainer ----------------------------------------------------------

TEST_F(ContainerSessionTest, SavedTextOpensAgain)
{
    // Pinned values make every save, and so the refused password below, the
    // same on every run: the only password check is a 32-bit sum of the text.
    pinSystemSample(1210);
    struct Unpin {
        ~Unpin()
        {
            resetFaults();
        }
    } unpin;
    for (std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{31}, std::size_t{32}, std::size_t{4099}}) {
        const std::string path = pathOf("doc.vtxt");
        const std::vector<std::uint8_t> text = sampleText(size);
        ASSERT_EQ(save(text, path, u"secret \u00E9"), RESULT_OK) << size;
        EXPECT_EQ(session->header.plainSizeLow, size < 32 ? 32u : size);
        EXPECT_EQ(session->targetFile, INVALID_FILE);
        EXPECT_EQ(session->buffers.workBuffer, nullptr);
        std::vector<std::uint8_t> back;
        ASSERT_EQ(load(path, u"secret \u00E9", &back), RESULT_OK) << size;
        EXPECT_EQ(back, text) << size;
        EXPECT_EQ(std::u16string(session->header.hint), u"hint");
        EXPECT_EQ(load(path, u"secret", &back), RESULT_WRONG_PASSWORD) << size;
        EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"doc.vtxt"});
    }
}

TEST_F(ContainerSessionTest, SaveFillsHeaderOfCurrentWriter)
{
    const std::string path = pathOf("doc.vtxt");
    const std::uint64_t before = systemTimeAsFileTime();
    ASSERT_EQ(save(sampleText(3000), path, u"pw", 99, nullptr), RESULT_OK);
    const std::uint64_t after = systemTimeAsFileTime();
    std::vector<std::uint8_t> back;
    ASSERT_EQ(load(path, u"pw", &back), RESULT_OK);
    const ContainerHeader& header = session->header;
    EXPECT_EQ(header.signature, HEADER_SIGNATURE);
    EXPECT_EQ(header.cipherScheme, 3);
    EXPECT_EQ(header.flags, HEADER_FLAG_BASE);
    EXPECT_EQ(header.shuffleLevel, 99u);
    EXPECT_EQ(header.blockSize, 3000u);
    EXPECT_EQ(header.hint[0], 0);
    const std::uint64_t saved = (std::uint64_t{header.savedTimeHigh} << 32) | header.savedTimeLow;
    EXPECT_GE(saved, before);
    EXPECT_LE(saved, after);
    EXPECT_GE(header.mixRounds, 16384u);
    EXPECT_LE(header.mixRounds, 49151u);
}

TEST_F(ContainerSessionTest, SaveRefusesBadArguments)
{
    const std::string path = pathOf("doc.vtxt");
    EXPECT_EQ(saveContainer(session.get(), nullptr, 5, toUtf16(path).c_str(), u"pw", nullptr, 7),
              RESULT_INVALID_ARGUMENT);
    EXPECT_EQ(session->result, RESULT_INVALID_ARGUMENT);
    const std::uint8_t byte = 'x';
    EXPECT_EQ(saveContainer(session.get(), &byte, 1, nullptr, u"pw", nullptr, 7), RESULT_SAVE_FAILED);
    // A size the header cannot hold is refused before anything is read or written.
    EXPECT_EQ(saveContainer(session.get(), &byte, 0x100000000ull, toUtf16(path).c_str(), u"pw", nullptr, 7),
              RESULT_LIMIT_EXCEEDED);
    EXPECT_TRUE(listDirectory(directory).empty());
}

TEST_F(ContainerSessionTest, SaveIntoMissingDirectoryFails)
{
    const std::string path = joinPath(pathOf("absent"), "doc.vtxt");
    EXPECT_EQ(save(sampleText(100), path), RESULT_SAVE_FAILED);
    EXPECT_TRUE(listDirectory(directory).empty());
    EXPECT_EQ(session->targetFile, INVALID_FILE);
}

TEST_F(ContainerSessionTest, SaveOverDirectoryFailsAndRemovesTemporaryFile)
{
    const std::string path = pathOf("taken");
    std::filesystem::create_directory(std::filesystem::u8path(path));
    writeBytes(joinPath(path, "inside.txt"), {1, 2, 3});
    EXPECT_EQ(save(sampleText(100), path), RESULT_SAVE_FAILED);
    EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"taken"});
    EXPECT_EQ(readBytes(joinPath(path, "inside.txt")), (std::vector<std::uint8_t>{1, 2, 3}));
}

// ---- the free-space check ---------------------------------------------------

struct FreeSpaceCase {
    std::size_t textLength;
    std::uint64_t freeBytes;
    ResultCode expected;
};

class SaveFreeSpaceTable : public ContainerSessionTest, public ::testing::WithParamInterface<FreeSpaceCase> {};

TEST_P(SaveFreeSpaceTable, NeedsTextSizeAndOneMebibyte)
{
    const std::string path = pathOf("doc.vtxt");
    writeBytes(path, {'o', 'l', 'd'});
    injectFreeSpace(GetParam().freeBytes);
    EXPECT_EQ(save(sampleText(GetParam().textLength), path), GetParam().expected);
    // The check runs on the target's directory, separator included.
    const std::string directoryWithSeparator = joinPath(directory, "");
    EXPECT_EQ(std::u16string(lastFreeSpaceDirectory()), toUtf16(directoryWithSeparator));
    if (GetParam().expected != RESULT_OK) {
        EXPECT_EQ(readBytes(path), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"doc.vtxt"});
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SaveFreeSpaceTable,
                         ::testing::Values(
                             // A 20-byte text is stored as 32 bytes.
                             FreeSpaceCase{20, 32 + 1048576, RESULT_OK},
                             FreeSpaceCase{20, 32 + 1048575, RESULT_DISK_FULL},
                             FreeSpaceCase{5000, 5000 + 1048576, RESULT_OK},
                             FreeSpaceCase{5000, 5000 + 1048575, RESULT_DISK_FULL},
                             // Less than the text itself must not wrap round into plenty.
                             FreeSpaceCase{5000, 4999, RESULT_DISK_FULL}, FreeSpaceCase{5000, 0, RESULT_DISK_FULL},
                             FreeSpaceCase{5000, 0xFFFFFFFFFFFFFFFFull, RESULT_OK}));

TEST_F(ContainerSessionTest, FailedFreeSpaceQueryDoesNotStopSave)
{
    const std::string path = pathOf("doc.vtxt");
    injectFreeSpaceQueryFailure();
    EXPECT_EQ(save(sampleText(100), path), RESULT_OK);
    std::vector<std::uint8_t> back;
    EXPECT_EQ(load(path, u"pw", &back), RESULT_OK);
}

TEST_F(ContainerSessionTest, BareFileNameQueriesEmptyDirectory)
{
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::u8path(directory));
    injectFreeSpace(1);
    const ResultCode code = save(sampleText(100), "doc.vtxt");
    const std::u16string queried = lastFreeSpaceDirectory();
    resetFaults();
    const ResultCode saved = save(sampleText(100), "doc.vtxt");
    std::filesystem::current_path(previous);
    EXPECT_EQ(code, RESULT_DISK_FULL);
    EXPECT_EQ(queried, u"");
    EXPECT_EQ(saved, RESULT_OK);
    EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"doc.vtxt"});
}

TEST_F(ContainerSessionTest, DirectoryIsTakenFromFirst259Characters)
{
    // Separators beyond the 259th character do not count.
    std::u16string path = toUtf16(joinPath(directory, ""));
    const std::u16string directoryPart = path;
    while (path.size() < 300) {
        path += u"d";
    }
    path += u"/x/doc.vtxt";
    injectFreeSpace(0);
    EXPECT_EQ(saveContainer(session.get(), nullptr, 0, path.c_str(), u"pw", nullptr, 7), RESULT_DISK_FULL);
    EXPECT_EQ(std::u16string(lastFreeSpaceDirectory()), directoryPart);
}

// ---- crash-safe saving ------------------------------------------------------

// A save over an existing document, failed at each I/O call in turn.
class CrashSafeSave : public ContainerSessionTest {
protected:
    void SetUp() override
    {
        ContainerSessionTest::SetUp();
        target = pathOf("notes.vtxt");
        // Several blocks, and a shuffle level low enough to keep each save quick.
        newText = sampleText(3 * 1048576 + 17);
        ASSERT_EQ(save(sampleText(777), target), RESULT_OK);
        oldFile = readBytes(target);
    }

    // What the failed call should make of the save.
    static ResultCode expectedCode(std::uint32_t call)
    {
        switch (call) {
            case FAULT_CREATE:
            case FAULT_REPLACE:
                return RESULT_SAVE_FAILED;
            default:
                return RESULT_WRITE_FAILED;
        }
    }

    void expectOldFileIntact(const std::string& context)
    {
        EXPECT_EQ(readBytes(target), oldFile) << context;
        EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"notes.vtxt"}) << context;
        EXPECT_EQ(session->targetFile, INVALID_FILE) << context;
        EXPECT_EQ(session->buffers.workBuffer, nullptr) << context;
    }

    std::string target;
    std::vector<std::uint8_t> newText;
    std::vector<std::uint8_t> oldFile;
};

TEST_F(CrashSafeSave, FailureAtEveryCallKeepsOldFile)
{
    resetFaults();
    ASSERT_EQ(save(newText, target, u"new", 1), RESULT_OK);
    const std::uint64_t calls = ioCallCount(FAULT_ALL_IO);
    ASSERT_GE(session->header.plainSizeLow / session->header.blockSize, 3u);
    // create, header, a header and a body per block, trailer, flush, close,
    // the read-back (open, reads, close), replace
    ASSERT_GE(ioCallCount(FAULT_WRITE), 2u + 2u * 3u);
    EXPECT_EQ(ioCallCount(FAULT_CREATE | FAULT_FLUSH | FAULT_CLOSE | FAULT_REPLACE), 5u);
    EXPECT_EQ(ioCallCount(FAULT_OPEN), 1u);
    EXPECT_GE(ioCallCount(FAULT_READ), 2u + 2u * 3u);

    ASSERT_EQ(save(sampleText(777), target), RESULT_OK);
    oldFile = readBytes(target);
    for (std::uint64_t k = 1; k <= calls; ++k) {
        resetFaults();
        armFault(FAULT_ALL_IO, k, false);
        const ResultCode code = save(newText, target, u"new", 1);
        const std::uint32_t failed = lastInjectedCall();
        const std::string context = "call " + std::to_string(k) + " of kind " + std::to_string(failed);
        ASSERT_EQ(injectedFailureCount(), 1u) << context;
        EXPECT_EQ(code, expectedCode(failed)) << context;
        EXPECT_EQ(session->result, code) << context;
        expectOldFileIntact(context);
    }
    // And with nothing failing the new text replaces the old.
    resetFaults();
    ASSERT_EQ(save(newText, target, u"new", 1), RESULT_OK);
    std::vector<std::uint8_t> back;
    ASSERT_EQ(load(target, u"new", &back), RESULT_OK);
    EXPECT_TRUE(back == newText);
    EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"notes.vtxt"});
}

struct PersistentFaultCase {
    FaultCall call;
    ResultCode expected;
};

class CrashSafeSaveByKind : public CrashSafeSave, public ::testing::WithParamInterface<PersistentFaultCase> {};

TEST_P(CrashSafeSaveByKind, EveryCallOfOneKindFailing)
{
    armFault(GetParam().call, 1, true);
    EXPECT_EQ(save(newText, target, u"new", 1), GetParam().expected);
    EXPECT_GE(injectedFailureCount(), 1u);
    expectOldFileIntact("kind " + std::to_string(GetParam().call));
    // The old file still opens with its own password.
    resetFaults();
    std::vector<std::uint8_t> back;
    ASSERT_EQ(load(target, u"pw", &back), RESULT_OK);
    EXPECT_EQ(back, sampleText(777));
}

INSTANTIATE_TEST_SUITE_P(Kinds, CrashSafeSaveByKind,
                         ::testing::Values(PersistentFaultCase{FAULT_CREATE, RESULT_SAVE_FAILED},
                                           PersistentFaultCase{FAULT_WRITE, RESULT_WRITE_FAILED},
                                           PersistentFaultCase{FAULT_FLUSH, RESULT_WRITE_FAILED},
                                           PersistentFaultCase{FAULT_CLOSE, RESULT_WRITE_FAILED},
                                           PersistentFaultCase{FAULT_REPLACE, RESULT_SAVE_FAILED}));

TEST_F(CrashSafeSave, FailedFirstSaveLeavesNoFile)
{
    const std::string fresh = pathOf("fresh.vtxt");
    for (FaultCall call : {FAULT_CREATE, FAULT_WRITE, FAULT_FLUSH, FAULT_CLOSE, FAULT_REPLACE}) {
        resetFaults();
        armFault(call, 1, false);
        EXPECT_NE(save(sampleText(5000), fresh), RESULT_OK) << call;
        EXPECT_FALSE(fileExists(fresh)) << call;
        EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"notes.vtxt"}) << call;
    }
}

TEST_F(CrashSafeSave, LastWriteFailingKeepsOldFile)
{
    // The trailer is the last write; failing it leaves a file that lacks only
    // 16 bytes, which must never take the target's place.
    resetFaults();
    ASSERT_EQ(save(newText, pathOf("probe.vtxt"), u"new", 1), RESULT_OK);
    const std::uint64_t writes = ioCallCount(FAULT_WRITE);
    deleteFile(toUtf16(pathOf("probe.vtxt")).c_str());
    resetFaults();
    armFault(FAULT_WRITE, writes, false);
    EXPECT_EQ(save(newText, target, u"new", 1), RESULT_WRITE_FAILED);
    expectOldFileIntact("trailer");
}

}  // namespace
