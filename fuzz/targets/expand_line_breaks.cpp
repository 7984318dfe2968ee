// countBareLineFeeds sizes the output of expandLineBreaks: the expansion must
// fit the buffer the open job allocates from it (the sanitizers see any write
// past it), put a carriage return before every bare line feed, and keep every
// other unit in order.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_support.h"
#include "text/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::size_t bare = countBareLineFeeds(data, size);
    FUZZ_CHECK(bare <= size);
    const std::size_t capacity = size + bare + 1;
    auto out = std::make_unique<char16_t[]>(capacity);
    const std::size_t units = expandLineBreaks(data, size, out.get());
    FUZZ_CHECK(units < capacity);
    FUZZ_CHECK(out[units] == 0);

    // Without the inserted carriage returns the output is the plain decode.
    auto plain = std::make_unique<char16_t[]>(size + 1);
    const std::size_t plainUnits = decodeUtf8(data, size, plain.get());
    std::size_t k = 0;
    std::size_t inserted = 0;
    for (std::size_t p = 0; p < plainUnits; ++p) {
        if (plain[p] == 0x0A && (p == 0 || plain[p - 1] != 0x0D)) {
            FUZZ_CHECK(k < units && out[k] == 0x0D);
            ++k;
            ++inserted;
        }
        FUZZ_CHECK(k < units && out[k] == plain[p]);
        ++k;
    }
    FUZZ_CHECK(k == units);
    // An overlong form such as C0 8A decodes to a line feed that the byte
    // count does not see, so inserted may exceed bare; the output must still
    // fit, since such a form spends two bytes or more on the line feed.
    FUZZ_CHECK(plainUnits + inserted <= size + bare);
    return 0;
}
