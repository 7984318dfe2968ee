// The cipher pipeline against the speed limit of its own generators.
//
// A transform of n bytes at shuffle level R takes n x R shuffle generator
// steps (each followed by a swap) and n key generator steps, every step
// depending on the one before. The bound is that step plus one swap in a tight
// loop; every figure is divided by its step count times the bound's time per
// step, with the bound timed just before and just after each iteration of the
// figure, so that the phases this machine's speed drifts through shift both
// sides alike. "ratio" is that quotient: 1.0 means the operation runs as fast
// as a single chain of n x (R + 1) bare steps. With two threads the two
// generators run side by side and the ratio can fall below 1.
//
// Run: build/linux-bench/bench/tarnwick_pipeline_bench --benchmark_repetitions=3
// (figures are medians of the repetitions when there are several).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#if defined(__unix__)
#include <sys/resource.h>
#endif

#include "cipher/entropy.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "bench_support.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "platform/platform.h"

namespace {

constexpr const char16_t* PASSWORD = u"bench password";
constexpr std::uint32_t PASSWORD_BYTES = 14;

using Clock = std::chrono::steady_clock;

double transformSteps(std::uint64_t bytes, std::uint32_t level)
{
    return static_cast<double>(bytes) * (static_cast<double>(level) + 1.0);
}

// ---------------------------------------------------------------------------
// The bound: one generator step and one swap, as in the shuffle's inner loop.

// Its state lives across runs, as a generator's does: only the first run
// starts from the identity.
class BoundLoop {
public:
    BoundLoop() : table_(MASK + 1), index_(INDEX_SIZE)
    {
        std::iota(table_.begin(), table_.end(), 0u);
        std::iota(index_.begin(), index_.end(), 0u);
    }

    void run(std::uint64_t steps)
    {
        std::uint32_t* t = table_.data();
        std::uint32_t* x = index_.data();
        std::uint32_t i = i_;
        std::uint32_t j = j_;
        std::uint32_t k = k_;
        for (std::uint64_t s = 0; s < steps; ++s) {
            const std::uint32_t other = generatorStep(t, i, j, MASK);
            const std::uint32_t swapped = x[k];
            x[k] = x[other];
            x[other] = swapped;
            k = (k + 1) & (INDEX_SIZE - 1);
        }
        i_ = i;
        j_ = j;
        k_ = k;
        benchmark::DoNotOptimize(x[0]);
        benchmark::ClobberMemory();
    }

private:
    static constexpr std::uint32_t MASK = 1023;
    static constexpr std::uint32_t INDEX_SIZE = 1u << 16;
    std::vector<std::uint32_t> table_;
    std::vector<std::uint32_t> index_;
    std::uint32_t i_ = 0;
    std::uint32_t j_ = 0;
    std::uint32_t k_ = 0;
};

void BM_Bound(benchmark::State& state)
{
    constexpr std::uint32_t STEPS = 1u << 22;
    BoundLoop loop;
    for (auto _ : state) {
        loop.run(STEPS);
    }
    state.counters["steps"] = STEPS;
}

// The bound timed next to a figure's iterations: this machine's speed drifts
// within seconds, so only a bound taken beside the figure divides out the
// phase the figure ran in. For a two-processor figure it also times two
// chains at once, one on each of two threads, beside each sample: what the
// second processor gave in that phase. A virtual machine whose two
// processors share one core, or a busy host, shows there as a slowdown that
// no two-thread figure can escape.
class PairedBound {
public:
    explicit PairedBound(bool pairs) : pairs_(pairs) {}

    // Times the bound for about as many steps as the figure takes, within
    // limits that keep a sample a few milliseconds long.
    void sample(double figureSteps)
    {
        constexpr double FEWEST = 1 << 22;
        constexpr double MOST = 1 << 23;
        const auto steps = static_cast<std::uint64_t>(std::clamp(figureSteps, FEWEST, MOST));
        const double cpuStart = processCpuSeconds();
        const auto start = Clock::now();
        loop_.run(steps);
        const auto stop = Clock::now();
        const double cpu = processCpuSeconds() - cpuStart;
        const double wall = std::chrono::duration<double, std::nano>(stop - start).count();
        wallPerStep_ += wall / static_cast<double>(steps);
        cpuPerStep_ += cpu * 1e9 / static_cast<double>(steps);
        ++samples_;
        if (pairs_) {
            const auto pairStart = Clock::now();
            std::thread beside([&] { besideLoop_.run(steps); });
            loop_.run(steps);
            beside.join();
            const auto pairStop = Clock::now();
            pairSlowdown_ += std::chrono::duration<double, std::nano>(pairStop - pairStart).count() / wall;
        }
    }

    int samples() const
    {
        return samples_;
    }
    double wallPerStep() const
    {
        return samples_ == 0 ? 0 : wallPerStep_ / samples_;
    }
    double cpuPerStep() const
    {
        return samples_ == 0 ? 0 : cpuPerStep_ / samples_;
    }
    // Two chains at once against one alone, each timed beside the other; 0
    // without pairs.
    double pairSlowdown() const
    {
        return samples_ == 0 ? 0 : pairSlowdown_ / samples_;
    }

private:
    bool pairs_;
    BoundLoop loop_;
    BoundLoop besideLoop_;
    double wallPerStep_ = 0;
    double cpuPerStep_ = 0;
    double pairSlowdown_ = 0;
    int samples_ = 0;
};

// One figure's iterations, each timed on its own, with the bound sampled
// before the first and then after every 10 ms of them (after each one, for
// longer iterations). Short iterations run back to back between samples, as
// they would alone: a sample between every two calls of a 60-microsecond key
// setup would leave each call to cold caches and branch predictors.
class Timing {
public:
    explicit Timing(double steps, bool pairs = false) : steps_(steps), bound_(pairs) {}

    template <typename Operation>
    void time(benchmark::State& state, Operation operation)
    {
        constexpr double SAMPLE_SPACING_SECONDS = 0.01;
        if (bound_.samples() == 0) {
            bound_.sample(steps_);
        }
        const double cpuStart = processCpuSeconds();
        const double callerStart = threadCpuSeconds();
        const auto start = Clock::now();
        operation();
        const auto stop = Clock::now();
        const double caller = threadCpuSeconds() - callerStart;
        const double cpu = processCpuSeconds() - cpuStart;
        cpuSeconds_ += cpu;
        busiestSeconds_ += std::max(caller, cpu - caller);
        const double seconds = std::chrono::duration<double>(stop - start).count();
        wallSeconds_ += seconds;
        sinceSample_ += seconds;
        if (sinceSample_ >= SAMPLE_SPACING_SECONDS) {
            bound_.sample(steps_);
            sinceSample_ = 0;
        }
        state.SetIterationTime(seconds);
    }

    // The counters the summary reads: steps, the paired bound, and the ratios.
    void report(benchmark::State& state)
    {
        if (sinceSample_ > 0) {
            bound_.sample(steps_);
            sinceSample_ = 0;
        }
        const auto iterations = static_cast<double>(state.iterations());
        state.counters["steps"] = steps_;
        if (iterations == 0 || bound_.wallPerStep() == 0) {
            return;
        }
        state.counters["bound_ns"] = bound_.wallPerStep();
        state.counters["ratio"] = wallSeconds_ * 1e9 / iterations / (steps_ * bound_.wallPerStep());
        state.counters["cpu_ratio"] = cpuSeconds_ * 1e9 / iterations / (steps_ * bound_.cpuPerStep());
        state.counters["busiest_ratio"] = busiestSeconds_ * 1e9 / iterations / (steps_ * bound_.cpuPerStep());
        if (bound_.pairSlowdown() > 0) {
            state.counters["pair_slowdown"] = bound_.pairSlowdown();
        }
    }

private:
    double steps_;
    PairedBound bound_;
    double wallSeconds_ = 0;
    double cpuSeconds_ = 0;
    double busiestSeconds_ = 0;  // the calling thread's CPU time or all the others', whichever is more
    double sinceSample_ = 0;
};

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
    // Fold, first schedule pass, second pass over salt and password, stir.
    Timing timing(static_cast<double>(header.mixRounds) + header.scheduleRounds + (PASSWORD_BYTES + 16) +
                  header.stirRounds);
    for (auto _ : state) {
        timing.time(state, [&] { setupKey(&session, PASSWORD); });
        benchmark::DoNotOptimize(session.cipher.keyTable[0]);
    }
    teardownSession(&session);
    timing.report(state);
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

Timing timingOf(const Case& c)
{
    return Timing(transformSteps(static_cast<std::uint64_t>(c.bytes), static_cast<std::uint32_t>(c.level)),
                  c.threads >= 2);
}

// Runs one iteration twice untimed before the timed ones, and then once per
// timed iteration; false, with the benchmark marked failed, when one fails.
// The first transforms of a process find their block buffers freshly mapped
// (the allocator keeps them only from the third on), and first touches of
// pages are slow in a virtual machine: about 15 ms for the 6 MiB of buffers
// of a 1 MiB block here. That is a cost of the system's memory, not of the
// pipeline, so the figures leave it out.
template <typename Iteration>
void runIterations(benchmark::State& state, Timing& timing, const char* failure, Iteration iteration)
{
    constexpr int WARM_UP_ITERATIONS = 2;
    const auto untimed = [](auto operation) { operation(); };
    for (int k = 0; k < WARM_UP_ITERATIONS; ++k) {
        if (!iteration(untimed)) {
            state.SkipWithError(failure);
            return;
        }
    }
    for (auto _ : state) {
        if (!iteration([&](auto operation) { timing.time(state, operation); })) {
            state.SkipWithError(failure);
            break;
        }
    }
}

// What every transform benchmark reports once its iterations are done.
void reportCase(benchmark::State& state, const Case& c, Timing& timing)
{
    timing.report(state);
    state.SetBytesProcessed(state.iterations() * c.bytes);
}

void BM_Encrypt(benchmark::State& state)
{
    const Case c = caseOf(state);
    setPayloadThreads(static_cast<unsigned>(c.threads));
    const std::vector<std::uint8_t> text = sampleText(static_cast<std::size_t>(c.bytes));
    const std::u16string path = benchPath("encrypt.vtxt");
    Timing timing = timingOf(c);
    runIterations(state, timing, "encrypt failed", [&](auto measure) {
        deleteFile(path.c_str());
        ContainerSession session;
        initSession(&session);
        initHeaderForSave(&session, text.size(), u"", static_cast<std::uint32_t>(c.level), systemTimeAsFileTime());
        generateParameters(&session);
        setupKey(&session, PASSWORD);
        session.targetFile = createNewFile(path.c_str());
        ResultCode code = RESULT_OK;
        measure([&] { code = encryptPayload(&session, text.data()); });
        teardownSession(&session);
        return code == RESULT_OK;
    });
    deleteFile(path.c_str());
    setPayloadThreads(0);
    reportCase(state, c, timing);
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
    Timing timing = timingOf(c);
    runIterations(state, timing, "decrypt failed", [&](auto measure) {
        ContainerSession session;
        initSession(&session);
        ResultCode code = openContainer(&session, path.c_str());
        setupKey(&session, PASSWORD);
        if (code == RESULT_OK) {
            measure([&] { code = decryptPayload(&session, destination.data(), destination.size()); });
        }
        teardownSession(&session);
        return code == RESULT_OK && destination == text;
    });
    setPayloadThreads(0);
    deleteFile(path.c_str());
    reportCase(state, c, timing);
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
    Timing timing = timingOf(c);
    runIterations(state, timing, "save failed", [&](auto measure) {
        ContainerSession session;
        initSession(&session);
        ResultCode code = RESULT_OK;
        measure([&] {
            code = saveContainer(&session, text.data(), text.size(), path.c_str(), PASSWORD, nullptr,
                                 static_cast<std::uint32_t>(c.level));
        });
        return code == RESULT_OK;
    });
    setPayloadThreads(0);
    deleteFile(path.c_str());
    reportCase(state, c, timing);
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
    Timing timing = timingOf(c);
    runIterations(state, timing, "open failed", [&](auto measure) {
        ContainerSession session;
        initSession(&session);
        ResultCode code = RESULT_OK;
        measure([&] {
            code = openContainer(&session, path.c_str());
            if (code == RESULT_OK) {
                setupKey(&session, PASSWORD);
                code = decryptPayload(&session, destination.data(), destination.size());
            }
        });
        teardownSession(&session);
        return code == RESULT_OK && destination == text;
    });
    setPayloadThreads(0);
    deleteFile(path.c_str());
    reportCase(state, c, timing);
}

// ---------------------------------------------------------------------------
// The summary: every figure divided by its steps times the bound's time per step.

struct Figure {
    double nanoseconds = 0;  // per iteration
    double steps = 0;
    double boundNs = 0;  // per step, sampled around the figure's iterations
    double ratio = 0;
    double cpuRatio = 0;
    double busiestRatio = 0;
    double pairSlowdown = 0;  // two bound chains at once against one; 0 for one-thread figures
    bool aggregate = false;
};

double counterOf(const benchmark::BenchmarkReporter::Run& run, const char* name)
{
    const auto found = run.counters.find(name);
    return found != run.counters.end() ? static_cast<double>(found->second) : 0;
}

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
            const bool known = figures_.count(name) != 0;
            Figure& figure = figures_[name];
            // Prefer the median over single repetitions; without aggregates keep the first.
            if (known && (figure.aggregate || !aggregate)) {
                continue;
            }
            if (!known) {
                order_.push_back(name);
            }
            figure.nanoseconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
            figure.steps = counterOf(run, "steps");
            figure.boundNs = counterOf(run, "bound_ns");
            figure.ratio = counterOf(run, "ratio");
            figure.cpuRatio = counterOf(run, "cpu_ratio");
            figure.busiestRatio = counterOf(run, "busiest_ratio");
            figure.pairSlowdown = counterOf(run, "pair_slowdown");
            figure.aggregate = aggregate;
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::vector<double> perStep;
        for (const auto& [name, figure] : figures_) {
            if (name.rfind("Bound/", 0) == 0 && figure.steps > 0) {
                perStep.push_back(figure.nanoseconds / figure.steps);
            }
        }
        if (!perStep.empty()) {
            std::sort(perStep.begin(), perStep.end());
            std::printf("\nBound per generator step plus swap, median of %zu runs: %.3f ns (spread %.3f..%.3f)\n",
                        perStep.size(), perStep[perStep.size() / 2], perStep.front(), perStep.back());
        }
        std::printf(
            "ratio = time / (steps x bound), with the bound timed beside that figure's iterations,\n"
            "before the first and after every 10 ms of them (this machine's speed drifts within\n"
            "seconds); medians over the repetitions. cpu ratio = the process's CPU time (user and\n"
            "system, every thread) / (steps x the bound's CPU time per step). threads 1 stands for\n"
            "a one-processor machine, 2 for two processors. busiest = the CPU time of the calling\n"
            "thread or of all the others together, whichever is more, over the same: what the ratio\n"
            "would be with each thread on a processor of its own and nothing waited for, a figure\n"
            "that other work on the machine disturbs far less than the wall clock. Save is the\n"
            "verified save (temporary file, key setup, transform, the read-back check beside it,\n"
            "flushes, replacement). pair (two-thread figures) = two bound chains run at once, one\n"
            "on each processor, against one alone, timed beside the figure: near 1 the machine has\n"
            "two processors to give; well above it they share a core or a busy host, and no\n"
            "two-thread figure can keep its single-chain ratio.\n");
        std::printf("%-40s %12s %12s %12s %8s %9s %8s %6s\n", "benchmark (bytes/level/threads)", "steps", "wall ms",
                    "bound ms", "ratio", "cpu ratio", "busiest", "pair");
        for (const std::string& name : order_) {
            const Figure& figure = figures_[name];
            if (figure.steps <= 0 || figure.boundNs <= 0) {
                continue;
            }
            std::string shortName = name.substr(0, name.find("/manual_time"));
            shortName = shortName.substr(0, shortName.find("/min_time"));
            shortName = shortName.substr(0, shortName.find("/iterations"));
            std::printf("%-40s %12.0f %12.3f %12.3f %8.3f %9.3f %8.3f", shortName.c_str(), figure.steps,
                        figure.nanoseconds / 1e6, figure.steps * figure.boundNs / 1e6, figure.ratio, figure.cpuRatio,
                        figure.busiestRatio);
            if (figure.pairSlowdown > 0) {
                std::printf(" %6.3f", figure.pairSlowdown);
            }
            std::printf("\n");
        }
        printTargets();
#if defined(__unix__)
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("Peak resident memory of the whole run: %.1f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
#endif
        std::fflush(stdout);
    }

private:
    // The figures the targets name, each beside its limits.
    void printTargets()
    {
        std::printf("\nTargets (ratio to the bound; a Save or Open at the level the save job picks for its size):\n");
        std::printf("%-44s %8s %7s %4s %9s %7s %4s %6s\n", "figure", "ratio", "target", "", "cpu ratio", "target", "",
                    "pair");
        const auto verdict = [](double value, double limit) { return value <= limit ? "ok" : "OVER"; };
        for (const std::string& name : order_) {
            const Figure& figure = figures_[name];
            if (figure.steps <= 0 || figure.boundNs <= 0) {
                continue;
            }
            unsigned long long bytes = 0;
            unsigned level = 0;
            unsigned threads = 0;
            char kind[16] = {};
            const int fields = std::sscanf(name.c_str(), "%15[A-Za-z]/%llu/%u/%u", kind, &bytes, &level, &threads);
            const std::string what = kind;
            std::string label;
            double wallLimit = 0;
            double cpuLimit = 0;
            if (what == "SetupKey" && fields >= 2) {
                label = bytes == 0 ? "key setup, smallest round counts" : "key setup, largest round counts";
                wallLimit = 1.1;
            } else if (fields == 4 && level == chooseShuffleLevel(bytes) && what == "Save" && bytes >= (8u << 20)) {
                label = "verified save, " + std::to_string(bytes >> 20) + " MiB, " +
                        (threads >= 2 ? "two processors" : "one processor");
                wallLimit = threads >= 2 ? 1.0 : 2.0;
                cpuLimit = 2.3;
            } else if (fields == 4 && level == chooseShuffleLevel(bytes) && what == "Open") {
                label = "open, " +
                        (bytes >= (1u << 20) ? std::to_string(bytes >> 20) + " MiB, "
                                             : std::to_string(bytes >> 10) + " KiB, ") +
                        (threads >= 2 ? "two processors" : "one processor");
                wallLimit = 0.9;
                cpuLimit = 1.3;
            } else {
                continue;
            }
            std::printf("%-44s %8.3f %7.1f %4s", label.c_str(), figure.ratio, wallLimit,
                        verdict(figure.ratio, wallLimit));
            if (cpuLimit > 0) {
                std::printf(" %9.3f %7.1f %4s", figure.cpuRatio, cpuLimit, verdict(figure.cpuRatio, cpuLimit));
            }
            if (figure.pairSlowdown > 0) {
                std::printf(" %6.3f", figure.pairSlowdown);
            }
            std::printf("\n");
        }
    }

    std::map<std::string, Figure> figures_;
    std::vector<std::string> order_;
};

void registerBound(int round)
{
    benchmark::RegisterBenchmark("Bound", BM_Bound)->Arg(round)->Unit(benchmark::kMillisecond)->MinTime(0.2);
}

void registerTransforms(const std::vector<Case>& cases, bool wholeFiles)
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
                b->MinTime(0.1);
            }
        };
        shape(benchmark::RegisterBenchmark("Encrypt", BM_Encrypt)->UseManualTime());
        shape(benchmark::RegisterBenchmark("Decrypt", BM_Decrypt)->UseManualTime());
        if (wholeFiles) {
            shape(benchmark::RegisterBenchmark("Save", BM_Save)->UseManualTime());
            shape(benchmark::RegisterBenchmark("Open", BM_Open)->UseManualTime());
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // The bound alone, at the start and at the end, shows how far the machine drifted.
    registerBound(1);
    benchmark::RegisterBenchmark("SetupKey", BM_SetupKey)
        ->Arg(0)
        ->Arg(1)
        ->Unit(benchmark::kMicrosecond)
        ->UseManualTime();

    // The save job's level for each size, on one thread and on two.
    for (const std::int64_t threads : {1, 2}) {
        std::vector<Case> cases;
        for (const std::int64_t bytes : {1 << 10, 64 << 10, 1 << 20, 8 << 20, 64 << 20}) {
            cases.push_back({bytes, chooseShuffleLevel(static_cast<std::uint64_t>(bytes)), threads});
        }
        registerTransforms(cases, true);
    }
    // Fixed levels: none, the lowest the save job picks, the highest.
    for (const std::int64_t threads : {1, 2}) {
        registerTransforms({{1 << 20, 0, threads},
                            {64 << 20, 0, threads},
                            {64 << 10, 7, threads},
                            {1 << 10, 12800, threads},
                            {8 << 10, 12800, threads}},
                           true);
    }
    registerBound(2);

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
