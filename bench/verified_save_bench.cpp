// A verified save against an unverified one, and what flushing costs them.
//
// Each iteration makes both saves of the same text over the same target, one
// after the other: the unverified one is put together here from the product's
// own calls (temporary file, key setup, encryptPayload on the threads the
// machine allows, flush, close, replacement, which makes the new name durable
// with a flush of the folder), its parts timed one by one; the verified one is
// saveContainer, which also reads the file back and deciphers it. Counters:
//   unverified_ms, verified_ms  the two saves
//   verified_per_unverified     their quotient: what the check costs on top
//   flush_ms                    the file's flush and close in the unverified save
//   folder_ms                   its replacement (rename and the folder's flush)
//   flushing_share              (flush_ms + folder_ms) / verified_ms
//   cpu_per_wall                the verified save's process CPU time / its wall time
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cipher/entropy.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "platform/platform.h"

namespace {

constexpr const char16_t* PASSWORD = u"bench password";

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct UnverifiedTimes {
    double transform = 0;  // key setup and encryptPayload
    double flush = 0;      // flush and close
    double folder = 0;     // replacement
    bool ok = false;
};

// The save without its check, from the same calls saveContainer makes.
UnverifiedTimes unverifiedSave(const std::vector<std::uint8_t>& text, const std::u16string& target,
                               const std::u16string& temporary)
{
    UnverifiedTimes times;
    ContainerSession session;
    initSession(&session);
    deleteFile(temporary.c_str());
    auto start = Clock::now();
    initHeaderForSave(&session, text.size(), nullptr, chooseShuffleLevel(text.size()), systemTimeAsFileTime());
    session.targetFile = createNewFile(temporary.c_str());
    generateParameters(&session);
    setupKey(&session, PASSWORD);
    const bool encrypted = session.targetFile != INVALID_FILE && encryptPayload(&session, text.data()) == RESULT_OK;
    times.transform = secondsSince(start);
    start = Clock::now();
    const bool flushed = encrypted && flushFile(session.targetFile);
    const bool closed = session.targetFile != INVALID_FILE && closeFile(session.targetFile);
    session.targetFile = INVALID_FILE;
    times.flush = secondsSince(start);
    start = Clock::now();
    times.ok = flushed && closed && replaceFile(target.c_str(), temporary.c_str());
    times.folder = secondsSince(start);
    teardownSession(&session);
    return times;
}

void BM_VerifiedAgainstUnverified(benchmark::State& state)
{
    const std::vector<std::uint8_t> text = sampleText(static_cast<std::size_t>(state.range(0)));
    const std::u16string target = benchPath("verified.vtxt");
    const std::u16string temporary = benchPath("verified.tmp");
    UnverifiedTimes unverified;
    double verifiedSeconds = 0;
    double verifiedCpu = 0;
    for (auto _ : state) {
        const UnverifiedTimes times = unverifiedSave(text, target, temporary);
        ContainerSession session;
        initSession(&session);
        const double cpuStart = processCpuSeconds();
        const auto start = Clock::now();
        const ResultCode code = saveContainer(&session, text.data(), text.size(), target.c_str(), PASSWORD, nullptr,
                                              chooseShuffleLevel(text.size()));
        verifiedSeconds += secondsSince(start);
        verifiedCpu += processCpuSeconds() - cpuStart;
        if (!times.ok || code != RESULT_OK) {
            state.SkipWithError("a save failed");
            break;
        }
        unverified.transform += times.transform;
        unverified.flush += times.flush;
        unverified.folder += times.folder;
    }
    deleteFile(target.c_str());
    const double iterations = static_cast<double>(state.iterations());
    const double unverifiedSeconds = unverified.transform + unverified.flush + unverified.folder;
    state.counters["unverified_ms"] = unverifiedSeconds / iterations * 1e3;
    state.counters["verified_ms"] = verifiedSeconds / iterations * 1e3;
    state.counters["flush_ms"] = unverified.flush / iterations * 1e3;
    state.counters["folder_ms"] = unverified.folder / iterations * 1e3;
    if (unverifiedSeconds > 0 && verifiedSeconds > 0) {
        state.counters["verified_per_unverified"] = verifiedSeconds / unverifiedSeconds;
        state.counters["flushing_share"] = (unverified.flush + unverified.folder) / verifiedSeconds;
        state.counters["cpu_per_wall"] = verifiedCpu / verifiedSeconds;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(BM_VerifiedAgainstUnverified)
    ->Arg(4 << 10)
    ->Arg(64 << 10)
    ->Arg(1 << 20)
    ->Arg(8 << 20)
    ->Arg(64 << 20)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

BENCHMARK_MAIN();
