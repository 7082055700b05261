// Runs fuzz targets on stored inputs: the committed seed corpus and every
// input that once made a target fail. Usage: fuzz_replay TARGET DIR...
// (missing directories are skipped). Any oracle mismatch aborts.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TARGET DIR...\n", argv[0]);
        return 2;
    }
    const lf_fuzz::Target* target = nullptr;
    for (const auto& t : lf_fuzz::targets())
        if (std::strcmp(t.name, argv[1]) == 0) target = &t;
    if (target == nullptr) {
        std::fprintf(stderr, "no fuzz target %s\n", argv[1]);
        return 2;
    }
    std::vector<std::filesystem::path> inputs;
    for (int i = 2; i < argc; ++i) {
        if (!std::filesystem::is_directory(argv[i])) continue;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
            if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        std::printf("%s\n", path.filename().c_str());
        std::fflush(stdout);
        target->run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%s: %zu inputs replayed\n", target->name, inputs.size());
    return inputs.empty() ? 1 : 0;
}
