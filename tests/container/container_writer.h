#pragma once
// Test-only writer of whole container files of every generation and scheme,
// including layouts the product never writes: older 64-byte headers, blocks
// cut shorter than blockSize, schemes 0 to 2 and chosen round counts. It keys
// the generators with the product's setupKey but enciphers, transposes and
// checksums on its own, so it also cross-checks the product's payload code.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct ContainerPlan {
    std::uint32_t generation = 2;  // 0, 1 or 2
    // Generation 2 only; older files always carry scheme 0.
    std::uint16_t cipherScheme = 3;
    std::uint16_t flags = 1;
    std::uint32_t shuffleLevel = 7;
    // Generations 0 and 1: 256 (no shuffle), 512 (level 7) or 528 (level blockSize >> 8).
    std::uint16_t layoutVersion = 512;
    bool legacyChecksum = true;
    std::uint32_t blockSize = 0;  // 0: the payload length (at least 1)
    // Lengths of the blocks in order; empty: cut at blockSize. Only older
    // generations accept blocks shorter than blockSize before the last.
    std::vector<std::uint32_t> blockLengths;
    std::array<std::uint8_t, 16> salt = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                         0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x0F};
    // Generation 2 takes them as they are; older layouts store schedule - 256
    // and mix - 4096, with stirRounds equal to mixRounds.
    std::uint32_t mixRounds = 16384;
    std::uint32_t scheduleRounds = 8192;
    std::uint32_t stirRounds = 8192;
    std::uint64_t savedTime = 0x01D9A0B0C0D0E0F0ull;
    std::u16string entryName = u"vellic.txt";
    std::u16string hint;
    std::u16string password;
    // The stored text. With HEADER_FLAG_SHORT_TEXT it must be shorter than 32
    // bytes and is padded with padding to the 32-byte short block.
    std::vector<std::uint8_t> text;
    std::array<std::uint8_t, 31> padding = {};
    // Overrides the short block's length byte (normally the text's length).
    int shortLengthByte = -1;
};

// The complete file bytes.
std::vector<std::uint8_t> writeContainerBytes(const ContainerPlan& plan);

// Offsets of the pieces of a file written from plan, for tests that damage one.
struct ContainerLayout {
    std::size_t payloadOffset;              // first BlockHeader
    std::vector<std::size_t> blockOffsets;  // each BlockHeader
    std::size_t trailerOffset;
    std::size_t size;
};
ContainerLayout layoutOf(const ContainerPlan& plan);

std::vector<std::uint8_t> bytesOf(const std::string& text);
