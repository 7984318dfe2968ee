#include "support/test_support.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

std::string makeTempDir(const std::string& label)
{
    static std::atomic<int> counter{0};
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const fs::path candidate =
            base / ("tarnwick-" + label + "-" + std::to_string(static_cast<unsigned long long>(
                                                      fs::file_time_type::clock::now().time_since_epoch().count())) +
                    "-" + std::to_string(counter++));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            return candidate.string();
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

std::string sourcePath(const std::string& relative)
{
    std::string path = std::string(TARNWICK_SOURCE_DIR) + "/" + relative;
#ifdef _WIN32
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    path = "Z:" + path;
#endif
    return path;
}

std::string joinPath(const std::string& directory, const std::string& name)
{
#ifdef _WIN32
    return directory + "\\" + name;
#else
    return directory + "/" + name;
#endif
}

std::u16string toUtf16(const std::string& text)
{
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        char32_t c = b;
        std::size_t extra = 0;
        if (b >= 0xF0) {
            c = b & 0x07;
            extra = 3;
        } else if (b >= 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else if (b >= 0xC0) {
            c = b & 0x1F;
            extra = 1;
        }
        ++i;
        for (std::size_t k = 0; k < extra && i < text.size(); ++k, ++i) {
            c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::vector<std::uint8_t> readBytes(const std::string& path)
{
    std::ifstream in(fs::u8path(path), std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool fileExists(const std::string& path)
{
    std::error_code error;
    return fs::exists(fs::u8path(path), error);
}

std::vector<std::string> listDirectory(const std::string& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::u8path(directory))) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

std::vector<std::uint8_t> patternText(std::size_t n, std::uint32_t seed)
{
    std::vector<std::uint8_t> text(n);
    std::uint32_t x = seed;
    for (std::size_t k = 0; k < n; ++k) {
        x = x * 1664525u + 1013904223u;
        text[k] = static_cast<std::uint8_t>(x >> 24);
    }
    return text;
}
