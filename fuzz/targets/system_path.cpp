// The exact path mapping on arbitrary input, read two ways. As bytes: every
// byte string decodes and encodes back to itself. As UTF-16 units: whatever
// encodes decodes back to the same units, and every well-formed text encodes.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_support.h"
#include "platform/system_path.h"

namespace {

void checkBytes(const std::uint8_t* data, std::size_t size)
{
    std::size_t n = 0;
    while (n < size && data[n] != 0) {
        ++n;
    }
    auto units = std::make_unique<char16_t[]>(n + 1);
    const std::size_t count = decodeSystemPath(data, size, units.get());
    FUZZ_CHECK(count <= n && units[count] == 0);
    auto back = std::make_unique<std::uint8_t[]>(3 * count + 1);
    std::size_t length = 0;
    FUZZ_CHECK(encodeSystemPath(units.get(), back.get(), 3 * count + 1, &length));
    FUZZ_CHECK(length == n);
    for (std::size_t k = 0; k < n; ++k) {
        FUZZ_CHECK(back[k] == data[k]);
    }
}

void checkUnits(const std::uint8_t* data, std::size_t size)
{
    const std::size_t most = size / 2;
    auto units = std::make_unique<char16_t[]>(most + 1);
    std::size_t count = 0;
    for (; count < most; ++count) {
        const auto unit = static_cast<char16_t>(data[2 * count] | (data[2 * count + 1] << 8));
        if (unit == 0) {
            break;
        }
        units[count] = unit;
    }
    units[count] = 0;
    auto bytes = std::make_unique<std::uint8_t[]>(3 * count + 1);
    std::size_t length = 0;
    const bool encoded = encodeSystemPath(units.get(), bytes.get(), 3 * count + 1, &length);
    if (isWellFormedUtf16(units.get())) {
        FUZZ_CHECK(encoded);
    }
    if (!encoded) {
        return;
    }
    auto again = std::make_unique<char16_t[]>(length + 1);
    const std::size_t decoded = decodeSystemPath(bytes.get(), length, again.get());
    FUZZ_CHECK(decoded == count);
    for (std::size_t k = 0; k < count; ++k) {
        FUZZ_CHECK(again[k] == units[k]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkBytes(data, size);
    checkUnits(data, size);
    return 0;
}
