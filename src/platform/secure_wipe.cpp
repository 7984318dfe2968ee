#include "platform/secure_wipe.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <string.h>
#endif

void secureWipe(void* p, std::size_t n)
{
    if (p == nullptr || n == 0) {
        return;
    }
#ifdef _WIN32
    SecureZeroMemory(p, n);
#else
    explicit_bzero(p, n);
#endif
}
