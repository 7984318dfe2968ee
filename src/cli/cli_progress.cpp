#include "cli/cli_progress.h"

#include <chrono>
#include <utility>

#include "cli/cli_console.h"

ProgressMeter::ProgressMeter(std::string label, std::uint64_t size, std::uint64_t total,
                             std::function<std::uint64_t()> sample)
    : label_(std::move(label)), total_(total == 0 ? 1 : total), sample_(std::move(sample))
{
    if (size <= PROGRESS_THRESHOLD || isQuiet() || !isTerminal(StandardStream::Error)) {
        return;
    }
    active_ = true;
    if (!sample_) {
        // Nothing to measure: the label alone says what is going on.
        writeText(StandardStream::Error, "\rvtxt: " + label_ + " ...");
        return;
    }
    show(0);
    thread_ = std::thread([this] { run(); });
}

ProgressMeter::~ProgressMeter()
{
    finish(false);
}

void ProgressMeter::finish(bool completed)
{
    if (!active_) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    if (completed && sample_) {
        show(total_);
    }
    // Clear the line so that what follows starts on a clean one.
    writeText(StandardStream::Error, "\r" + std::string(label_.size() + 16, ' ') + "\r");
    active_ = false;
}

void ProgressMeter::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stopping_; })) {
        show(sample_());
    }
}

void ProgressMeter::show(std::uint64_t done)
{
    if (done > total_) {
        done = total_;
    }
    const int percent = static_cast<int>(done * 100 / total_);
    if (percent == lastPercent_) {
        return;
    }
    lastPercent_ = percent;
    std::string line = "\rvtxt: " + label_ + " ";
    if (percent < 100) {
        line += ' ';
    }
    if (percent < 10) {
        line += ' ';
    }
    line += std::to_string(percent) + "%";
    writeText(StandardStream::Error, line);
}
