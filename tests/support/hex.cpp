#include "support/hex.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    throw std::invalid_argument(std::string("not a hex digit: ") + c);
}

std::vector<std::uint32_t> groupsFromHex(const std::string& hex, std::size_t digitsPerGroup)
{
    std::vector<std::uint32_t> groups;
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (char c : hex) {
        if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            continue;
        }
        value = (value << 4) | static_cast<std::uint32_t>(hexDigit(c));
        if (++digits == digitsPerGroup) {
            groups.push_back(value);
            value = 0;
            digits = 0;
        }
    }
    if (digits != 0) {
        throw std::invalid_argument("odd number of hex digits: " + hex);
    }
    return groups;
}

}  // namespace

std::vector<std::uint8_t> bytesFromHex(const std::string& hex)
{
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t v : groupsFromHex(hex, 2)) {
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return bytes;
}

std::string hexFromBytes(const std::uint8_t* bytes, std::size_t count)
{
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(bytes[i]));
        if (i != 0) {
            text += ' ';
        }
        text += digits;
    }
    return text;
}

std::string hexFromBytes(const std::vector<std::uint8_t>& bytes)
{
    return hexFromBytes(bytes.data(), bytes.size());
}

std::u16string unitsFromHex(const std::string& hex)
{
    std::u16string units;
    for (std::uint32_t v : groupsFromHex(hex, 4)) {
        units.push_back(static_cast<char16_t>(v));
    }
    return units;
}

std::string hexFromUnits(const std::u16string& units)
{
    std::string text;
    char digits[6];
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(units[i]));
        if (i != 0) {
            text += ' ';
        }
        text += digits;
    }
    return text;
}
