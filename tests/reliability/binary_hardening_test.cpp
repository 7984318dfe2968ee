// The built programs carry the protections of their platform, read from the
// files themselves: on Linux a position-independent vtxt with read-only
// relocations bound at start, a stack protector and the checked library calls;
// on Windows tarnwick.exe and vtxt.exe with ASLR (high-entropy) and DEP.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A path given at build time, as the running test sees it (drive Z: under Wine).
std::string builtPath(std::string path)
{
#ifdef _WIN32
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    if (path.size() > 1 && path[0] == '\\') {
        path = "Z:" + path;
    }
#endif
    return path;
}

std::uint64_t field(const Bytes& bytes, std::size_t offset, std::size_t width)
{
    if (offset + width > bytes.size()) {
        ADD_FAILURE() << "read past the end of the file at " << offset;
        return 0;
    }
    return width == 2   ? loadLe16(bytes.data() + offset)
           : width == 4 ? loadLe32(bytes.data() + offset)
                        : loadLe64(bytes.data() + offset);
}

#ifndef _WIN32
constexpr std::uint32_t PT_DYNAMIC_TYPE = 2;
constexpr std::uint32_t PT_GNU_RELRO_TYPE = 0x6474E552;
constexpr std::uint64_t DT_BIND_NOW_TAG = 24;
constexpr std::uint64_t DT_FLAGS_TAG = 30;
constexpr std::uint64_t DT_FLAGS_1_TAG = 0x6FFFFFFB;
constexpr std::uint64_t DF_BIND_NOW_FLAG = 0x8;
constexpr std::uint64_t DF_1_NOW_FLAG = 0x1;
constexpr std::uint32_t SHT_DYNSYM_TYPE = 11;

// What the hardening shows in an ELF64 executable.
struct ElfFacts {
    bool positionIndependent = false;
    bool relro = false;
    bool bindNow = false;
    std::set<std::string> importedSymbols;
};

ElfFacts readElf(const Bytes& elf)
{
    ElfFacts facts;
    if (elf.size() < 64 ||
        std::memcmp(elf.data(),
                    "\x7F"
                    "ELF",
                    4) != 0 ||
        elf[4] != 2) {
        ADD_FAILURE() << "not an ELF64 file";
        return facts;
    }
    facts.positionIndependent = field(elf, 16, 2) == 3;  // ET_DYN
    const std::uint64_t programHeaders = field(elf, 32, 8);
    const std::uint64_t programSize = field(elf, 54, 2);
    const std::uint64_t programCount = field(elf, 56, 2);
    for (std::uint64_t k = 0; k < programCount; ++k) {
        const std::size_t at = static_cast<std::size_t>(programHeaders + k * programSize);
        const std::uint64_t type = field(elf, at, 4);
        facts.relro = facts.relro || type == PT_GNU_RELRO_TYPE;
        if (type != PT_DYNAMIC_TYPE) {
            continue;
        }
        const std::uint64_t offset = field(elf, at + 8, 8);
        const std::uint64_t size = field(elf, at + 32, 8);
        for (std::uint64_t entry = offset; entry + 16 <= offset + size; entry += 16) {
            const std::uint64_t tag = field(elf, static_cast<std::size_t>(entry), 8);
            const std::uint64_t value = field(elf, static_cast<std::size_t>(entry + 8), 8);
            facts.bindNow = facts.bindNow || tag == DT_BIND_NOW_TAG ||
                            (tag == DT_FLAGS_TAG && (value & DF_BIND_NOW_FLAG) != 0) ||
                            (tag == DT_FLAGS_1_TAG && (value & DF_1_NOW_FLAG) != 0);
        }
    }
    const std::uint64_t sections = field(elf, 40, 8);
    const std::uint64_t sectionSize = field(elf, 58, 2);
    const std::uint64_t sectionCount = field(elf, 60, 2);
    for (std::uint64_t k = 0; k < sectionCount; ++k) {
        const std::size_t at = static_cast<std::size_t>(sections + k * sectionSize);
        if (field(elf, at + 4, 4) != SHT_DYNSYM_TYPE) {
            continue;
        }
        const std::uint64_t symbols = field(elf, at + 24, 8);
        const std::uint64_t symbolsSize = field(elf, at + 32, 8);
        const std::uint64_t symbolSize = field(elf, at + 56, 8);
        const std::size_t strings = static_cast<std::size_t>(sections + field(elf, at + 40, 4) * sectionSize);
        const std::uint64_t names = field(elf, strings + 24, 8);
        for (std::uint64_t s = symbols; symbolSize != 0 && s + symbolSize <= symbols + symbolsSize; s += symbolSize) {
            const std::size_t name = static_cast<std::size_t>(names + field(elf, static_cast<std::size_t>(s), 4));
            if (name < elf.size()) {
                facts.importedSymbols.insert(reinterpret_cast<const char*>(elf.data() + name));
            }
        }
    }
    return facts;
}

TEST(BinaryHardening, VtxtIsBuiltWithTheLinuxProtections)
{
    const ElfFacts facts = readElf(readBytes(builtPath(VTXT_BINARY)));
    EXPECT_TRUE(facts.positionIndependent) << "not a position-independent executable";
    EXPECT_TRUE(facts.relro) << "no read-only relocations (-z relro)";
    EXPECT_TRUE(facts.bindNow) << "relocations not bound at start (-z now)";
    EXPECT_EQ(facts.importedSymbols.count("__stack_chk_fail"), 1u) << "no stack protector";
#if !defined(__SANITIZE_ADDRESS__) && defined(__OPTIMIZE__)
    // _FORTIFY_SOURCE: some library call of the tool is the checked one.
    bool checked = false;
    for (const std::string& name : facts.importedSymbols) {
        checked = checked || (name.size() > 6 && name.rfind("__", 0) == 0 && name.find("_chk") != std::string::npos &&
                              name != "__stack_chk_fail");
    }
    EXPECT_TRUE(checked) << "no checked library call (_FORTIFY_SOURCE)";
#endif
}
#else
constexpr std::uint16_t IMAGE_FILE_RELOCS_STRIPPED_FLAG = 0x0001;
constexpr std::uint16_t HIGH_ENTROPY_VA = 0x0020;
constexpr std::uint16_t DYNAMIC_BASE = 0x0040;
constexpr std::uint16_t NX_COMPAT = 0x0100;

class WindowsExecutable : public ::testing::TestWithParam<const char*> {};

TEST_P(WindowsExecutable, HasAslrAndDep)
{
    const Bytes pe = readBytes(builtPath(GetParam()));
    ASSERT_GT(pe.size(), 0x40u);
    const std::size_t header = static_cast<std::size_t>(field(pe, 0x3C, 4));
    ASSERT_EQ(std::memcmp(pe.data() + header, "PE\0\0", 4), 0);
    const std::uint64_t characteristics = field(pe, header + 4 + 18, 2);
    const std::size_t optional = header + 24;
    ASSERT_EQ(field(pe, optional, 2), 0x20Bu) << "not a 64-bit image";
    const std::uint64_t dll = field(pe, optional + 70, 2);
    EXPECT_NE(dll & DYNAMIC_BASE, 0u) << "no ASLR";
    EXPECT_NE(dll & HIGH_ENTROPY_VA, 0u) << "no high-entropy ASLR";
    EXPECT_NE(dll & NX_COMPAT, 0u) << "no DEP";
    EXPECT_EQ(characteristics & IMAGE_FILE_RELOCS_STRIPPED_FLAG, 0u) << "relocations stripped: ASLR cannot move it";
}

INSTANTIATE_TEST_SUITE_P(Programs, WindowsExecutable, ::testing::Values(TARNWICK_BINARY, VTXT_BINARY));
#endif

}  // namespace
