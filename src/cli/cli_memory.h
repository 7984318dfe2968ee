#pragma once
// Memory that holds text or secrets: wiped on every release, locked in RAM
// where the system allows, and a process that leaves no core dump behind.
#include <cstddef>
#include <cstdint>

// Turns off core dumps (and crash dumps on Windows). Best effort.
void disableCoreDumps();
// Keeps the pages of [p, p+n) out of swap where allowed; best effort.
void lockMemory(void* p, std::size_t n);
void unlockMemory(void* p, std::size_t n);

// A byte buffer for document text. It never reallocates in place: growing
// copies into a new block and wipes the old one, so no stale copy survives.
// Two zero bytes always follow the data, so UTF-16 text in it is terminated.
class SecureBuffer {
public:
    SecureBuffer() = default;
    ~SecureBuffer();
    SecureBuffer(const SecureBuffer&) = delete;
    SecureBuffer& operator=(const SecureBuffer&) = delete;
    SecureBuffer(SecureBuffer&& other) noexcept;
    SecureBuffer& operator=(SecureBuffer&& other) noexcept;

    // Makes room for capacity data bytes (plus the two spare zero bytes);
    // keeps the contents. False when memory is short.
    bool reserve(std::size_t capacity);
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

// A password as the core takes it: NUL-terminated UTF-16 of at most 255 units
// (the editor's limit). Fixed size, so it is never copied by a reallocation.
inline constexpr std::size_t PASSWORD_MAX_UNITS = 255;
struct PasswordRecord {
    char16_t units[PASSWORD_MAX_UNITS + 1];
    std::size_t length;
};

// Allocates a zeroed, locked object of type T on the heap and wipes it on release.
template <class T>
class LockedRecord {
public:
    LockedRecord();
    ~LockedRecord();
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

void* allocateLocked(std::size_t size);
void releaseLocked(void* p, std::size_t size);

template <class T>
LockedRecord<T>::LockedRecord() : record_(static_cast<T*>(allocateLocked(sizeof(T))))
{
}

template <class T>
LockedRecord<T>::~LockedRecord()
{
    releaseLocked(record_, sizeof(T));
}
