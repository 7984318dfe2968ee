// The conversions after a container was decrypted. The first byte picks the
// case: a "vtxt" container storing UTF-8, one whose entry says UTF-16, or a
// "kzx" container whose bytes are detected like a plain file.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const bool isTextContainer = (data[0] & 1) == 0;
    const bool wideEntry = (data[0] & 2) != 0;
    runContainerTextChain(data + 1, size - 1, isTextContainer, wideEntry);
    return 0;
}
