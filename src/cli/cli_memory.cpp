#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#endif

#include "cli/cli_memory.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/secure_wipe.h"

void disableCoreDumps()
{
#ifdef _WIN32
    // No error box and no crash dump dialog with the process's memory in it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
#else
    struct rlimit none {};
    setrlimit(RLIMIT_CORE, &none);
#ifndef __SANITIZE_ADDRESS__
    // Also keeps other processes of the same user from reading our memory. The
    // sanitizer build leaves it out: its leak checker must attach to the process.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
#endif
}

void lockMemory(void* p, std::size_t n)
{
    if (p == nullptr || n == 0) {
        return;
    }
#ifdef _WIN32
    VirtualLock(p, n);
#else
    mlock(p, n);
#endif
}

void unlockMemory(void* p, std::size_t n)
{
    if (p == nullptr || n == 0) {
        return;
    }
#ifdef _WIN32
    VirtualUnlock(p, n);
#else
    munlock(p, n);
#endif
}

void* allocateLocked(std::size_t size)
{
    void* p = std::calloc(1, size);
    lockMemory(p, size);
    return p;
}

void releaseLocked(void* p, std::size_t size)
{
    if (p == nullptr) {
        return;
    }
    secureWipe(p, size);
    unlockMemory(p, size);
    std::free(p);
}

SecureBuffer::~SecureBuffer()
{
    release();
}

SecureBuffer::SecureBuffer(SecureBuffer&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0))
{
}

SecureBuffer& SecureBuffer::operator=(SecureBuffer&& other) noexcept
{
    if (this != &other) {
        release();
        bytes_ = std::exchange(other.bytes_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

bool SecureBuffer::reserve(std::size_t capacity)
{
    if (bytes_ != nullptr && capacity <= capacity_) {
        return true;
    }
    if (capacity > static_cast<std::size_t>(-1) - 2) {
        return false;
    }
    auto* grown = static_cast<std::uint8_t*>(std::calloc(capacity + 2, 1));
    if (grown == nullptr) {
        return false;
    }
    if (bytes_ != nullptr) {
        std::memcpy(grown, bytes_, size_);
        secureWipe(bytes_, capacity_ + 2);
        std::free(bytes_);
    }
    bytes_ = grown;
    capacity_ = capacity;
    return true;
}

void SecureBuffer::resize(std::size_t size)
{
    if (size > capacity_) {
        size = capacity_;
    }
    if (size < size_) {
        secureWipe(bytes_ + size, size_ - size);
    }
    size_ = size;
}

bool SecureBuffer::append(const void* bytes, std::size_t count)
{
    if (count == 0) {
        return reserve(size_);
    }
    if (size_ + count > capacity_) {
        std::size_t wanted = capacity_ < 65536 ? 65536 : capacity_;
        while (wanted < size_ + count) {
            wanted *= 2;
        }
        if (!reserve(wanted)) {
            return false;
        }
    }
    std::memcpy(bytes_ + size_, bytes, count);
    size_ += count;
    return true;
}

void SecureBuffer::release()
{
    if (bytes_ != nullptr) {
        secureWipe(bytes_, capacity_ + 2);
        std::free(bytes_);
    }
    bytes_ = nullptr;
    size_ = 0;
    capacity_ = 0;
}
