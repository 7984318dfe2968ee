#pragma once
// Paths as the system takes them. The core keeps every path in UTF-16; on
// Linux a name is a string of bytes that need not be UTF-8 at all. The mapping
// here is exact both ways, so the file acted on is always the file named:
// valid UTF-8 (shortest forms, no encoded surrogates, nothing above U+10FFFF)
// becomes the characters it encodes, and every other byte b becomes the lone
// surrogate U+DC00 + b. No lenient decoding ever turns two names into one.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

// Decodes the first n bytes of a system path into out (room for n + 1 units),
// NUL-terminated. A NUL byte ends the path. Returns the units written.
std::size_t decodeSystemPath(const std::uint8_t* bytes, std::size_t n, char16_t* out);

// The bytes of a UTF-16 path: out has room for capacity bytes, 3 per unit plus
// the terminating NUL always suffice. False, with nothing usable in out, when the
// path is no decodeSystemPath result: an unpaired surrogate other than the
// escapes above, or escapes that would read back as another character.
bool encodeSystemPath(const char16_t* path, std::uint8_t* out, std::size_t capacity, std::size_t* length);

// True when every surrogate of the NUL-terminated path is one of a pair: the
// only paths Windows is given (an unpaired one could name a file the user did
// not type on one system and none on another).
bool isWellFormedUtf16(const char16_t* path);

// The bytes of a core path as a string. False, with errno EILSEQ and *out
// empty, when the path stands for no name of this system.
inline bool systemPathOf(const char16_t* path, std::string* out)
{
    std::size_t units = 0;
    while (path[units] != 0) {
        ++units;
    }
    out->assign(3 * units + 1, '\0');
    std::size_t length = 0;
    if (!encodeSystemPath(path, reinterpret_cast<std::uint8_t*>(out->data()), out->size(), &length)) {
        out->clear();
        errno = EILSEQ;
        return false;
    }
    out->resize(length);
    return true;
}
