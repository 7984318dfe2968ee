#pragma once
// Memory for secrets and text: pages of its own for every allocation, kept
// out of swap where the system allows (mlock / VirtualLock) and out of core
// dumps, wiped before it is given back, and unlocked only when freed. Since
// no two allocations share a page, releasing one never unlocks another.
#include <cstddef>
#include <cstdint>
#include <new>

// size bytes (rounded up to whole pages), zeroed, page-aligned; null when the
// system has no memory. *locked (may be null) tells whether the pages are
// locked: a system may refuse to lock more than a limit, and the memory is
// then still of its own pages, wiped and out of dumps.
void* allocateLockedPages(std::size_t size, bool* locked);
// Wipes the size bytes at p, unlocks and frees their pages. Null is allowed.
void releaseLockedPages(void* p, std::size_t size);

// A byte buffer for text and other secrets, in locked pages. Growing moves the
// bytes into new pages and wipes the old ones, so no stale copy survives. Two
// zero bytes always follow the capacity, so UTF-16 text in it is terminated.
class LockedBuffer {
public:
    LockedBuffer() = default;
    ~LockedBuffer();
    LockedBuffer(const LockedBuffer&) = delete;
    LockedBuffer& operator=(const LockedBuffer&) = delete;
    LockedBuffer(LockedBuffer&& other) noexcept;
    LockedBuffer& operator=(LockedBuffer&& other) noexcept;

    // Makes room for capacity data bytes (plus the two spare zero bytes);
    // keeps the contents. False when memory is short.
    bool reserve(std::size_t capacity);
    // A fresh buffer of size zero bytes (the old contents wiped). False when memory is short.
    bool allocate(std::size_t size);
    // Sets the size (at most the capacity); bytes past it are zeroed.
    void resize(std::size_t size);
    // Appends count bytes, growing as needed. False when memory is short.
    bool append(const void* bytes, std::size_t count);
    // Wipes and frees everything.
    void release();

    std::uint8_t* data()
    {
        return bytes_;
    }
    const std::uint8_t* data() const
    {
        return bytes_;
    }
    char16_t* units()
    {
        return reinterpret_cast<char16_t*>(bytes_);
    }
    std::size_t size() const
    {
        return size_;
    }
    std::size_t capacity() const
    {
        return capacity_;
    }

private:
    std::uint8_t* bytes_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// One zeroed object of type T in locked pages of its own, wiped on release.
// T must be a plain record (no constructor or destructor is run).
template <class T>
class LockedRecord {
public:
    LockedRecord() : record_(static_cast<T*>(allocateLockedPages(sizeof(T), nullptr))) {}
    ~LockedRecord()
    {
        releaseLockedPages(record_, sizeof(T));
    }
    LockedRecord(const LockedRecord&) = delete;
    LockedRecord& operator=(const LockedRecord&) = delete;
    T* get()
    {
        return record_;
    }
    T* operator->()
    {
        return record_;
    }
    T& operator*()
    {
        return *record_;
    }
    explicit operator bool() const
    {
        return record_ != nullptr;
    }

private:
    T* record_ = nullptr;
};
