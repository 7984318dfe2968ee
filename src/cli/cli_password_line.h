#pragma once
// The one reader of password lines: the prompt, a password file and a
// descriptor all hand their bytes to it, one at a time; it checks the line and
// converts it once into the password the core takes. Nothing here reads a
// file or allocates, so every buffer is a fixed record the caller wipes.
#include <cstddef>
#include <cstdint>

#include "cli/cli_memory.h"

// Room for the longest line a 255-unit password can be in UTF-8 (765 bytes),
// a byte order mark and the line break, with margin.
inline constexpr std::size_t PASSWORD_LINE_CAPACITY = 1024;

struct PasswordLine {
    std::uint8_t bytes[PASSWORD_LINE_CAPACITY];
    std::size_t length;
    char16_t units[PASSWORD_LINE_CAPACITY + 1];
    bool started;   // the source gave at least one byte
    bool overflow;  // more than the capacity came before the line break
    bool notText;   // the console gave units that are no Unicode text (an unpaired surrogate)
};

// Whose password a line is. Opening an existing file takes what the tool always
// took (the core's lenient UTF-8 decoder), so no file is locked out; a new
// password must be valid UTF-8, so that two different lines never make one key.
enum class PasswordUse { Open, New };

enum class PasswordVerdict {
    Ok,
    NoPassword,  // the source ended before its first byte
    Empty,       // a new password that is empty, without allowEmpty
    HasNul,      // a NUL byte, or a character that decodes to one
    NotUtf8,     // a new password that is not valid UTF-8
    TooLong,     // more than 255 UTF-16 units
};

// Takes the next byte of a source. Returns false once the line is complete
// (its LF was taken) or too long; the caller stops reading there, so nothing
// after the line is consumed from a shared descriptor.
bool takePasswordByte(PasswordLine* line, std::uint8_t byte);

// Checks the line (its CR before the LF and a leading UTF-8 byte order mark
// are not part of it) and converts it into *password. Wipes the line's bytes
// and units; *password is wiped first and holds the password only on Ok.
PasswordVerdict convertPasswordLine(PasswordLine* line, PasswordUse use, bool allowEmpty, PasswordRecord* password);
