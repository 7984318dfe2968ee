#pragma once
// What the benchmarks share: a text to store and a place for their files.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

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
