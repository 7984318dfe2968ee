#pragma once
#include <cstddef>
#include <cstdint>

// 32-bit checksum: start at 0; for each byte, taken unsigned, add it and rotate
// the sum left by one bit. "abc" gives 0x00000556.
std::uint32_t rotateAddChecksum(const void* bytes, std::size_t length);
// One byte of that checksum, for loops that take it alongside other work.
inline std::uint32_t rotateAddStep(std::uint32_t checksum, std::uint8_t byte)
{
    const std::uint32_t sum = checksum + byte;
    return (sum << 1) | (sum >> 31);
}
// Continues a running checksum over more bytes (older files chain it across blocks).
std::uint32_t continueRotateAddChecksum(std::uint32_t checksum, const void* bytes, std::size_t length);
