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
    FAULT_REPLACE = 1u << 7,  // replaceFile, and the move of the file layer's commit
    FAULT_ALL_IO = (1u << 8) - 1,
    // Outside FAULT_ALL_IO: calls whose failure does not fail a save.
    FAULT_SYNC_FOLDER = 1u << 8,  // the folder flush after a replacement (the new name is in place already)
    FAULT_MOVE = 1u << 9,         // the moves that settle a failed ReplaceFileW (Windows)
    // Silent damage rather than failure: the call reports success with one bit changed.
    FAULT_CORRUPT_WRITE = 1u << 10,      // writeFile stores the bytes with one bit flipped
    FAULT_CORRUPT_READ = 1u << 11,       // readFile hands back the bytes with one bit flipped
    FAULT_CORRUPT_TRANSFORM = 1u << 12,  // encryptPayload swaps the first two bytes of a block's text
};
inline constexpr unsigned FAULT_KIND_COUNT = 13;

// The moments of the file layer at which a test may act on the files.
enum ReplaceStep : std::uint32_t {
    REPLACE_STEP_CREATED = 1,        // the temporary file exists and has its mode
    REPLACE_STEP_BEFORE_COMMIT = 2,  // written, flushed and closed; next comes the move
};
using ReplaceStepHook = void (*)(std::uint32_t step, const char16_t* temporary, const char16_t* target, void* context);

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
// Calls hook at each ReplaceStep of the file layer (null: no hook). Lets a
// test change the folder at an exact moment instead of racing the save.
void setReplaceStepHook(ReplaceStepHook hook, void* context);
// The next ReplaceFileW (Windows) fails with error, after leaving the files as
// Windows documents for that error: 1175 and 1176 (a backup name given) move
// nothing; 1177 moves the replaced file to the backup name; ERROR_FILE_NOT_FOUND
// is a target that vanished before the call. Other errors move nothing.
void injectReplaceOutcome(std::uint32_t error);

// Called by the platform layer at the start of each call of the given kind:
// counts it and tells whether it is to fail.
bool injectedFailure(FaultCall call);
// Called by diskFreeBytes: true when a value or failure is injected, with the
// call's outcome in *succeeded and *freeBytes.
bool injectedFreeSpace(const char16_t* directory, bool* succeeded, std::uint64_t* freeBytes);
// Called by sampleSystemValues: true when the sample was filled from the pinned seed.
bool injectedSystemSample(SystemSample* sample);
// Called by the file layer at each step.
void replaceStepReached(std::uint32_t step, const char16_t* temporary, const char16_t* target);
// Called by replaceFile before ReplaceFileW: true (once) when an outcome is
// injected, with its error in *error.
bool injectedReplaceOutcome(std::uint32_t* error);

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

inline constexpr void replaceStepReached(std::uint32_t, const char16_t*, const char16_t*) {}

inline constexpr bool injectedReplaceOutcome(std::uint32_t*)
{
    return false;
}

#endif
