// Replays saved inputs through a fuzz target without libFuzzer, so that any
// compiler and any sanitizer preset can run the corpus as a regression suite.
// Arguments are files or directories (searched recursively, in name order).
// Fails when an argument holds no input at all, so a lost corpus is noticed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputsOf(const fs::path& argument)
{
    std::vector<fs::path> inputs;
    if (fs::is_directory(argument)) {
        for (const auto& entry : fs::recursive_directory_iterator(argument)) {
            if (entry.is_regular_file()) {
                inputs.push_back(entry.path());
            }
        }
        std::sort(inputs.begin(), inputs.end());
    } else if (fs::is_regular_file(argument)) {
        inputs.push_back(argument);
    }
    return inputs;
}

bool replay(const fs::path& input)
{
    std::ifstream stream(input, std::ios::binary);
    if (!stream) {
        std::fprintf(stderr, "cannot read %s\n", input.string().c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    // A copy of exactly the input's size, so that a read past it is seen.
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", input.string().c_str(), data.size());
    LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...\n", argv[0]);
        return 2;
    }
    std::size_t total = 0;
    for (int k = 1; k < argc; ++k) {
        const std::vector<fs::path> inputs = inputsOf(argv[k]);
        if (inputs.empty()) {
            std::fprintf(stderr, "no inputs in %s\n", argv[k]);
            return 1;
        }
        for (const fs::path& input : inputs) {
            if (!replay(input)) {
                return 1;
            }
            ++total;
        }
    }
    std::printf("replayed %zu inputs without a finding\n", total);
    return 0;
}
