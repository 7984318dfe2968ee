#include "cli/cli_password_line.h"

#include <cstring>

#include "cli/cli_text.h"
#include "platform/secure_wipe.h"
#include "text/text_encoding.h"

namespace {

PasswordVerdict checkAndDecode(PasswordLine* line, PasswordUse use, bool allowEmpty, PasswordRecord* password)
{
    if (!line->started) {
        return PasswordVerdict::NoPassword;
    }
    if (line->overflow) {
        return PasswordVerdict::TooLong;
    }
    std::size_t length = line->length;
    if (length > 0 && line->bytes[length - 1] == '\r') {
        --length;
    }
    std::size_t start = 0;
    if (length >= 3 && line->bytes[0] == 0xEF && line->bytes[1] == 0xBB && line->bytes[2] == 0xBF) {
        start = 3;  // a byte order mark some editors put in front of a UTF-8 file
    }
    const std::uint8_t* text = line->bytes + start;
    const std::size_t count = length - start;
    if (std::memchr(text, 0, count) != nullptr) {
        return PasswordVerdict::HasNul;
    }
    if (use == PasswordUse::New && (line->notText || !isValidUtf8(text, count))) {
        return PasswordVerdict::NotUtf8;
    }
    const std::size_t units = decodeUtf8(text, count, line->units);
    if (units > PASSWORD_MAX_UNITS) {
        return PasswordVerdict::TooLong;
    }
    // An overlong form (C0 80) decodes to a NUL, which would cut the password short.
    for (std::size_t k = 0; k < units; ++k) {
        if (line->units[k] == 0) {
            return PasswordVerdict::HasNul;
        }
    }
    if (units == 0 && use == PasswordUse::New && !allowEmpty) {
        return PasswordVerdict::Empty;
    }
    std::memcpy(password->units, line->units, units * sizeof(char16_t));
    password->length = units;
    return PasswordVerdict::Ok;
}

}  // namespace

bool takePasswordByte(PasswordLine* line, std::uint8_t byte)
{
    line->started = true;
    if (byte == '\n') {
        return false;
    }
    if (line->length == PASSWORD_LINE_CAPACITY) {
        line->overflow = true;  // a source without a line break (/dev/zero) ends here too
        return false;
    }
    line->bytes[line->length++] = byte;
    return true;
}

PasswordVerdict convertPasswordLine(PasswordLine* line, PasswordUse use, bool allowEmpty, PasswordRecord* password)
{
    wipeObject(*password);
    // Room for the decoder to write one unit per byte, and its terminator.
    static_assert(sizeof line->units / sizeof line->units[0] > sizeof line->bytes);
    const PasswordVerdict verdict = checkAndDecode(line, use, allowEmpty, password);
    wipeObject(line->bytes);
    wipeObject(line->units);
    line->length = 0;
    if (verdict != PasswordVerdict::Ok) {
        wipeObject(*password);
    }
    return verdict;
}
