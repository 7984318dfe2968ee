// What the read-back of a save costs. Each iteration saves a text (the save
// includes its read-back) and then times the read-back alone on the file just
// written, so both figures come from the same run on the same files. The
// counter readback_per_unverified_save is the read-back's time divided by the
// time of the save without it: the extra cost a verified save pays.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "container/container_header.h"
#include "container/container_session.h"

namespace {

constexpr const char16_t* PASSWORD = u"bench password";

void BM_VerifiedSaveCost(benchmark::State& state)
{
    const std::vector<std::uint8_t> text = sampleText(static_cast<std::size_t>(state.range(0)));
    const std::string path = (std::filesystem::temp_directory_path() / "tarnwick-bench-verified.vtxt").string();
    const std::u16string widePath(path.begin(), path.end());
    using Clock = std::chrono::steady_clock;
    double saveSeconds = 0;
    double readBackSeconds = 0;
    for (auto _ : state) {
        ContainerSession session;
        initSession(&session);
        const auto start = Clock::now();
        const ResultCode code = saveContainer(&session, text.data(), text.size(), widePath.c_str(), PASSWORD, nullptr,
                                              chooseShuffleLevel(text.size()));
        const auto saved = Clock::now();
        const bool verified = verifySavedContainer(widePath.c_str(), text.data(), text.size(), PASSWORD);
        const auto readBack = Clock::now();
        if (code != RESULT_OK || !verified) {
            state.SkipWithError("save or read-back failed");
            break;
        }
        saveSeconds += std::chrono::duration<double>(saved - start).count();
        readBackSeconds += std::chrono::duration<double>(readBack - saved).count();
    }
    std::filesystem::remove(path);
    const double iterations = static_cast<double>(state.iterations());
    state.counters["save_ms"] = saveSeconds / iterations * 1e3;
    state.counters["readback_ms"] = readBackSeconds / iterations * 1e3;
    if (saveSeconds > readBackSeconds) {
        state.counters["readback_per_unverified_save"] = readBackSeconds / (saveSeconds - readBackSeconds);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(BM_VerifiedSaveCost)
    ->Arg(4 << 10)
    ->Arg(64 << 10)
    ->Arg(1 << 20)
    ->Arg(8 << 20)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

BENCHMARK_MAIN();
