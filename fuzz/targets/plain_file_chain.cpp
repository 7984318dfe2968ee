// The plain-file open: the first 8 MiB of any file go through detection and
// the conversion its kind calls for, into buffers sized as the job sizes them.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    runPlainFileChain(data, size);
    return 0;
}
