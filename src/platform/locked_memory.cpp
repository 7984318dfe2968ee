#include "platform/locked_memory.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstring>
#include <utility>

#include "platform/secure_wipe.h"

namespace {

// Bytes after the capacity of a LockedBuffer that always stay zero.
constexpr std::size_t SPARE_BYTES = 2;

std::size_t pageSize()
{
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
#endif
}

// size rounded up to whole pages; 0 when that does not fit.
std::size_t wholePages(std::size_t size)
{
    const std::size_t page = pageSize();
    if (size == 0) {
        return page;
    }
    if (size > static_cast<std::size_t>(-1) - page) {
        return 0;
    }
    return (size + page - 1) / page * page;
}

}  // namespace

void* allocateLockedPages(std::size_t size, bool* locked)
{
    if (locked != nullptr) {
        *locked = false;
    }
    const std::size_t bytes = wholePages(size);
    if (bytes == 0) {
        return nullptr;
    }
#ifdef _WIN32
    void* p = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (p == nullptr) {
        return nullptr;
    }
    const bool pinned = VirtualLock(p, bytes) != FALSE;
#else
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        return nullptr;
    }
    // Out of core dumps even when the process limit allows one.
    ::madvise(p, bytes, MADV_DONTDUMP);
    const bool pinned = ::mlock(p, bytes) == 0;
#endif
    if (locked != nullptr) {
        *locked = pinned;
    }
    return p;  // fresh pages are zero
}

void releaseLockedPages(void* p, std::size_t size)
{
    if (p == nullptr) {
        return;
    }
    const std::size_t bytes = wholePages(size);
    secureWipe(p, bytes);
#ifdef _WIN32
    VirtualUnlock(p, bytes);
    VirtualFree(p, 0, MEM_RELEASE);
#else
    ::munlock(p, bytes);
    ::munmap(p, bytes);
#endif
}

LockedBuffer::~LockedBuffer()
{
    release();
}

LockedBuffer::LockedBuffer(LockedBuffer&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0))
{
}

LockedBuffer& LockedBuffer::operator=(LockedBuffer&& other) noexcept
{
    if (this != &other) {
        release();
        bytes_ = std::exchange(other.bytes_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

bool LockedBuffer::reserve(std::size_t capacity)
{
    if (bytes_ != nullptr && capacity <= capacity_) {
        return true;
    }
    if (capacity > static_cast<std::size_t>(-1) - SPARE_BYTES) {
        return false;
    }
    auto* grown = static_cast<std::uint8_t*>(allocateLockedPages(capacity + SPARE_BYTES, nullptr));
    if (grown == nullptr) {
        return false;
    }
    if (bytes_ != nullptr) {
        std::memcpy(grown, bytes_, size_);
        releaseLockedPages(bytes_, capacity_ + SPARE_BYTES);
    }
    bytes_ = grown;
    capacity_ = capacity;
    return true;
}

bool LockedBuffer::allocate(std::size_t size)
{
    release();
    if (!reserve(size)) {
        return false;
    }
    size_ = size;
    return true;
}

void LockedBuffer::resize(std::size_t size)
{
    if (size > capacity_) {
        size = capacity_;
    }
    if (size < size_) {
        secureWipe(bytes_ + size, size_ - size);
    }
    size_ = size;
}

bool LockedBuffer::append(const void* bytes, std::size_t count)
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

void LockedBuffer::release()
{
    releaseLockedPages(bytes_, capacity_ + SPARE_BYTES);
    bytes_ = nullptr;
    size_ = 0;
    capacity_ = 0;
}
