#pragma once
#include <cstdint>

inline constexpr std::uint32_t CIPHER_TABLE_CAPACITY = 1024;

// The two table generators and the running plaintext sum of one file.
// Only entries 0..tableMask of each table are used; every index is masked.
// The tables lie exactly 4 KiB apart: the stir stores into the shuffle table
// at the position the key generator reads a step later, and at a distance a
// few bytes off 4 KiB that store and that read share their low address bits,
// which made the processor hold the read back (the stir ran a tenth slower).
struct CipherState {
    std::uint32_t tableMask;
    std::uint32_t scheduleJ;
    std::uint32_t keyI;
    std::uint32_t keyJ;
    std::uint32_t shuffleI;
    std::uint32_t shuffleJ;
    std::uint32_t keyTable[CIPHER_TABLE_CAPACITY];
    std::uint32_t shuffleTable[CIPHER_TABLE_CAPACITY];
    std::uint32_t plainSum;
};
