#pragma once
// What the benchmarks share: a text to store and a place for their files.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#if defined(__unix__)
#include <time.h>
#endif

// n bytes of plain prose, the kind of text the editor stores.
inline std::vector<std::uint8_t> sampleText(std::size_t n)
{
    static const char line[] = "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor.\r\n";
    std::vector<std::uint8_t> text(n);
    for (std::size_t k = 0; k < n; ++k) {
        text[k] = static_cast<std::uint8_t>(line[k % (sizeof line - 1)]);
    }
    return text;
}

// A file in the system's temporary directory, named for the benchmark.
inline std::u16string benchPath(const std::string& name)
{
    const std::string path = (std::filesystem::temp_directory_path() / ("tarnwick-bench-" + name)).string();
    return std::u16string(path.begin(), path.end());
}

// CPU time (user and system) on one of the system's CPU-time clocks; 0 where
// there are none.
#if defined(__unix__)
inline double cpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
#endif

// The whole process, every thread: what an operation costs the machine,
// waiting threads included. On a machine shared with other work the wall
// clock also counts the time other processes held a core; this does not.
inline double processCpuSeconds()
{
#if defined(__unix__)
    return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
#else
    return 0;
#endif
}

// The calling thread.
inline double threadCpuSeconds()
{
#if defined(__unix__)
    return cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
#else
    return 0;
#endif
}
