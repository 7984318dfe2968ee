// The UTF-16 conversions of vtxt: a stored UTF-16 entry written out as UTF-8
// (decrypt, passwd), UTF-16 input stored as UTF-8 (encrypt --from-utf16), and
// the lenient conversions of arguments and header strings. The first byte
// picks the conversion; the rest is its input.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/cli_document.h"
#include "cli/cli_text.h"
#include "fuzz_support.h"
#include "text/text_encoding.h"

namespace {

// The units of little-endian bytes (a trailing odd byte dropped), each
// unpaired surrogate replaced by a space, as the editor shows the text.
std::u16string repairedUnits(const std::uint8_t* bytes, std::size_t count)
{
    std::u16string units;
    for (std::size_t k = 0; k + 1 < count; k += 2) {
        units += static_cast<char16_t>(bytes[k] | (bytes[k + 1] << 8));
    }
    for (std::size_t k = 0; k < units.size(); ++k) {
        const bool high = units[k] >= 0xD800 && units[k] <= 0xDBFF;
        const bool low = units[k] >= 0xDC00 && units[k] <= 0xDFFF;
        if (high && k + 1 < units.size() && units[k + 1] >= 0xDC00 && units[k + 1] <= 0xDFFF) {
            ++k;
        } else if (high || low) {
            units[k] = u' ';
        }
    }
    return units;
}

// UTF-8 (valid, so the core's decoder is exact on it) as UTF-16 units.
std::u16string unitsOf(const LockedBuffer& utf8)
{
    FUZZ_CHECK(isValidUtf8(utf8.data(), utf8.size()));
    std::u16string units(utf8.size() + 1, u'\0');
    units.resize(decodeUtf8(utf8.data(), utf8.size(), units.data()));
    return units;
}

void checkStoredEntry(const std::uint8_t* data, std::size_t size)
{
    // Exactly the size the tool reserves, so a read past the spare bytes is seen.
    LockedBuffer stored;
    LockedBuffer out;
    FUZZ_CHECK(stored.reserve(size) && stored.append(data, size));
    FUZZ_CHECK(wideTextToUtf8(&stored, &out));
    // Every unit arrives, NUL characters included; only half pairs change.
    FUZZ_CHECK(unitsOf(out) == repairedUnits(data, size));
}

void checkUtf16Input(const std::uint8_t* data, std::size_t size)
{
    LockedBuffer input;
    LockedBuffer out;
    FUZZ_CHECK(input.reserve(size) && input.append(data, size));
    const int status = utf16InputToUtf8(&input, "fuzz input", &out);
    if (status != 0) {
        FUZZ_CHECK(status == 1 || status == RESULT_LIMIT_EXCEEDED);
        return;
    }
    FUZZ_CHECK(size % 2 == 0);
    const std::u16string units = unitsOf(out);
    // One unit out for each unit in, a byte order mark aside; none of them NUL.
    const bool marked = size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF));
    FUZZ_CHECK(units.size() == size / 2 - (marked ? 1 : 0));
    FUZZ_CHECK(units.find(u'\0') == std::u16string::npos);
}

void checkLenientConversions(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::u16string units = utf8ToUtf16(bytes);
    FUZZ_CHECK(units.size() <= size);
    // UTF-8 without a NUL goes to UTF-16 and back unchanged.
    if (isValidUtf8(data, size) && bytes.find('\0') == std::string::npos) {
        FUZZ_CHECK(utf16ToUtf8(units) == bytes);
    }
    std::u16string raw;
    for (std::size_t k = 0; k + 1 < size; k += 2) {
        const auto unit = static_cast<char16_t>(data[k] | (data[k + 1] << 8));
        if (unit != 0) {
            raw += unit;
        }
    }
    const std::string encoded = utf16ToUtf8(raw);
    FUZZ_CHECK(isValidUtf8(reinterpret_cast<const std::uint8_t*>(encoded.data()), encoded.size()));
    FUZZ_CHECK(encoded.size() <= 3 * raw.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    switch (data[0] % 3) {
        case 0:
            checkStoredEntry(data + 1, size - 1);
            break;
        case 1:
            checkUtf16Input(data + 1, size - 1);
            break;
        default:
            checkLenientConversions(data + 1, size - 1);
            break;
    }
    return 0;
}
