#include "platform/system_path.h"

namespace {

constexpr char16_t ESCAPE_BASE = 0xDC00;

bool isContinuation(std::uint8_t b)
{
    return (b & 0xC0) == 0x80;
}

// The length of the valid, shortest UTF-8 sequence at bytes[0..n), or 0 when
// the first byte does not start one. The ranges of the second byte rule out
// overlong forms, encoded surrogates and values above U+10FFFF.
std::size_t validSequenceLength(const std::uint8_t* bytes, std::size_t n)
{
    const std::uint8_t b = bytes[0];
    if (b < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        low = b == 0xE0 ? 0xA0 : 0x80;
        high = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        low = b == 0xF0 ? 0x90 : 0x80;
        high = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (n < length || bytes[1] < low || bytes[1] > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if (!isContinuation(bytes[k])) {
            return 0;
        }
    }
    return length;
}

// Decodes one step at bytes[0..n) (n > 0, bytes[0] != 0) into units; returns
// the bytes used and sets *count to the units made (1 or 2).
std::size_t decodeStep(const std::uint8_t* bytes, std::size_t n, char16_t units[2], std::size_t* count)
{
    const std::size_t length = validSequenceLength(bytes, n);
    *count = 1;
    switch (length) {
        case 0:
            units[0] = static_cast<char16_t>(ESCAPE_BASE + bytes[0]);
            return 1;
        case 1:
            units[0] = bytes[0];
            return 1;
        case 2:
            units[0] = static_cast<char16_t>(((bytes[0] & 0x1F) << 6) | (bytes[1] & 0x3F));
            return 2;
        case 3:
            units[0] = static_cast<char16_t>(((bytes[0] & 0x0F) << 12) | ((bytes[1] & 0x3F) << 6) | (bytes[2] & 0x3F));
            return 3;
        default: {
            const std::uint32_t c = ((bytes[0] & 0x07u) << 18) | ((bytes[1] & 0x3Fu) << 12) |
                                    ((bytes[2] & 0x3Fu) << 6) | (bytes[3] & 0x3Fu);
            units[0] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            units[1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            *count = 2;
            return 4;
        }
    }
}

bool isHighSurrogate(char16_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}

bool isLowSurrogate(char16_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

std::size_t decodeSystemPath(const std::uint8_t* bytes, std::size_t n, char16_t* out)
{
    std::size_t written = 0;
    std::size_t at = 0;
    while (at < n && bytes[at] != 0) {
        std::size_t count = 0;
        at += decodeStep(bytes + at, n - at, out + written, &count);
        written += count;
    }
    out[written] = 0;
    return written;
}

bool encodeSystemPath(const char16_t* path, std::uint8_t* out, std::size_t capacity, std::size_t* length)
{
    *length = 0;
    std::size_t n = 0;
    auto put = [&](std::uint32_t b) {
        if (n + 1 >= capacity) {
            return false;
        }
        out[n++] = static_cast<std::uint8_t>(b);
        return true;
    };
    for (const char16_t* p = path; *p != 0; ++p) {
        std::uint32_t c = *p;
        bool ok = true;
        if (isHighSurrogate(*p) && isLowSurrogate(p[1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(p[1]) - 0xDC00);
            ++p;
            ok = put(0xF0 | (c >> 18)) && put(0x80 | ((c >> 12) & 0x3F)) && put(0x80 | ((c >> 6) & 0x3F)) &&
                 put(0x80 | (c & 0x3F));
        } else if (c >= ESCAPE_BASE + 0x80 && c <= ESCAPE_BASE + 0xFF) {
            ok = put(c - ESCAPE_BASE);
        } else if (isHighSurrogate(*p) || isLowSurrogate(*p)) {
            return false;
        } else if (c < 0x80) {
            ok = put(c);
        } else if (c < 0x800) {
            ok = put(0xC0 | (c >> 6)) && put(0x80 | (c & 0x3F));
        } else {
            ok = put(0xE0 | (c >> 12)) && put(0x80 | ((c >> 6) & 0x3F)) && put(0x80 | (c & 0x3F));
        }
        if (!ok) {
            return false;
        }
    }
    out[n] = 0;
    // Escaped bytes that happen to form a valid sequence would be read back as
    // that character: such a path names a file other than the one it spells.
    std::size_t at = 0;
    const char16_t* expected = path;
    while (at < n) {
        char16_t units[2] = {};
        std::size_t count = 0;
        at += decodeStep(out + at, n - at, units, &count);
        for (std::size_t k = 0; k < count; ++k) {
            if (*expected++ != units[k]) {
                return false;
            }
        }
    }
    *length = n;
    return true;
}

bool isWellFormedUtf16(const char16_t* path)
{
    for (const char16_t* p = path; *p != 0; ++p) {
        if (isHighSurrogate(*p) && isLowSurrogate(p[1])) {
            ++p;
        } else if (isHighSurrogate(*p) || isLowSurrogate(*p)) {
            return false;
        }
    }
    return true;
}
