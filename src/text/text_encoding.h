#pragma once
// Conversions between the UTF-16 text of the editor and the bytes of files and
// containers. Pure functions on caller-owned buffers: no allocation, no codes.
#include <cstddef>
#include <cstdint>

enum TextKind : std::int32_t {
    TEXT_NOT_TEXT = 0,
    TEXT_EMPTY = 1,
    TEXT_BYTES = 2,
    TEXT_UTF16LE = 3,
    TEXT_UTF16BE = 4,
};

// The text after the last '.', when that dot follows the last '\' and '/';
// otherwise the empty string at the end of path.
const char16_t* fileExtension(const char16_t* path);
// Case-insensitive (ASCII) comparison, for extensions and names.
bool equalsIgnoreCase(const char16_t* a, const char16_t* b);
// UTF-8 of NUL-terminated text; out holds 3 bytes a unit plus one. Returns the
// byte count including the terminating NUL.
std::size_t encodeUtf8(const char16_t* text, std::uint8_t* out);
// Lenient UTF-8 decoder; returns the number of units written (no terminator).
std::size_t decodeUtf8(const std::uint8_t* bytes, std::size_t n, char16_t* out);
TextKind detectEncoding(const std::uint8_t* bytes, std::size_t n);
void terminateUtf16(std::uint8_t* buffer, std::size_t n);
void swapByteOrder(std::uint8_t* buffer, std::size_t n);
void repairSurrogates(char16_t* text);
std::size_t countBareLineFeeds(const std::uint8_t* bytes, std::size_t n);
std::size_t expandLineBreaks(const std::uint8_t* bytes, std::size_t n, char16_t* out);
const char16_t* skipByteOrderMark(const char16_t* text);
