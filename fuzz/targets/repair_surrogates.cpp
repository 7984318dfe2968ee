// repairSurrogates on arbitrary UTF-16: the length stays, every unit that is
// not a surrogate stays, well-formed pairs stay, and afterwards no half pair
// is left (each one became a space).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_support.h"
#include "text/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::size_t units = size / 2;
    auto text = std::make_unique<char16_t[]>(units + 1);
    auto before = std::make_unique<char16_t[]>(units + 1);
    std::size_t length = 0;
    for (; length < units; ++length) {
        const auto unit = static_cast<char16_t>(data[2 * length] | (data[2 * length + 1] << 8));
        if (unit == 0) {
            break;
        }
        text[length] = unit;
        before[length] = unit;
    }
    text[length] = 0;
    repairSurrogates(text.get());
    FUZZ_CHECK(boundedLength(text.get(), length + 1) == length);
    FUZZ_CHECK(surrogatesPaired(text.get(), length));
    for (std::size_t k = 0; k < length; ++k) {
        const char16_t u = before[k];
        const bool surrogate = u >= 0xD800 && u <= 0xDFFF;
        if (!surrogate) {
            FUZZ_CHECK(text[k] == u);
        } else {
            FUZZ_CHECK(text[k] == u || text[k] == 0x20);
        }
        const bool pairStart =
            u >= 0xD800 && u <= 0xDBFF && k + 1 < length && before[k + 1] >= 0xDC00 && before[k + 1] <= 0xDFFF;
        if (pairStart) {
            FUZZ_CHECK(text[k] == u && text[k + 1] == before[k + 1]);
        }
    }
    return 0;
}
