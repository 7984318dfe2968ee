// Secrets live in pages of their own that stay locked until they are freed:
// releasing one record never unlocks the page of another that is still in use.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/locked_memory.h"

namespace {

struct SmallSecret {
    char16_t units[40];
};

std::uintptr_t addressOf(const void* p)
{
    return reinterpret_cast<std::uintptr_t>(p);
}

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
// True when the mapping that holds p is locked: the "lo" flag of its
// VmFlags line in /proc/self/smaps.
bool isLocked(const void* p)
{
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        std::uintptr_t start = 0;
        std::uintptr_t end = 0;
        char dash = 0;
        std::istringstream range(line);
        if (range >> std::hex >> start >> dash >> end && dash == '-') {
            inside = start <= addressOf(p) && addressOf(p) < end;
            continue;
        }
        if (inside && line.rfind("VmFlags:", 0) == 0) {
            return (line + " ").find(" lo ") != std::string::npos;
        }
    }
    return false;
}

TEST(LockedMemory, ReleasingOneRecordKeepsAnotherLocked)
{
    auto* first = new LockedRecord<SmallSecret>;
    LockedRecord<SmallSecret> second;
    ASSERT_TRUE(*first);
    ASSERT_TRUE(second);
    ASSERT_TRUE(isLocked(first->get()));
    ASSERT_TRUE(isLocked(second.get()));
    delete first;
    EXPECT_TRUE(isLocked(second.get()));
}

TEST(LockedMemory, BufferStaysLockedAsItGrows)
{
    LockedBuffer neighbour;
    ASSERT_TRUE(neighbour.append("secret", 6));
    LockedBuffer growing;
    for (int k = 0; k < 40; ++k) {
        ASSERT_TRUE(growing.append("0123456789abcdef", 16));
    }
    ASSERT_TRUE(growing.reserve(1u << 20));
    EXPECT_TRUE(isLocked(growing.data()));
    EXPECT_TRUE(isLocked(neighbour.data()));
    growing.release();
    EXPECT_TRUE(isLocked(neighbour.data()));
}
#endif

TEST(LockedMemory, AllocationsArePageAlignedZeroedAndOfTheirOwnPages)
{
    LockedRecord<SmallSecret> first;
    LockedRecord<SmallSecret> second;
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_EQ(addressOf(first.get()) % 4096, 0u);
    EXPECT_EQ(addressOf(second.get()) % 4096, 0u);
    EXPECT_NE(addressOf(first.get()), addressOf(second.get()));
    for (char16_t unit : first->units) {
        EXPECT_EQ(unit, 0);
    }
}

TEST(LockedMemory, BufferKeepsItsBytesAndTwoZeroBytesBehindThem)
{
    LockedBuffer buffer;
    ASSERT_TRUE(buffer.append("ab", 2));
    ASSERT_TRUE(buffer.reserve(200000));
    ASSERT_TRUE(buffer.append("cd", 2));
    ASSERT_EQ(buffer.size(), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), 4), "abcd");
    EXPECT_EQ(buffer.data()[buffer.capacity()], 0);
    EXPECT_EQ(buffer.data()[buffer.capacity() + 1], 0);
    buffer.resize(1);
    EXPECT_EQ(buffer.data()[1], 0);  // cut bytes are wiped
    ASSERT_TRUE(buffer.allocate(10));
    EXPECT_EQ(buffer.size(), 10u);
    EXPECT_EQ(buffer.data()[0], 0);
}

}  // namespace
