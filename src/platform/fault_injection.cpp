#include "platform/fault_injection.h"

#include "platform/platform.h"

#ifdef TARNWICK_FAULT_INJECTION

#include <atomic>
#include <mutex>
#include <string>

namespace {

struct FaultState {
    std::mutex lock;
    std::uint64_t counts[16] = {};
    std::uint32_t armedMask = 0;
    std::uint64_t armedRemaining = 0;  // calls of the armed kinds still to pass before the failing one
    bool persistent = false;
    bool firing = false;  // a persistent fault that has started failing
    std::uint64_t failures = 0;
    std::uint32_t lastFailed = 0;
    bool freeSpaceInjected = false;
    bool freeSpaceSucceeds = true;
    std::uint64_t freeSpace = 0;
    std::u16string lastDirectory;
    bool samplePinned = false;
    std::uint64_t sampleState = 0;
};

FaultState& state()
{
    static FaultState instance;
    return instance;
}

unsigned indexOf(FaultCall call)
{
    unsigned index = 0;
    for (std::uint32_t bit = call; bit > 1; bit >>= 1) {
        ++index;
    }
    return index;
}

}  // namespace

void resetFaults()
{
    FaultState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    for (std::uint64_t& count : s.counts) {
        count = 0;
    }
    s.armedMask = 0;
    s.armedRemaining = 0;
    s.persistent = false;
    s.firing = false;
    s.failures = 0;
    s.lastFailed = 0;
    s.freeSpaceInjected = false;
    s.freeSpaceSucceeds = true;
    s.freeSpace = 0;
    s.lastDirectory.clear();
    s.samplePinned = false;
    s.sampleState = 0;
}

void armFault(std::uint32_t callMask, std::uint64_t k, bool persistent)
{
    FaultState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.armedMask = (k == 0) ? 0 : callMask;
    s.armedRemaining = (k == 0) ? 0 : k - 1;
    s.persistent = persistent;
    s.firing = false;
}

std::uint64_t ioCallCount(std::uint32_t callMask)
{
    FaultState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    std::uint64_t total = 0;
    for (unsigned i = 0; i < 16; ++i) {
        if ((callMask & (1u << i)) != 0) {
            total += s.counts[i];
        }
    }
    return total;
}

std::uint64_t injectedFailureCount()
{
    FaultState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.failures;
}

std::uint32_t lastInjectedCall()
{
    FaultState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.lastFailed;
}

void injectFreeSpace(std::uint64_t freeBytes)
{
    FaultState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.freeSpaceInjected = true;
    s.freeSpaceSucceeds = true;
    s.freeSpace = freeBytes;
}

void injectFreeSpaceQueryFailure()
{
    FaultState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.freeSpaceInjected = true;
    s.freeSpaceSucceeds = false;
    s.freeSpace = 0;
}

const char16_t* lastFreeSpaceDirectory()
{
    FaultState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.lastDirectory.c_str();
}

void pinSystemSample(std::uint64_t seed)
{
    FaultState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.samplePinned = true;
    s.sampleState = seed;
}

bool injectedFailure(FaultCall call)
{
    FaultState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    ++s.counts[indexOf(call)];
    if ((s.armedMask & call) == 0) {
        return false;
    }
    if (s.firing) {
        ++s.failures;
        s.lastFailed = call;
        return true;
    }
    if (s.armedRemaining > 0) {
        --s.armedRemaining;
        return false;
    }
    if (s.persistent) {
        s.firing = true;
    } else {
        s.armedMask = 0;
    }
    ++s.failures;
    s.lastFailed = call;
    return true;
}

bool injectedFreeSpace(const char16_t* directory, bool* succeeded, std::uint64_t* freeBytes)
{
    FaultState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.lastDirectory = (directory != nullptr) ? directory : u"";
    if (!s.freeSpaceInjected) {
        return false;
    }
    *succeeded = s.freeSpaceSucceeds;
    *freeBytes = s.freeSpace;
    return true;
}

bool injectedSystemSample(SystemSample* sample)
{
    FaultState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.samplePinned) {
        return false;
    }
    // splitmix64: any fixed, well-spread filler will do; only repeatability matters.
    auto* bytes = reinterpret_cast<unsigned char*>(sample);
    for (std::size_t k = 0; k < sizeof *sample; k += 8) {
        s.sampleState += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = s.sampleState;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        for (std::size_t b = 0; b < 8 && k + b < sizeof *sample; ++b) {
            bytes[k + b] = static_cast<unsigned char>(z >> (8 * b));
        }
    }
    return true;
}

#endif
