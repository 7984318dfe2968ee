#pragma once
// A percentage on standard error that updates in place while a long operation
// runs; shown only for inputs over 8 MiB, only when standard error is a
// terminal and not with --quiet, so scripts and logs never see it.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

inline constexpr std::uint64_t PROGRESS_THRESHOLD = 8u << 20;

class ProgressMeter {
public:
    // sample gives the work done so far, out of total; it runs on the meter's
    // own thread and must only read what is safe to read concurrently. Without
    // a sample only the label is shown.
    ProgressMeter(std::string label, std::uint64_t size, std::uint64_t total, std::function<std::uint64_t()> sample);
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;
    // Stops the display; a finished operation shows 100% before the line is cleared.
    void finish(bool completed);

private:
    void run();
    void show(std::uint64_t done);

    std::string label_;
    std::uint64_t total_;
    std::function<std::uint64_t()> sample_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool active_ = false;
    int lastPercent_ = -1;
    std::thread thread_;
};
