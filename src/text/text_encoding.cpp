#include "text/text_encoding.h"

namespace {

constexpr char16_t UNIT_LF = 0x000A;
constexpr char16_t UNIT_CR = 0x000D;
constexpr char16_t UNIT_SPACE = 0x0020;
constexpr char16_t UNIT_BOM = 0xFEFF;

bool isHighSurrogate(char16_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}

bool isLowSurrogate(char16_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

char16_t foldAsciiCase(char16_t u)
{
    return (u >= u'A' && u <= u'Z') ? static_cast<char16_t>(u + (u'a' - u'A')) : u;
}

}  // namespace

const char16_t* fileExtension(const char16_t* path)
{
    const char16_t* lastDot = nullptr;
    const char16_t* lastSeparator = nullptr;
    const char16_t* p = path;
    for (; *p != 0; ++p) {
        if (*p == u'.') {
            lastDot = p;
        } else if (*p == u'\\' || *p == u'/') {
            lastSeparator = p;
        }
    }
    if (lastDot != nullptr && (lastSeparator == nullptr || lastDot > lastSeparator)) {
        return lastDot + 1;
    }
    return p;
}

bool equalsIgnoreCase(const char16_t* a, const char16_t* b)
{
    for (;; ++a, ++b) {
        if (foldAsciiCase(*a) != foldAsciiCase(*b)) {
            return false;
        }
        if (*a == 0) {
            return true;
        }
    }
}

std::size_t encodeUtf8(const char16_t* text, std::uint8_t* out)
{
    std::size_t written = 0;
    std::uint32_t pendingHigh = 0;
    bool pairOpen = false;
    for (const char16_t* p = text; *p != 0; ++p) {
        const std::uint32_t u = *p;
        if (u <= 0x7F) {
            out[written++] = static_cast<std::uint8_t>(u);
        } else if (u <= 0x7FF) {
            out[written++] = static_cast<std::uint8_t>(0xC0 | (u >> 6));
            out[written++] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
        } else if (isHighSurrogate(static_cast<char16_t>(u))) {
            // Emitted only once its low half arrives; a second high half replaces it.
            pendingHigh = (u - 0xD800) << 10;
            pairOpen = true;
        } else if (isLowSurrogate(static_cast<char16_t>(u))) {
            if (pairOpen) {
                const std::uint32_t c = (pendingHigh | (u - 0xDC00)) + 0x10000;
                out[written++] = static_cast<std::uint8_t>(0xF0 | (c >> 18));
                out[written++] = static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F));
                out[written++] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
                out[written++] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
                pairOpen = false;
            }
        } else {
            out[written++] = static_cast<std::uint8_t>(0xE0 | (u >> 12));
            out[written++] = static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3F));
            out[written++] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
        }
    }
    out[written++] = 0;
    return written;
}

std::size_t decodeUtf8(const std::uint8_t* bytes, std::size_t n, char16_t* out)
{
    std::size_t units = 0;
    std::uint32_t accumulator = 0;
    std::uint32_t expected = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t b = bytes[i];
        if (b <= 0x7F) {
            // An ASCII byte inside a sequence is written and the sequence goes on after it.
            out[units++] = static_cast<char16_t>(b);
        } else if (expected == 0) {
            if (b <= 0xDF) {
                accumulator = b & 0x1F;
                expected = 1;
            } else if (b <= 0xEF) {
                accumulator = b & 0x0F;
                expected = 2;
            } else if (b <= 0xF7) {
                accumulator = b & 0x07;
                expected = 3;
            }
        } else {
            accumulator = (accumulator << 6) | (b & 0x3F);
            if (--expected == 0) {
                if (accumulator <= 0xD7FF || (accumulator >= 0xE000 && accumulator <= 0xFFFF)) {
                    out[units++] = static_cast<char16_t>(accumulator);
                } else if (accumulator >= 0x10000 && accumulator <= 0x10FFFF) {
                    const std::uint32_t c = accumulator - 0x10000;
                    out[units++] = static_cast<char16_t>(0xD800 + (c >> 10));
                    out[units++] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
                }
            }
        }
    }
    return units;
}

TextKind detectEncoding(const std::uint8_t* bytes, std::size_t n)
{
    if (n == 0) {
        return TEXT_EMPTY;
    }
    if (n == 1) {
        return bytes[0] != 0 ? TEXT_BYTES : TEXT_NOT_TEXT;
    }
    const unsigned first = static_cast<unsigned>(bytes[0]) | (static_cast<unsigned>(bytes[1]) << 8);
    if (first == 0xFEFF) {
        return TEXT_UTF16LE;
    }
    if (first == 0xFFFE) {
        return TEXT_UTF16BE;
    }
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        if (bytes[i] == 0 && bytes[i + 1] == 0) {
            return TEXT_NOT_TEXT;
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (bytes[i] == 0) {
            return (i % 2 == 1) ? TEXT_UTF16LE : TEXT_UTF16BE;
        }
    }
    return TEXT_BYTES;
}

void terminateUtf16(std::uint8_t* buffer, std::size_t n)
{
    // With the two zero spare bytes this ends the string after the last whole unit.
    buffer[n & ~static_cast<std::size_t>(1)] = 0;
}

void swapByteOrder(std::uint8_t* buffer, std::size_t n)
{
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        const std::uint8_t first = buffer[i];
        buffer[i] = buffer[i + 1];
        buffer[i + 1] = first;
    }
}

void repairSurrogates(char16_t* text)
{
    std::size_t i = 0;
    while (text[i] != 0) {
        if (isHighSurrogate(text[i]) && isLowSurrogate(text[i + 1])) {
            i += 2;
            continue;
        }
        if (isHighSurrogate(text[i]) || isLowSurrogate(text[i])) {
            text[i] = UNIT_SPACE;
        }
        ++i;
    }
}

std::size_t countBareLineFeeds(const std::uint8_t* bytes, std::size_t n)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (bytes[i] == 0x0A && (i == 0 || bytes[i - 1] != 0x0D)) {
            ++count;
        }
    }
    return count;
}

std::size_t expandLineBreaks(const std::uint8_t* bytes, std::size_t n, char16_t* out)
{
    const std::size_t decoded = decodeUtf8(bytes, n, out);
    std::size_t bare = 0;
    for (std::size_t i = 0; i < decoded; ++i) {
        if (out[i] == UNIT_LF && (i == 0 || out[i - 1] != UNIT_CR)) {
            ++bare;
        }
    }
    // Walk backwards so every unit moves down only once, in place.
    std::size_t write = decoded + bare;
    for (std::size_t i = decoded; i > 0; --i) {
        const char16_t unit = out[i - 1];
        out[--write] = unit;
        if (unit == UNIT_LF && (i == 1 || out[i - 2] != UNIT_CR)) {
            out[--write] = UNIT_CR;
        }
    }
    return decoded + bare;
}

const char16_t* skipByteOrderMark(const char16_t* text)
{
    return text[0] == UNIT_BOM ? text + 1 : text;
}
