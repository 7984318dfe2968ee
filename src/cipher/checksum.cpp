#include "cipher/checksum.h"

std::uint32_t continueRotateAddChecksum(std::uint32_t checksum, const void* bytes, std::size_t length)
{
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    for (std::size_t k = 0; k < length; ++k) {
        checksum = rotateAddStep(checksum, p[k]);
    }
    return checksum;
}

std::uint32_t rotateAddChecksum(const void* bytes, std::size_t length)
{
    return continueRotateAddChecksum(0, bytes, length);
}
