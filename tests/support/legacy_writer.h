#pragma once
// Writes the 64-byte header of the two older generations, followed by its hint
// and entry name, as the older program versions laid them out. Test-only: the
// product never writes these generations. A whole older file is this header
// followed by the payload blocks and the trailer.
#include <cstdint>
#include <string>
#include <vector>

struct LegacyHeaderFields {
    std::uint8_t generation = 1;  // 1: strings as UTF-16LE; 0: one byte per character
    std::uint16_t layoutVersion = 0x210;
    std::uint32_t blockSize = 0;
    std::uint64_t plainSize = 0;
    // year, month, day of week, day, hour, minute, second, milliseconds
    std::uint16_t savedSystemTime[8] = {2009, 6, 1, 15, 12, 30, 45, 500};
    std::uint32_t writerTag = 0x2020;
    std::uint8_t salt[16] = {};
    std::uint16_t scheduleBase = 0;
    std::uint16_t roundsBase = 0;
    // Write the 16-bit checksum; false writes 0, which readers do not check.
    bool checksummed = true;
    std::u16string hint;
    std::u16string entryName = u"vellic.txt";
    // The counts stored in the header; negative means the strings' lengths.
    // Only as many characters as the strings hold are written after the header.
    int hintLength = -1;
    int entryNameLength = -1;
};

// The 16-bit checksum over a 64-byte older header: scheduleBase, then the salt
// bytes alternately from offsets 44 and 52, each added as a signed byte and the
// sum rotated left, then roundsBase added.
std::uint16_t legacyHeaderChecksum(const std::uint8_t* header);
// The header and its two strings.
std::vector<std::uint8_t> writeLegacyHeader(const LegacyHeaderFields& fields);
