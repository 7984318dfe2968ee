// The hand-over between the thread that draws a block's permutation and the
// thread that applies it as its positions settle. A waiter that sleeps and
// misses its wake-up leaves a document's open waiting for ever, and a missed
// wake-up is a matter of timing: so the waiter here is made to sleep on
// almost every report, many thousand times, and a watchdog turns a hang into
// a failure.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

#include "cipher/settled_positions.h"

namespace {

// Runs work on a thread of its own; a hang past patience fails the test and
// ends the process, as nothing else can stop the stuck thread.
template <typename Work>
auto finishWithin(std::chrono::seconds patience, Work work)
{
    std::packaged_task<decltype(work())()> task(std::move(work));
    auto result = task.get_future();
    std::thread worker(std::move(task));
    if (result.wait_for(patience) != std::future_status::ready) {
        ADD_FAILURE() << "still waiting after " << patience.count() << " s: a wake-up was lost";
        std::fflush(stdout);
        std::_Exit(1);
    }
    worker.join();
    return result.get();
}

// A pause shorter than the system's sleeps can be, by watching the clock:
// long enough for the waiter to give up spinning and go to sleep.
void holdOn(std::chrono::microseconds pause)
{
    const auto end = std::chrono::steady_clock::now() + pause;
    while (std::chrono::steady_clock::now() < end) {
    }
}

struct Pace {
    const char* name;
    std::chrono::microseconds spin;
    unsigned pauseEvery;  // the reporter stops for a moment after this many reports
    unsigned crowd;       // threads that keep the processors busy meanwhile
};

// Threads that spin until told to stop: with more threads than processors,
// the waiter is often preempted between deciding to sleep and sleeping, the
// moment at which a wake-up can be lost.
class Crowd {
public:
    explicit Crowd(unsigned count)
    {
        for (unsigned k = 0; k < count; ++k) {
            threads_.emplace_back([this] {
                while (!stop_.load(std::memory_order_relaxed)) {
                }
            });
        }
    }
    ~Crowd()
    {
        stop_ = true;
        for (std::thread& thread : threads_) {
            thread.join();
        }
    }
    Crowd(const Crowd&) = delete;
    Crowd& operator=(const Crowd&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

class SettledPositionsTest : public ::testing::TestWithParam<Pace> {};

TEST_P(SettledPositionsTest, WaiterSeesEveryReportInOrderAndNeverHangs)
{
    constexpr std::uint32_t REPORTS = 20000;
    SettledPositions settled(GetParam().spin);
    const unsigned pauseEvery = GetParam().pauseEvery;
    const Crowd crowd(GetParam().crowd);
    const bool inOrder = finishWithin(std::chrono::seconds(120), [&] {
        std::thread reporter([&] {
            for (std::uint32_t k = 1; k <= REPORTS; ++k) {
                if (k % pauseEvery == 0) {
                    holdOn(std::chrono::microseconds(30));
                }
                settled.publish(k);
            }
        });
        bool ascending = true;
        std::uint32_t seen = 0;
        while (seen < REPORTS) {
            const std::uint32_t now = settled.awaitBeyond(seen);
            ascending = ascending && now > seen;
            seen = now;
        }
        reporter.join();
        return ascending;
    });
    EXPECT_TRUE(inOrder);
}

INSTANTIATE_TEST_SUITE_P(Paces, SettledPositionsTest,
                         ::testing::Values(Pace{"SleepsAtOnceReportsInBursts", std::chrono::microseconds(0), 7, 0},
                                           Pace{"SleepsAtOnceReportsSlowly", std::chrono::microseconds(0), 1, 0},
                                           Pace{"SleepsAtOnceAmongBusyThreads", std::chrono::microseconds(0), 1, 3},
                                           Pace{"SpinsFirst", SettledPositions::DEFAULT_SPIN, 3, 0}),
                         [](const ::testing::TestParamInfo<Pace>& tested) { return tested.param.name; });

}  // namespace
