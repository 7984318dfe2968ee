// The escaping of names and hints: whatever the bytes (a name from the command
// line) or UTF-16 units (a hint or entry name from a hostile header), the text
// for a terminal holds nothing a terminal acts on, and the JSON is valid and
// reads back as exactly the units. Input: the bytes, also read as UTF-16LE.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/cli_text.h"
#include "fuzz_support.h"
#include "support/json_string.h"
#include "text/text_encoding.h"

namespace {

// Checked on the bytes themselves, not through the tool's own classification.
void checkNothingATerminalActsOn(const std::string& shown)
{
    static const char* const BIDI[] = {"\xD8\x9C",     "\xE2\x80\x8E", "\xE2\x80\x8F", "\xE2\x80\xAA",
                                       "\xE2\x80\xAB", "\xE2\x80\xAC", "\xE2\x80\xAD", "\xE2\x80\xAE",
                                       "\xE2\x81\xA6", "\xE2\x81\xA7", "\xE2\x81\xA8", "\xE2\x81\xA9"};
    FUZZ_CHECK(isValidUtf8(reinterpret_cast<const std::uint8_t*>(shown.data()), shown.size()));
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const auto c = static_cast<unsigned char>(shown[k]);
        FUZZ_CHECK(c >= 0x20 && c != 0x7F);
        FUZZ_CHECK(!(c == 0xC2 && k + 1 < shown.size() && static_cast<unsigned char>(shown[k + 1]) <= 0x9F));
    }
    for (const char* bidi : BIDI) {
        FUZZ_CHECK(shown.find(bidi) == std::string::npos);
    }
    FUZZ_CHECK(escapeForTerminal(shown) == shown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string shown = escapeForTerminal(bytes);
    checkNothingATerminalActsOn(shown);
    // Text without controls that is UTF-8 already is shown as it is.
    bool plain = isValidUtf8(data, size);
    for (std::size_t k = 0; plain && k < size;) {
        char32_t c = 0;
        k += nextUtf8Character(data + k, size - k, &c);
        plain = !isTerminalControl(c);
    }
    FUZZ_CHECK(!plain || shown == bytes);

    std::u16string units;
    for (std::size_t k = 0; k + 1 < size; k += 2) {
        units += static_cast<char16_t>(data[k] | (data[k + 1] << 8));
    }
    checkNothingATerminalActsOn(escapeForTerminal(units));

    std::string json;
    appendJsonString(&json, units);
    std::u16string back;
    FUZZ_CHECK(decodeJsonString(json, &back));
    FUZZ_CHECK(back == units);
    checkNothingATerminalActsOn(json);

    json.clear();
    appendJsonString(&json, bytes);
    FUZZ_CHECK(decodeJsonString(json, &back));
    checkNothingATerminalActsOn(json);
    if (isValidUtf8(data, size)) {
        // Valid UTF-8 reads back as itself (the core's decoder is exact on it).
        std::u16string expected(size + 1, u'\0');
        expected.resize(decodeUtf8(data, size, expected.data()));
        FUZZ_CHECK(back == expected);
    }
    return 0;
}
