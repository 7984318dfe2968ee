// The password line reader, on every source's bytes. Opening an existing file
// accepts exactly the lines the tool always accepted (the core's lenient
// decoder) but for a NUL, with the same password; a new password is accepted
// only as valid UTF-8 that reads back to its very bytes; a refused line leaves
// nothing behind. Input: the bytes a source gives.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "cli/cli_password_line.h"
#include "cli/cli_text.h"
#include "fuzz_support.h"
#include "text/text_encoding.h"

namespace {

// What the tool read from these bytes before the line reader: the first line
// up to its LF (at most 1024 bytes kept), one CR and a UTF-8 mark dropped, and
// decoded leniently. False when it refused the line as too long.
bool readTheOldWay(const std::uint8_t* data, std::size_t size, std::u16string* units, bool* hadNul)
{
    std::string line;
    for (std::size_t k = 0; k < size && data[k] != '\n'; ++k) {
        if (line.size() == PASSWORD_LINE_CAPACITY) {
            return false;
        }
        line += static_cast<char>(data[k]);
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (line.rfind("\xEF\xBB\xBF", 0) == 0) {
        line.erase(0, 3);
    }
    units->assign(line.size() + 1, u'\0');
    units->resize(decodeUtf8(reinterpret_cast<const std::uint8_t*>(line.data()), line.size(), units->data()));
    *hadNul = line.find('\0') != std::string::npos || units->find(u'\0') != std::u16string::npos;
    return units->size() <= PASSWORD_MAX_UNITS;
}

bool allZero(const PasswordRecord& password)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&password);
    for (std::size_t k = 0; k < sizeof password; ++k) {
        if (bytes[k] != 0) {
            return false;
        }
    }
    return true;
}

PasswordVerdict convert(const std::uint8_t* data, std::size_t size, PasswordUse use, bool allowEmpty,
                        PasswordRecord* password)
{
    PasswordLine line{};
    std::size_t taken = 0;
    while (taken < size && takePasswordByte(&line, data[taken++])) {
    }
    // Nothing after the line's LF is taken from the source.
    FUZZ_CHECK(taken == size || data[taken - 1] == '\n' || line.overflow);
    FUZZ_CHECK(line.length <= PASSWORD_LINE_CAPACITY);
    std::memset(password, 0xA5, sizeof *password);
    const PasswordVerdict verdict = convertPasswordLine(&line, use, allowEmpty, password);
    FUZZ_CHECK(line.length == 0);
    if (verdict == PasswordVerdict::Ok) {
        FUZZ_CHECK(password->length <= PASSWORD_MAX_UNITS && password->units[password->length] == 0);
    } else {
        FUZZ_CHECK(allZero(*password));
    }
    return verdict;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PasswordRecord opened;
    const PasswordVerdict openVerdict = convert(data, size, PasswordUse::Open, false, &opened);
    std::u16string before;
    bool hadNul = false;
    const bool acceptedBefore = size > 0 && readTheOldWay(data, size, &before, &hadNul);
    FUZZ_CHECK((openVerdict == PasswordVerdict::Ok) == (acceptedBefore && !hadNul));
    if (openVerdict == PasswordVerdict::Ok) {
        FUZZ_CHECK(std::u16string(opened.units, opened.length) == before);
    }

    for (const bool allowEmpty : {false, true}) {
        PasswordRecord fresh;
        const PasswordVerdict verdict = convert(data, size, PasswordUse::New, allowEmpty, &fresh);
        if (verdict != PasswordVerdict::Ok) {
            continue;
        }
        // The very same password opens the file, and it is its UTF-8 line exactly.
        FUZZ_CHECK(openVerdict == PasswordVerdict::Ok);
        FUZZ_CHECK(fresh.length == opened.length &&
                   std::memcmp(fresh.units, opened.units, fresh.length * sizeof(char16_t)) == 0);
        FUZZ_CHECK(allowEmpty || fresh.length > 0);
        std::string encoded(4 * fresh.length + 1, '\0');
        encoded.resize(encodeUtf8(fresh.units, reinterpret_cast<std::uint8_t*>(encoded.data())) - 1);
        FUZZ_CHECK(isValidUtf8(reinterpret_cast<const std::uint8_t*>(encoded.data()), encoded.size()));
        FUZZ_CHECK(utf8ToUtf16(encoded) == std::u16string(fresh.units, fresh.length));
    }
    return 0;
}
