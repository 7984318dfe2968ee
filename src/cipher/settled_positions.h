#pragma once
// How far a permutation drawn on one thread is final, for the thread that
// applies it. Reports come every few microseconds in a block's last round and
// not at all in the rounds before it, so the waiting thread spins briefly for
// the next one and then sleeps until it comes: a short spin catches the
// reports of the last round, and the rounds before it cost no processor time.
// The sleep is a lock and a condition that the reporting thread takes before
// it wakes the sleeper: std::atomic's own wait, on systems without a futex
// (Windows with this compiler's library), missed a wake-up now and then and
// left the open of a document waiting for ever.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class SettledPositions {
public:
    static constexpr std::chrono::microseconds DEFAULT_SPIN{50};

    // spin: how long a waiter spins before it sleeps.
    explicit SettledPositions(std::chrono::microseconds spin = DEFAULT_SPIN) : spin_(spin) {}

    void reset()
    {
        settled_.store(0, std::memory_order_relaxed);
    }

    // The drawing thread: positions below settled are final. Sequentially
    // consistent on both sides, so that either the waiter sees the new value
    // or this sees the waiter asleep, or about to sleep, and wakes it.
    void publish(std::uint32_t settled)
    {
        settled_.store(settled, std::memory_order_seq_cst);
        if (sleeping_.load(std::memory_order_seq_cst)) {
            const std::lock_guard<std::mutex> guard(lock_);
            wake_.notify_one();
        }
    }

    // The applying thread (one at a time): the first report other than seen,
    // waiting for it.
    std::uint32_t awaitBeyond(std::uint32_t seen)
    {
        constexpr unsigned TURNS_BETWEEN_CLOCK_READS = 64;
        std::uint32_t now = settled_.load(std::memory_order_acquire);
        if (now != seen) {
            return now;
        }
        const auto spinEnd = std::chrono::steady_clock::now() + spin_;
        for (unsigned turn = 1;; ++turn) {
            pauseWhileSpinning();
            now = settled_.load(std::memory_order_acquire);
            if (now != seen) {
                return now;
            }
            if (turn % TURNS_BETWEEN_CLOCK_READS == 0 && std::chrono::steady_clock::now() >= spinEnd) {
                break;
            }
        }
        std::unique_lock<std::mutex> guard(lock_);
        sleeping_.store(true, std::memory_order_seq_cst);
        while ((now = settled_.load(std::memory_order_seq_cst)) == seen) {
            wake_.wait(guard);
        }
        sleeping_.store(false, std::memory_order_relaxed);
        return now;
    }

private:
    // A processor pause rather than a yield to the system: the drawing
    // thread's chain ran 5% faster beside a waiter spinning on pauses than
    // beside one yielding.
    static void pauseWhileSpinning()
    {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
        __builtin_ia32_pause();
#else
        std::this_thread::yield();
#endif
    }

    std::chrono::microseconds spin_;
    std::atomic<std::uint32_t> settled_{0};
    std::atomic<bool> sleeping_{false};
    std::mutex lock_;
    std::condition_variable wake_;
};
