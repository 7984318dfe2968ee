#pragma once
#include <cstddef>

// Overwrites n bytes at p with zeros in a way the optimiser cannot drop, even
// when the buffer dies right after. Every buffer that held text, a password or
// key material goes through here before it is freed or leaves scope.
void secureWipe(void* p, std::size_t n);

template <class T>
void wipeObject(T& v)
{
    secureWipe(&v, sizeof v);
}
