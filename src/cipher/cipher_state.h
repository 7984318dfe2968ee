#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr std::uint32_t CIPHER_TABLE_CAPACITY = 1024;

// The two table generators and the running plaintext sum of one file.
// Only entries 0..tableMask of each table are used; every index is masked.
//
// The shuffle table starts 4 KiB and 16 bytes after the key table. The stir
// walks both tables in step, and a store into one shares its low address bits
// (which the processor compares first) with the entry of the other 4 KiB away:
// 8 bytes past 4 KiB that is the key generator's very next read, at exactly
// 4 KiB the shuffle table's next read. Both held those reads back; 16 bytes
// past, the stir ran 5 to 10% faster.
struct CipherState {
    std::uint32_t tableMask;
    std::uint32_t scheduleJ;
    std::uint32_t keyI;
    std::uint32_t keyJ;
    std::uint32_t keyTable[CIPHER_TABLE_CAPACITY];
    std::uint32_t shuffleI;
    std::uint32_t shuffleJ;
    std::uint32_t plainSum;
    std::uint32_t gapFill;  // always 0
    std::uint32_t shuffleTable[CIPHER_TABLE_CAPACITY];
};

static_assert(offsetof(CipherState, shuffleTable) - offsetof(CipherState, keyTable) ==
              (CIPHER_TABLE_CAPACITY + 4) * sizeof(std::uint32_t));
