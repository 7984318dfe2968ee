#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

class FaultInjection : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetFaults();
        directory = makeTempDir("faults");
        path = toUtf16(joinPath(directory, "file.bin"));
    }
    void TearDown() override
    {
        resetFaults();
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::u8path(directory), ignored);
    }

    // Writes `count` one-byte pieces and tells which of them succeeded.
    std::vector<bool> writePieces(int count)
    {
        const FileHandle file = createNewFile(path.c_str());
        EXPECT_NE(file, INVALID_FILE);
        std::vector<bool> outcomes;
        for (int i = 0; i < count; ++i) {
            const std::uint8_t byte = static_cast<std::uint8_t>(i);
            std::uint32_t written = 0;
            outcomes.push_back(writeFile(file, &byte, 1, &written));
            if (!outcomes.back()) {
                EXPECT_EQ(written, 0u);
            }
        }
        closeFile(file);
        return outcomes;
    }

    std::string directory;
    std::u16string path;
};

TEST_F(FaultInjection, FailsOnlyTheChosenCallOnce)
{
    armFault(FAULT_WRITE, 3, false);
    EXPECT_EQ(writePieces(5), (std::vector<bool>{true, true, false, true, true}));
    EXPECT_EQ(injectedFailureCount(), 1u);
    // The failed call wrote nothing.
    EXPECT_EQ(readBytes(joinPath(directory, "file.bin")), (std::vector<std::uint8_t>{0, 1, 3, 4}));
}

TEST_F(FaultInjection, PersistentFaultFailsEveryLaterCall)
{
    armFault(FAULT_WRITE, 2, true);
    EXPECT_EQ(writePieces(4), (std::vector<bool>{true, false, false, false}));
    EXPECT_EQ(injectedFailureCount(), 3u);
}

TEST_F(FaultInjection, CountsCallsByKind)
{
    const FileHandle file = createNewFile(path.c_str());
    ASSERT_NE(file, INVALID_FILE);
    std::uint32_t written = 0;
    const std::uint8_t bytes[2] = {1, 2};
    writeFile(file, bytes, 2, &written);
    writeFile(file, bytes, 1, &written);
    flushFile(file);
    closeFile(file);
    EXPECT_EQ(ioCallCount(FAULT_CREATE), 1u);
    EXPECT_EQ(ioCallCount(FAULT_WRITE), 2u);
    EXPECT_EQ(ioCallCount(FAULT_FLUSH | FAULT_CLOSE), 2u);
    EXPECT_EQ(ioCallCount(FAULT_ALL_IO), 5u);
    EXPECT_EQ(ioCallCount(FAULT_READ), 0u);
    EXPECT_EQ(injectedFailureCount(), 0u);
    resetFaults();
    EXPECT_EQ(ioCallCount(FAULT_ALL_IO), 0u);
}

TEST_F(FaultInjection, CountsAcrossKindsInTheMask)
{
    // The third call of any kind fails: here the flush.
    armFault(FAULT_ALL_IO, 3, false);
    const FileHandle file = createNewFile(path.c_str());
    ASSERT_NE(file, INVALID_FILE);
    std::uint32_t written = 0;
    const std::uint8_t byte = 1;
    EXPECT_TRUE(writeFile(file, &byte, 1, &written));
    EXPECT_FALSE(flushFile(file));
    EXPECT_EQ(lastInjectedCall(), FAULT_FLUSH);
    EXPECT_TRUE(closeFile(file));
    EXPECT_EQ(injectedFailureCount(), 1u);
}

TEST_F(FaultInjection, FailedCloseStillReleasesTheFile)
{
    armFault(FAULT_CLOSE, 1, false);
    const FileHandle file = createNewFile(path.c_str());
    ASSERT_NE(file, INVALID_FILE);
    EXPECT_FALSE(closeFile(file));
    // A file still open could not be deleted on Windows.
    EXPECT_TRUE(deleteFile(path.c_str()));
}

TEST_F(FaultInjection, FailsCreateReadFlushAndReplace)
{
    armFault(FAULT_CREATE, 1, false);
    EXPECT_EQ(createNewFile(path.c_str()), INVALID_FILE);
    EXPECT_FALSE(pathExists(path.c_str()));

    writeBytes(joinPath(directory, "file.bin"), {1, 2, 3});
    armFault(FAULT_READ, 1, false);
    const FileHandle in = openFileForRead(path.c_str());
    ASSERT_NE(in, INVALID_FILE);
    std::uint8_t buffer[3] = {};
    std::uint32_t got = 7;
    EXPECT_FALSE(readFile(in, buffer, 3, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(readFile(in, buffer, 3, &got));
    EXPECT_EQ(got, 3u);
    closeFile(in);

    const std::u16string source = toUtf16(joinPath(directory, "other.bin"));
    writeBytes(joinPath(directory, "other.bin"), {9});
    armFault(FAULT_REPLACE, 1, false);
    EXPECT_FALSE(replaceFile(path.c_str(), source.c_str()));
    EXPECT_EQ(readBytes(joinPath(directory, "file.bin")), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_TRUE(pathExists(source.c_str()));
}

TEST_F(FaultInjection, ReportsInjectedFreeSpace)
{
    std::uint64_t free = 0;
    injectFreeSpace(1000);
    EXPECT_TRUE(diskFreeBytes(u"C:\\some\\dir\\", &free));
    EXPECT_EQ(free, 1000u);
    EXPECT_EQ(std::u16string(lastFreeSpaceDirectory()), u"C:\\some\\dir\\");
    injectFreeSpaceQueryFailure();
    EXPECT_FALSE(diskFreeBytes(u"", &free));
    EXPECT_EQ(std::u16string(lastFreeSpaceDirectory()), u"");
    resetFaults();
    EXPECT_TRUE(diskFreeBytes(toUtf16(directory).c_str(), &free));
    EXPECT_NE(free, 1000u);
}

TEST_F(FaultInjection, PinnedSamplesRepeatFromTheirSeed)
{
    const auto take = [] {
        SystemSample sample;
        sampleSystemValues(&sample);
        return std::vector<std::uint8_t>(reinterpret_cast<const std::uint8_t*>(&sample),
                                         reinterpret_cast<const std::uint8_t*>(&sample) + sizeof sample);
    };
    pinSystemSample(5);
    const std::vector<std::uint8_t> first = take();
    const std::vector<std::uint8_t> second = take();
    pinSystemSample(5);
    EXPECT_EQ(take(), first);
    EXPECT_EQ(take(), second);
    EXPECT_NE(first, second);  // each call draws afresh
    pinSystemSample(6);
    EXPECT_NE(take(), first);
    resetFaults();
    SystemSample system;
    sampleSystemValues(&system);
    EXPECT_NE(system.processId, 0u);  // asked of the system again
}

}  // namespace
