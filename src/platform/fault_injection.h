#pragma once
// Lets a test make chosen calls of the platform layer fail, so that every
// failure path of the file code can be walked. Present only in the testing
// build of the core (TARNWICK_FAULT_INJECTION); in the product the check below
// is a constant false and the rest does not exist.
#include <cstdint>

struct SystemSample;

enum FaultCall : std::uint32_t {
    FAULT_OPEN = 1u << 0,     // openFileForRead
    FAULT_CREATE = 1u << 1,   // createNewFile
    FAULT_READ = 1u << 2,     // readFile
    FAULT_WRITE = 1u << 3,    // writeFile
    FAULT_SEEK = 1u << 4,     // seekFile
    FAULT_FLUSH = 1u << 5,    // flushFile
    FAULT_CLOSE = 1u << 6,    // closeFile: the file is closed all the same, then the failure is reported
    FAULT_REPLACE = 1u << 7,  // replaceFile
    FAULT_ALL_IO = (1u << 8) - 1,
    // Silent damage rather than failure: the call reports success with one bit changed.
    FAULT_CORRUPT_WRITE = 1u << 8,       // writeFile stores the bytes with one bit flipped
    FAULT_CORRUPT_READ = 1u << 9,        // readFile hands back the bytes with one bit flipped
    FAULT_CORRUPT_TRANSFORM = 1u << 10,  // encryptPayload swaps the first two bytes of a block's text
};

// What a corrupting fault does to the bytes of the call it hits: the middle byte's lowest bit flips.
inline void flipOneBit(void* bytes, std::uint32_t count)
{
    if (count != 0) {
        static_cast<unsigned char*>(bytes)[count / 2] ^= 1u;
    }
}

#ifdef TARNWICK_FAULT_INJECTION

// Forgets every armed fault and injected value and sets all counters to zero.
void resetFaults();
// From now on, the k-th call (1 = the next one) among the kinds in callMask
// fails; with persistent, that call and every later one of those kinds fail.
void armFault(std::uint32_t callMask, std::uint64_t k, bool persistent);
// Calls of the kinds in callMask made since the last resetFaults, failed ones included.
std::uint64_t ioCallCount(std::uint32_t callMask);
// Calls that failed because of an armed fault since the last resetFaults.
std::uint64_t injectedFailureCount();
// The kind of the last call that failed because of an armed fault; 0 when none has.
std::uint32_t lastInjectedCall();
// diskFreeBytes reports this many free bytes instead of asking the system.
void injectFreeSpace(std::uint64_t freeBytes);
// diskFreeBytes fails as if the query had failed.
void injectFreeSpaceQueryFailure();
// The directory named in the last diskFreeBytes call (recorded even when injected).
const char16_t* lastFreeSpaceDirectory();
// sampleSystemValues fills its record from a generator seeded with seed
// instead of asking the system, one draw per call. Saves, and what any other
// password makes of them, are then the same on every run and every platform.
void pinSystemSample(std::uint64_t seed);

// Called by the platform layer at the start of each call of the given kind:
// counts it and tells whether it is to fail.
bool injectedFailure(FaultCall call);
// Called by diskFreeBytes: true when a value or failure is injected, with the
// call's outcome in *succeeded and *freeBytes.
bool injectedFreeSpace(const char16_t* directory, bool* succeeded, std::uint64_t* freeBytes);
// Called by sampleSystemValues: true when the sample was filled from the pinned seed.
bool injectedSystemSample(SystemSample* sample);

#else

inline constexpr bool injectedFailure(FaultCall)
{
    return false;
}

inline constexpr bool injectedFreeSpace(const char16_t*, bool*, std::uint64_t*)
{
    return false;
}

inline constexpr bool injectedSystemSample(SystemSample*)
{
    return false;
}

#endif
