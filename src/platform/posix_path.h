#pragma once
// The bytes of a core path for the POSIX calls of the platform layer.
#include <cerrno>
#include <string>

#include "platform/system_path.h"

// False, with errno EILSEQ, when the path stands for no name of this system.
inline bool systemPathOf(const char16_t* path, std::string* out)
{
    std::size_t units = 0;
    while (path[units] != 0) {
        ++units;
    }
    out->assign(3 * units + 1, '\0');
    std::size_t length = 0;
    if (!encodeSystemPath(path, reinterpret_cast<std::uint8_t*>(out->data()), out->size(), &length)) {
        out->clear();
        errno = EILSEQ;
        return false;
    }
    out->resize(length);
    return true;
}
