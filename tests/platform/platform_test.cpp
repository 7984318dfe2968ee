#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

class PlatformFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = makeTempDir("platform");
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::u8path(directory), ignored);
    }
    std::string pathOf(const std::string& name) const
    {
        return joinPath(directory, name);
    }
    static std::u16string wide(const std::string& path)
    {
        return toUtf16(path);
    }

    std::string directory;
};

std::vector<std::uint8_t> patternBytes(std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131) ^ (i >> 8));
    }
    return bytes;
}

TEST_F(PlatformFiles, WritesAndReadsBack)
{
    const std::string path = pathOf("data.bin");
    const std::vector<std::uint8_t> bytes = patternBytes(70000);
    const FileHandle out = createNewFile(wide(path).c_str());
    ASSERT_NE(out, INVALID_FILE);
    std::uint32_t written = 0;
    ASSERT_TRUE(writeFile(out, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written));
    EXPECT_EQ(written, bytes.size());
    EXPECT_TRUE(flushFile(out));
    EXPECT_TRUE(closeFile(out));
    EXPECT_EQ(readBytes(path), bytes);

    const FileHandle in = openFileForRead(wide(path).c_str());
    ASSERT_NE(in, INVALID_FILE);
    std::uint64_t size = 0;
    ASSERT_TRUE(fileSize(in, &size));
    EXPECT_EQ(size, bytes.size());
    std::vector<std::uint8_t> back(bytes.size() + 100, 0xEE);
    std::uint32_t got = 0;
    // Asking for more than there is gives a short count, not a failure.
    ASSERT_TRUE(readFile(in, back.data(), static_cast<std::uint32_t>(back.size()), &got));
    EXPECT_EQ(got, bytes.size());
    back.resize(got);
    EXPECT_EQ(back, bytes);
    // At the end of the file a read succeeds with nothing.
    std::uint8_t extra = 0;
    got = 99;
    EXPECT_TRUE(readFile(in, &extra, 1, &got));
    EXPECT_EQ(got, 0u);
    // Seeking goes back to an absolute offset.
    ASSERT_TRUE(seekFile(in, 65536));
    std::uint8_t four[4] = {};
    ASSERT_TRUE(readFile(in, four, 4, &got));
    ASSERT_EQ(got, 4u);
    EXPECT_EQ(0, std::memcmp(four, bytes.data() + 65536, 4));
    EXPECT_TRUE(closeFile(in));
}

TEST_F(PlatformFiles, CreateNewNeverClobbers)
{
    const std::string path = pathOf("existing.vtxt");
    writeBytes(path, {1, 2, 3});
    EXPECT_EQ(createNewFile(wide(path).c_str()), INVALID_FILE);
    EXPECT_EQ(readBytes(path), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(PlatformFiles, OpenRefusesMissingFilesAndDirectories)
{
    EXPECT_EQ(openFileForRead(wide(pathOf("missing.vtxt")).c_str()), INVALID_FILE);
    EXPECT_EQ(openFileForRead(wide(directory).c_str()), INVALID_FILE);
    EXPECT_EQ(openFileForRead(nullptr), INVALID_FILE);
    EXPECT_EQ(createNewFile(wide(pathOf("no-such-dir/x.vtxt")).c_str()), INVALID_FILE);
}

TEST_F(PlatformFiles, DeletesAndReportsExistence)
{
    const std::string path = pathOf("gone.txt");
    EXPECT_FALSE(pathExists(wide(path).c_str()));
    writeBytes(path, {7});
    EXPECT_TRUE(pathExists(wide(path).c_str()));
    EXPECT_TRUE(pathExists(wide(directory).c_str()));
    EXPECT_TRUE(deleteFile(wide(path).c_str()));
    EXPECT_FALSE(pathExists(wide(path).c_str()));
    EXPECT_FALSE(deleteFile(wide(path).c_str()));
}

TEST_F(PlatformFiles, ReplaceSwapsContentOfExistingTarget)
{
    const std::string target = pathOf("doc.vtxt");
    const std::string source = pathOf("doc.vtxt.new");
    writeBytes(target, {1, 1, 1, 1});
    writeBytes(source, {2, 2});
    ASSERT_TRUE(replaceFile(wide(target).c_str(), wide(source).c_str()));
    EXPECT_EQ(readBytes(target), (std::vector<std::uint8_t>{2, 2}));
    EXPECT_FALSE(fileExists(source));
    EXPECT_EQ(listDirectory(directory).size(), 1u);
}

TEST_F(PlatformFiles, ReplaceMovesIntoMissingTarget)
{
    const std::string target = pathOf("new.vtxt");
    const std::string source = pathOf("new.vtxt.tmp");
    writeBytes(source, {9, 8, 7});
    ASSERT_TRUE(replaceFile(wide(target).c_str(), wide(source).c_str()));
    EXPECT_EQ(readBytes(target), (std::vector<std::uint8_t>{9, 8, 7}));
    EXPECT_FALSE(fileExists(source));
}

TEST_F(PlatformFiles, FailedReplaceLeavesTargetAlone)
{
    const std::string target = pathOf("keep.vtxt");
    writeBytes(target, {5, 4, 3});
    EXPECT_FALSE(replaceFile(wide(target).c_str(), wide(pathOf("absent.tmp")).c_str()));
    EXPECT_EQ(readBytes(target), (std::vector<std::uint8_t>{5, 4, 3}));
}

TEST_F(PlatformFiles, ReplaceNeverTakesADirectory)
{
    const std::string target = pathOf("folder");
    const std::string source = pathOf("file.tmp");
    std::filesystem::create_directory(std::filesystem::u8path(target));
    writeBytes(joinPath(target, "inside.txt"), {4, 2});
    writeBytes(source, {1});
    EXPECT_FALSE(replaceFile(wide(target).c_str(), wide(source).c_str()));
    EXPECT_EQ(readBytes(joinPath(target, "inside.txt")), (std::vector<std::uint8_t>{4, 2}));
    EXPECT_EQ(readBytes(source), (std::vector<std::uint8_t>{1}));
    EXPECT_EQ(listDirectory(directory).size(), 2u);
}

#ifdef _WIN32
TEST_F(PlatformFiles, ReplaceKeepsAttributesOfTarget)
{
    const std::string target = pathOf("hidden.vtxt");
    const std::string source = pathOf("hidden.tmp");
    writeBytes(target, {1});
    writeBytes(source, {2});
    ASSERT_TRUE(SetFileAttributesW(reinterpret_cast<const wchar_t*>(wide(target).c_str()), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(replaceFile(wide(target).c_str(), wide(source).c_str()));
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(wide(target).c_str()));
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(readBytes(target), (std::vector<std::uint8_t>{2}));
}
#endif

TEST_F(PlatformFiles, ReportsFreeSpace)
{
    std::uint64_t free = 0;
    ASSERT_TRUE(diskFreeBytes(wide(directory).c_str(), &free));
    EXPECT_GT(free, 0u);
    // An empty name is the current directory.
    std::uint64_t current = 0;
    EXPECT_TRUE(diskFreeBytes(u"", &current));
    EXPECT_GT(current, 0u);
    std::uint64_t missing = 12345;
    EXPECT_FALSE(diskFreeBytes(wide(pathOf("no-such-dir")).c_str(), &missing));
}

std::uint64_t fileTimeNow()
{
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    const auto units =
        std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(sinceEpoch);
    return static_cast<std::uint64_t>(units.count()) + 116444736000000000ULL;
}

TEST(PlatformTime, SystemTimeIsUtcFileTime)
{
    const std::uint64_t before = fileTimeNow();
    const std::uint64_t now = systemTimeAsFileTime();
    const std::uint64_t after = fileTimeNow();
    // The clocks may differ in resolution; allow one second either side.
    EXPECT_GE(now + 10000000ULL, before);
    EXPECT_LE(now, after + 10000000ULL);
}

struct SystemTimeCase {
    std::uint16_t fields[8];  // year, month, day of week, day, hour, minute, second, ms
    bool valid;
    std::uint64_t fileTime;
};

class SystemTimeToFileTimeTable : public ::testing::TestWithParam<SystemTimeCase> {};

TEST_P(SystemTimeToFileTimeTable, Converts)
{
    std::uint64_t converted = 0xDEADBEEF;
    EXPECT_EQ(systemTimeToFileTime(GetParam().fields, &converted), GetParam().valid);
    if (GetParam().valid) {
        EXPECT_EQ(converted, GetParam().fileTime);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dates, SystemTimeToFileTimeTable,
    ::testing::Values(
        SystemTimeCase{{1601, 1, 1, 1, 0, 0, 0, 0}, true, 0},
        SystemTimeCase{{1970, 1, 4, 1, 0, 0, 0, 0}, true, 116444736000000000ULL},
        // The day of the week is not checked.
        SystemTimeCase{{1970, 1, 0, 1, 0, 0, 0, 0}, true, 116444736000000000ULL},
        SystemTimeCase{{2000, 2, 2, 29, 12, 34, 56, 789}, true, 125963012967890000ULL},
        SystemTimeCase{{2023, 8, 2, 15, 23, 59, 59, 999}, true, 133366175999990000ULL},
        SystemTimeCase{{2001, 2, 4, 29, 0, 0, 0, 0}, false, 0}, SystemTimeCase{{1900, 2, 3, 29, 0, 0, 0, 0}, false, 0},
        SystemTimeCase{{2023, 13, 0, 1, 0, 0, 0, 0}, false, 0}, SystemTimeCase{{2023, 0, 0, 1, 0, 0, 0, 0}, false, 0},
        SystemTimeCase{{2023, 4, 0, 31, 0, 0, 0, 0}, false, 0}, SystemTimeCase{{2023, 4, 0, 0, 0, 0, 0, 0}, false, 0},
        SystemTimeCase{{2023, 4, 0, 1, 24, 0, 0, 0}, false, 0}, SystemTimeCase{{2023, 4, 0, 1, 0, 60, 0, 0}, false, 0},
        SystemTimeCase{{2023, 4, 0, 1, 0, 0, 60, 0}, false, 0},
        SystemTimeCase{{2023, 4, 0, 1, 0, 0, 0, 1000}, false, 0},
        SystemTimeCase{{1600, 12, 0, 31, 0, 0, 0, 0}, false, 0}, SystemTimeCase{{0, 0, 0, 0, 0, 0, 0, 0}, false, 0}));

std::uint32_t currentProcessId()
{
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<std::uint32_t>(::getpid());
#endif
}

TEST(PlatformSample, TakesLiveSystemValues)
{
    SystemSample first;
    std::memset(&first, 0xA5, sizeof first);
    sampleSystemValues(&first);
    SystemSample second;
    sampleSystemValues(&second);

    EXPECT_GT(first.perfFrequency, 0u);
    EXPECT_GT(second.perfCounter, first.perfCounter);
    EXPECT_EQ(first.processId, currentProcessId());
    EXPECT_NE(first.threadId, 0u);
    EXPECT_GT(first.diskFreeBytes, 0u);
    const std::uint64_t now = systemTimeAsFileTime();
    EXPECT_LE(first.systemTime, now);
    EXPECT_GT(first.systemTime + 600ULL * 10000000ULL, now);
    // The structures carry their own size fields as the queries expect them.
    EXPECT_EQ(loadLe32(first.memoryStatus), 64u);
    EXPECT_NE(loadLe64(first.memoryStatus + 8), 0u);  // total physical memory
    EXPECT_NE(loadLe32(first.systemInfo + 4), 0u);    // page size
    EXPECT_NE(loadLe32(first.systemInfo + 32), 0u);   // processors
    EXPECT_EQ(loadLe32(first.windowInfo), 60u);
}

}  // namespace
