#include "cli/cli_text.h"

#include <cstdio>
#include <vector>

#include "text/text_encoding.h"

namespace {

constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

bool isHighSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void appendUtf8(std::string* out, char32_t c)
{
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | (c >> 6));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | (c >> 12));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (c >> 18));
        *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendEscape(std::string* out, const char* format, unsigned value)
{
    char escape[8];
    std::snprintf(escape, sizeof escape, format, value);
    *out += escape;
}

// Calls visit(character, whole) for each character of UTF-8 bytes; a byte that
// is not part of a character comes alone, with whole false.
template <class Visit>
void walkUtf8(std::string_view text, Visit visit)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    std::size_t k = 0;
    while (k < text.size()) {
        char32_t c = 0;
        const std::size_t length = nextUtf8Character(bytes + k, text.size() - k, &c);
        if (length == 0) {
            visit(static_cast<char32_t>(bytes[k]), false);
            ++k;
        } else {
            visit(c, true);
            k += length;
        }
    }
}

// The same for UTF-16 units; an unpaired surrogate comes with whole false.
template <class Visit>
void walkUtf16(std::u16string_view units, Visit visit)
{
    for (std::size_t k = 0; k < units.size(); ++k) {
        const char32_t unit = units[k];
        if (isHighSurrogate(unit) && k + 1 < units.size() && isLowSurrogate(units[k + 1])) {
            visit(0x10000 + ((unit - 0xD800) << 10) + (units[k + 1] - 0xDC00), true);
            ++k;
        } else {
            visit(unit, !isHighSurrogate(unit) && !isLowSurrogate(unit));
        }
    }
}

void appendForTerminal(std::string* out, char32_t c, bool whole)
{
    if (whole && !isTerminalControl(c)) {
        appendUtf8(out, c);
    } else if (c < 0x80 || (!whole && c < 0x100)) {
        appendEscape(out, "\\x%02x", static_cast<unsigned>(c));  // one byte
    } else {
        appendEscape(out, "\\u%04x", static_cast<unsigned>(c));  // one character (or a lone surrogate)
    }
}

void appendForJson(std::string* out, char32_t c, bool whole)
{
    if (c == '"' || c == '\\') {
        *out += '\\';
        *out += static_cast<char>(c);
    } else if (c == '\n') {
        *out += "\\n";
    } else if (c == '\r') {
        *out += "\\r";
    } else if (c == '\t') {
        *out += "\\t";
    } else if (whole && !isTerminalControl(c)) {
        appendUtf8(out, c);
    } else {
        appendEscape(out, "\\u%04x", static_cast<unsigned>(c));
    }
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view text)
{
    std::u16string out(text.size() + 1, u'\0');
    const std::size_t units = decodeUtf8(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), out.data());
    out.resize(units);
    return out;
}

std::string utf16ToUtf8(std::u16string_view text)
{
    // encodeUtf8 stops at a NUL; the strings here never hold one.
    std::u16string terminated(text);
    std::vector<std::uint8_t> bytes(4 * terminated.size() + 1);
    const std::size_t count = encodeUtf8(terminated.c_str(), bytes.data());
    return std::string(reinterpret_cast<const char*>(bytes.data()), count - 1);
}

std::size_t nextUtf8Character(const std::uint8_t* bytes, std::size_t count, char32_t* character)
{
    if (count == 0) {
        return 0;
    }
    const std::uint8_t lead = bytes[0];
    if (lead < 0x80) {
        *character = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t smallest = 0;
    char32_t c = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        smallest = 0x80;
        c = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        smallest = 0x800;
        c = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        smallest = 0x10000;
        c = lead & 0x07u;
    } else {
        return 0;  // a continuation byte, C0/C1 (always overlong) or F5..FF
    }
    if (count < length) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((bytes[k] & 0xC0) != 0x80) {
            return 0;
        }
        c = (c << 6) | (bytes[k] & 0x3Fu);
    }
    if (c < smallest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return 0;
    }
    *character = c;
    return length;
}

bool isValidUtf8(const std::uint8_t* bytes, std::size_t count)
{
    std::size_t k = 0;
    while (k < count) {
        char32_t c = 0;
        const std::size_t length = nextUtf8Character(bytes + k, count - k, &c);
        if (length == 0) {
            return false;
        }
        k += length;
    }
    return true;
}

bool isTerminalControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::string escapeForTerminal(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    walkUtf8(bytes, [&](char32_t c, bool whole) { appendForTerminal(&out, c, whole); });
    return out;
}

std::string escapeForTerminal(std::u16string_view units)
{
    std::string out;
    out.reserve(units.size());
    walkUtf16(units, [&](char32_t c, bool whole) { appendForTerminal(&out, c, whole); });
    return out;
}

void appendJsonString(std::string* out, std::u16string_view units)
{
    *out += '"';
    walkUtf16(units, [&](char32_t c, bool whole) { appendForJson(out, c, whole); });
    *out += '"';
}

void appendJsonString(std::string* out, std::string_view bytes)
{
    *out += '"';
    walkUtf8(bytes, [&](char32_t c, bool whole) { appendForJson(out, whole ? c : REPLACEMENT_CHARACTER, true); });
    *out += '"';
}
