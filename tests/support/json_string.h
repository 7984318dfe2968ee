#pragma once
// Reads back a JSON string the way a JSON reader would, for tests of the
// tool's JSON output.
#include <string>

// Decodes a JSON string token (quotes included) into UTF-16 units; false when
// it is not valid JSON: a raw control character, a bad escape, or bytes that
// are not UTF-8.
inline bool decodeJsonString(const std::string& token, std::u16string* out)
{
    out->clear();
    if (token.size() < 2 || token.front() != '"' || token.back() != '"') {
        return false;
    }
    auto hexValue = [](const std::string& digits, unsigned* value) {
        *value = 0;
        for (const char c : digits) {
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) {
                return false;
            }
            *value = *value * 16 + static_cast<unsigned>(digit);
        }
        return digits.size() == 4;
    };
    const std::string body = token.substr(1, token.size() - 2);
    for (std::size_t k = 0; k < body.size();) {
        const auto c = static_cast<unsigned char>(body[k]);
        if (c < 0x20 || c == '"') {
            return false;
        }
        if (c == '\\') {
            if (k + 1 >= body.size()) {
                return false;
            }
            const char e = body[k + 1];
            static const std::string simple = "\"\\/bfnrt";
            static const std::u16string meaning = u"\"\\/\b\f\n\r\t";
            if (simple.find(e) != std::string::npos) {
                *out += meaning[simple.find(e)];
                k += 2;
                continue;
            }
            unsigned unit = 0;
            if (e != 'u' || !hexValue(body.substr(k + 2, 4), &unit)) {
                return false;
            }
            *out += static_cast<char16_t>(unit);
            k += 6;
            continue;
        }
        // One UTF-8 character, well formed.
        const std::size_t length = c < 0x80                 ? 1
                                   : c >= 0xC2 && c <= 0xDF ? 2
                                   : c >= 0xE0 && c <= 0xEF ? 3
                                   : c >= 0xF0 && c <= 0xF4 ? 4
                                                            : 0;
        if (length == 0 || k + length > body.size()) {
            return false;
        }
        char32_t value = length == 1 ? c : c & (0xFF >> (length + 1));
        for (std::size_t n = 1; n < length; ++n) {
            const auto next = static_cast<unsigned char>(body[k + n]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            value = (value << 6) | (next & 0x3F);
        }
        static const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return false;
        }
        if (value >= 0x10000) {
            *out += static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
            *out += static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            *out += static_cast<char16_t>(value);
        }
        k += length;
    }
    return true;
}
