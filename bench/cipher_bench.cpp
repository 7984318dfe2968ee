// Save and open throughput of whole containers, and the cost of key setup.
// Run with `make bench`; compare the figures of one run with each other.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cipher/key_setup.h"
#include "cipher/payload.h"
#include "bench_support.h"
#include "container/container_header.h"
#include "container/container_session.h"

namespace {

constexpr const char16_t* PASSWORD = u"bench password";

struct Session {
    Session()
    {
        initSession(&value);
    }
    ~Session()
    {
        teardownSession(&value);
    }
    ContainerSession value;
};

void saveOnce(benchmark::State& state, const std::vector<std::uint8_t>& text, const std::u16string& path)
{
    Session session;
    const ResultCode code = saveContainer(&session.value, text.data(), text.size(), path.c_str(), PASSWORD, nullptr,
                                          chooseShuffleLevel(text.size()));
    if (code != RESULT_OK) {
        state.SkipWithError("save failed");
    }
}

void BM_Save(benchmark::State& state)
{
    const auto bytes = static_cast<std::size_t>(state.range(0));
    const std::vector<std::uint8_t> text = sampleText(bytes);
    const std::u16string path = benchPath("save.vtxt");
    for (auto _ : state) {
        saveOnce(state, text, path);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
    state.counters["shuffleLevel"] = chooseShuffleLevel(bytes);
}

void BM_Open(benchmark::State& state)
{
    const auto bytes = static_cast<std::size_t>(state.range(0));
    const std::vector<std::uint8_t> text = sampleText(bytes);
    const std::u16string path = benchPath("open.vtxt");
    saveOnce(state, text, path);
    std::vector<std::uint8_t> destination(bytes);
    for (auto _ : state) {
        Session session;
        ResultCode code = openContainer(&session.value, path.c_str());
        if (code == RESULT_OK) {
            setupKey(&session.value, PASSWORD);
            code = decryptPayload(&session.value, destination.data(), destination.size());
        }
        if (code != RESULT_OK || destination != text) {
            state.SkipWithError("open failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

// Key setup with the smallest and the largest round counts a save draws.
void BM_SetupKey(benchmark::State& state)
{
    Session session;
    ContainerHeader& header = session.value.header;
    header.cipherScheme = 3;
    const bool largest = state.range(0) != 0;
    header.mixRounds = largest ? 49151 : 16384;
    header.scheduleRounds = largest ? 24575 : 8192;
    header.stirRounds = largest ? 24575 : 8192;
    std::memset(header.salt, 0x5A, sizeof header.salt);
    for (auto _ : state) {
        setupKey(&session.value, PASSWORD);
        benchmark::DoNotOptimize(session.value.cipher.keyTable[0]);
    }
}

}  // namespace

BENCHMARK(BM_Save)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Open)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SetupKey)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
