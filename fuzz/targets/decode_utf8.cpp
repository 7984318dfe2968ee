// decodeUtf8 on arbitrary bytes: it never writes more units than bytes, never
// leaves half a surrogate pair, and what it produces survives encodeUtf8 and a
// second decode unchanged (up to the first zero unit, where encoding stops).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "text/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto decoded = std::make_unique<char16_t[]>(size + 1);
    const std::size_t units = decodeUtf8(data, size, decoded.get());
    FUZZ_CHECK(units <= size);
    FUZZ_CHECK(surrogatesPaired(decoded.get(), units));

    std::size_t length = 0;
    while (length < units && decoded[length] != 0) {
        ++length;
    }
    decoded[length] = 0;
    auto encoded = std::make_unique<std::uint8_t[]>(3 * length + 1);
    const std::size_t bytes = encodeUtf8(decoded.get(), encoded.get());
    FUZZ_CHECK(bytes >= 1 && bytes <= 3 * length + 1);
    FUZZ_CHECK(encoded[bytes - 1] == 0);

    auto again = std::make_unique<char16_t[]>(bytes);
    const std::size_t againUnits = decodeUtf8(encoded.get(), bytes - 1, again.get());
    FUZZ_CHECK(againUnits == length);
    FUZZ_CHECK(std::memcmp(again.get(), decoded.get(), length * sizeof(char16_t)) == 0);
    return 0;
}
