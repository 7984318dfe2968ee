// The cipher pipeline against the speed limit of its own generators.
//
// A transform of n bytes at shuffle level R takes n x R shuffle generator
// steps (each followed by a swap) and n key generator steps, every step
// depending on the one before. The bound benchmark times that step plus one
// swap in a tight loop; every other figure is divided by its step count times
// the bound's time per step, measured in the same run (the bound runs several
// times between the groups and its median is used), so that a loaded machine
// shifts both sides alike. "ratio" is that quotient: 1.0 means the operation
// runs as fast as a single chain of n x (R + 1) bare steps. With two threads
// the two generators run side by side and the ratio can fall below 1.
//
// Run: build/linux-bench/bench/tarnwick_pipeline_bench --benchmark_repetitions=3
// (figures are medians of the repetitions when there are several).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#if defined(__unix__)
#include <sys/resource.h>
#include <time.h>
#endif

#include "cipher/entropy.h"
#include "cipher/key_setup.h"
#include "cipher/payload.h"
#include "container/container_header.h"
#include "bench_support.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "platform/platform.h"

namespace {

constexpr const char16_t* PASSWORD = u"bench password";
constexpr std::uint32_t PASSWORD_BYTES = 14;

using Clock = std::chrono::steady_clock;

// CPU time of the calling thread: on a machine shared with other work the wall
// clock also counts the time other processes held the core.
double threadCpuSeconds()
{
#if defined(__unix__)
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#else
    return 0;
#endif
}

double transformSteps(std::uint64_t bytes, std::uint32_t level)
{
    return static_cast<double>(bytes) * (static_cast<double>(level) + 1.0);
}

// ---------------------------------------------------------------------------
// The bound: one generator step and one swap, as in the shuffle's inner loop.

void BM_Bound(benchmark::State& state)
{
    constexpr std::uint32_t MASK = 1023;
    constexpr std::uint32_t INDEX_SIZE = 1u << 16;
    constexpr std::uint32_t STEPS = 1u << 22;
    std::vector<std::uint32_t> table(MASK + 1);
    std::vector<std::uint32_t> index(INDEX_SIZE);
    for (auto _ : state) {
        std::iota(table.begin(), table.end(), 0u);
        std::iota(index.begin(), index.end(), 0u);
        std::uint32_t* t = table.data();
        std::uint32_t* x = index.data();
        std::uint32_t i = 0;
        std::uint32_t j = 0;
        std::uint32_t k = 0;
        for (std::uint32_t s = 0; s < STEPS; ++s) {
            const std::uint32_t other = generatorStep(t, i, j, MASK);
            const std::uint32_t swapped = x[k];
            x[k] = x[other];
            x[other] = swapped;
            k = (k + 1) & (INDEX_SIZE - 1);
        }
        benchmark::DoNotOptimize(x[0]);
        benchmark::ClobberMemory();
    }
    state.counters["steps"] = STEPS;
}

// ---------------------------------------------------------------------------
// Key setup with the smallest and the largest round counts a save draws.

void BM_SetupKey(benchmark::State& state)
{
    ContainerSession session;
    initSession(&session);
    ContainerHeader& header = session.header;
    header.cipherScheme = 3;
    const bool largest = state.range(0) != 0;
    header.mixRounds = largest ? 49151 : 16384;
    header.scheduleRounds = largest ? 24575 : 8192;
    header.stirRounds = largest ? 24575 : 8192;
    std::memset(header.salt, 0x5A, sizeof header.salt);
    for (auto _ : state) {
        setupKey(&session, PASSWORD);
        benchmark::DoNotOptimize(session.cipher.keyTable[0]);
    }
    teardownSession(&session);
    // Fold, first schedule pass, second pass over salt and password, stir.
    state.counters["steps"] =
        static_cast<double>(header.mixRounds) + header.scheduleRounds + (PASSWORD_BYTES + 16) + header.stirRounds;
}

// ---------------------------------------------------------------------------
// Transforms alone (manual time: key setup and file creation excluded).

struct Case {
    std::int64_t bytes;
    std::int64_t level;
    std::int64_t threads;
};

Case caseOf(const benchmark::State& state)
{
    return {state.range(0), state.range(1), state.range(2)};
}

// Saves text at path at the case's level, for the benchmarks that open it;
// false, with the benchmark marked failed, when that fails.
bool writeFileToOpen(benchmark::State& state, const Case& c, const std::vector<std::uint8_t>& text,
                     const std::u16string& path)
{
    ContainerSession session;
    initSession(&session);
    if (saveContainer(&session, text.data(), text.size(), path.c_str(), PASSWORD, nullptr,
                      static_cast<std::uint32_t>(c.level)) != RESULT_OK) {
        state.SkipWithError("could not write the file to open");
        return false;
    }
    return true;
}

// What every transform benchmark reports once its iterations are done.
void reportCase(benchmark::State& state, const Case& c)
{
    state.counters["steps"] = transformSteps(static_cast<std::uint64_t>(c.bytes), static_cast<std::uint32_t>(c.level));
    state.SetBytesProcessed(state.iterations() * c.bytes);
}

void BM_Encrypt(benchmark::State& state)
{
    const Case c = caseOf(state);
    setPayloadThreads(static_cast<unsigned>(c.threads));
    const std::vector<std::uint8_t> text = sampleText(static_cast<std::size_t>(c.bytes));
    const std::u16string path = benchPath("encrypt.vtxt");
    double cpuSeconds = 0;
    for (auto _ : state) {
        deleteFile(path.c_str());
        ContainerSession session;
        initSession(&session);
        initHeaderForSave(&session, text.size(), u"", static_cast<std::uint32_t>(c.level), systemTimeAsFileTime());
        generateParameters(&session);
        setupKey(&session, PASSWORD);
        session.targetFile = createNewFile(path.c_str());
        const double cpuStart = threadCpuSeconds();
        const auto start = Clock::now();
        const ResultCode code = encryptPayload(&session, text.data());
        const auto stop = Clock::now();
        cpuSeconds += threadCpuSeconds() - cpuStart;
        teardownSession(&session);
        if (code != RESULT_OK) {
            state.SkipWithError("encrypt failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    }
    deleteFile(path.c_str());
    setPayloadThreads(0);
    state.counters["cpu_ns"] = cpuSeconds * 1e9 / static_cast<double>(state.iterations());
    reportCase(state, c);
}

void BM_Decrypt(benchmark::State& state)
{
    const Case c = caseOf(state);
    const std::vector<std::uint8_t> text = sampleText(static_cast<std::size_t>(c.bytes));
    const std::u16string path = benchPath("decrypt.vtxt");
    if (!writeFileToOpen(state, c, text, path)) {
        return;
    }
    setPayloadThreads(static_cast<unsigned>(c.threads));
    std::vector<std::uint8_t> destination(text.size());
    double cpuSeconds = 0;
    for (auto _ : state) {
        ContainerSession session;
        initSession(&session);
        ResultCode code = openContainer(&session, path.c_str());
        setupKey(&session, PASSWORD);
        const double cpuStart = threadCpuSeconds();
        const auto start = Clock::now();
        if (code == RESULT_OK) {
            code = decryptPayload(&session, destination.data(), destination.size());
        }
        const auto stop = Clock::now();
        cpuSeconds += threadCpuSeconds() - cpuStart;
        teardownSession(&session);
        if (code != RESULT_OK || destination != text) {
            state.SkipWithError("decrypt failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    }
    setPayloadThreads(0);
    deleteFile(path.c_str());
    state.counters["cpu_ns"] = cpuSeconds * 1e9 / static_cast<double>(state.iterations());
    reportCase(state, c);
}

// ---------------------------------------------------------------------------
// Whole files: the save (temporary file, key setup, encrypt, flush, the
// verifying read-back, which deciphers once more, and the replacement) and
// the open (header, key setup, decrypt into the destination).

void BM_Save(benchmark::State& state)
{
    const Case c = caseOf(state);
    setPayloadThreads(static_cast<unsigned>(c.threads));
    const std::vector<std::uint8_t> text = sampleText(static_cast<std::size_t>(c.bytes));
    const std::u16string path = benchPath("save.vtxt");
    for (auto _ : state) {
        ContainerSession session;
        initSession(&session);
        if (saveContainer(&session, text.data(), text.size(), path.c_str(), PASSWORD, nullptr,
                          static_cast<std::uint32_t>(c.level)) != RESULT_OK) {
            state.SkipWithError("save failed");
            break;
        }
    }
    setPayloadThreads(0);
    deleteFile(path.c_str());
    reportCase(state, c);
}

void BM_Open(benchmark::State& state)
{
    const Case c = caseOf(state);
    const std::vector<std::uint8_t> text = sampleText(static_cast<std::size_t>(c.bytes));
    const std::u16string path = benchPath("open.vtxt");
    if (!writeFileToOpen(state, c, text, path)) {
        return;
    }
    setPayloadThreads(static_cast<unsigned>(c.threads));
    std::vector<std::uint8_t> destination(text.size());
    for (auto _ : state) {
        ContainerSession session;
        initSession(&session);
        ResultCode code = openContainer(&session, path.c_str());
        if (code == RESULT_OK) {
            setupKey(&session, PASSWORD);
            code = decryptPayload(&session, destination.data(), destination.size());
        }
        teardownSession(&session);
        if (code != RESULT_OK || destination != text) {
            state.SkipWithError("open failed");
            break;
        }
    }
    setPayloadThreads(0);
    deleteFile(path.c_str());
    reportCase(state, c);
}

// ---------------------------------------------------------------------------
// The summary: every figure divided by its steps times the bound's time per step.

struct Figure {
    double nanoseconds = 0;     // per iteration
    double cpuNanoseconds = 0;  // of the calling thread, per iteration
    double steps = 0;
    bool aggregate = false;
};

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override
    {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.error_occurred) {
                continue;
            }
            const bool aggregate = run.run_type == Run::RT_Aggregate;
            if (aggregate && run.aggregate_name != "median") {
                continue;
            }
            const std::string name = run.run_name.str();
            Figure& figure = figures_[name];
            if (figure.aggregate && !aggregate) {
                continue;
            }
            if (!aggregate && figures_.count(name) != 0 && figure.steps != 0 && !figure.aggregate) {
                // Repetitions without aggregates: keep the first.
                continue;
            }
            if (std::find(order_.begin(), order_.end(), name) == order_.end()) {
                order_.push_back(name);
            }
            figure.nanoseconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
            const auto steps = run.counters.find("steps");
            figure.steps = steps != run.counters.end() ? static_cast<double>(steps->second) : 0;
            const auto cpu = run.counters.find("cpu_ns");
            figure.cpuNanoseconds =
                cpu != run.counters.end()
                    ? static_cast<double>(cpu->second)
                    : run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
            figure.aggregate = aggregate;
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::vector<double> perStep;
        std::vector<double> cpuPerStep;
        for (const auto& [name, figure] : figures_) {
            if (name.rfind("Bound", 0) == 0 && figure.steps > 0) {
                perStep.push_back(figure.nanoseconds / figure.steps);
                cpuPerStep.push_back(figure.cpuNanoseconds / figure.steps);
            }
        }
        if (perStep.empty()) {
            std::printf("\nNo bound measured; no ratios.\n");
            return;
        }
        std::sort(perStep.begin(), perStep.end());
        std::sort(cpuPerStep.begin(), cpuPerStep.end());
        const double bound = perStep[perStep.size() / 2];
        const double cpuBound = cpuPerStep[cpuPerStep.size() / 2];
        std::printf(
            "\nBound per generator step plus swap, median of %zu runs: wall %.3f ns (spread %.3f..%.3f), "
            "thread CPU %.3f ns (spread %.3f..%.3f)\n",
            perStep.size(), bound, perStep.front(), perStep.back(), cpuBound, cpuPerStep.front(), cpuPerStep.back());
        std::printf(
            "ratio = time / (steps x bound), with the bound measured next to the figure (the mean of the\n"
            "runs just before and after it: this machine's speed drifts during a run); cpu ratio uses the\n"
            "calling thread's CPU time on both sides\n");
        std::printf("%-40s %12s %12s %12s %8s %9s\n", "benchmark (bytes/level/threads)", "steps", "wall ms", "bound ms",
                    "ratio", "cpu ratio");
        for (std::size_t at = 0; at < order_.size(); ++at) {
            const std::string& name = order_[at];
            const Figure& figure = figures_[name];
            if (figure.steps <= 0 || name.rfind("Bound", 0) == 0) {
                continue;
            }
            const double nearBound = boundNear(at, bound, false);
            const double nearCpuBound = boundNear(at, cpuBound, true);
            const double boundNs = figure.steps * nearBound;
            std::string shortName = name.substr(0, name.find("/min_time"));
            shortName = shortName.substr(0, shortName.find("/iterations"));
            std::printf("%-40s %12.0f %12.3f %12.3f %8.3f %9.3f\n", shortName.c_str(), figure.steps,
                        figure.nanoseconds / 1e6, boundNs / 1e6, figure.nanoseconds / boundNs,
                        figure.cpuNanoseconds / (figure.steps * nearCpuBound));
        }
#if defined(__unix__)
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("Peak resident memory of the whole run: %.1f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
#endif
        std::fflush(stdout);
    }

private:
    // The mean per-step bound of the bound runs reported just before and just
    // after position at; fallback when there is none.
    double boundNear(std::size_t at, double fallback, bool cpu)
    {
        double total = 0;
        int count = 0;
        const auto perStep = [&](const std::string& name) {
            const Figure& bound = figures_[name];
            return (cpu ? bound.cpuNanoseconds : bound.nanoseconds) / bound.steps;
        };
        for (std::size_t k = at; k-- > 0;) {
            if (order_[k].rfind("Bound", 0) == 0 && figures_[order_[k]].steps > 0) {
                total += perStep(order_[k]);
                ++count;
                break;
            }
        }
        for (std::size_t k = at + 1; k < order_.size(); ++k) {
            if (order_[k].rfind("Bound", 0) == 0 && figures_[order_[k]].steps > 0) {
                total += perStep(order_[k]);
                ++count;
                break;
            }
        }
        return count == 0 ? fallback : total / count;
    }

    std::map<std::string, Figure> figures_;
    std::vector<std::string> order_;
};

void registerBound(int round)
{
    benchmark::RegisterBenchmark("Bound", BM_Bound)->Arg(round)->Unit(benchmark::kMillisecond)->MinTime(0.2);
}

void registerTransforms(const std::vector<Case>& cases, bool wholeFiles, int* round)
{
    for (const Case& c : cases) {
        const std::vector<std::int64_t> args = {c.bytes, c.level, c.threads};
        // Long transforms run once per repetition; short ones long enough to time.
        const bool long_ =
            transformSteps(static_cast<std::uint64_t>(c.bytes), static_cast<std::uint32_t>(c.level)) > 5e7;
        auto shape = [&](benchmark::internal::Benchmark* b) {
            b->Args(args)->Unit(benchmark::kMillisecond);
            if (long_) {
                b->Iterations(1);
            } else {
                b->MinTime(0.2);
            }
        };
        shape(benchmark::RegisterBenchmark("Encrypt", BM_Encrypt)->UseManualTime());
        shape(benchmark::RegisterBenchmark("Decrypt", BM_Decrypt)->UseManualTime());
        if (wholeFiles) {
            shape(benchmark::RegisterBenchmark("Save", BM_Save)->UseRealTime());
            shape(benchmark::RegisterBenchmark("Open", BM_Open)->UseRealTime());
        }
        registerBound(++*round);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    int round = 0;
    registerBound(++round);
    benchmark::RegisterBenchmark("SetupKey", BM_SetupKey)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
    registerBound(++round);

    // The save job's level for each size, on one thread and on two.
    for (const std::int64_t threads : {1, 2}) {
        std::vector<Case> cases;
        for (const std::int64_t bytes : {1 << 10, 64 << 10, 1 << 20, 8 << 20, 64 << 20}) {
            cases.push_back({bytes, chooseShuffleLevel(static_cast<std::uint64_t>(bytes)), threads});
        }
        registerTransforms(cases, true, &round);
    }
    // Fixed levels: none, the lowest the save job picks, the highest.
    for (const std::int64_t threads : {1, 2}) {
        registerTransforms({{1 << 20, 0, threads},
                            {64 << 20, 0, threads},
                            {64 << 10, 7, threads},
                            {1 << 10, 12800, threads},
                            {8 << 10, 12800, threads}},
                           true, &round);
    }

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
