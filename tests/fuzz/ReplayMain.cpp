// Runs a fuzz target over files and folders of inputs, without libFuzzer: the regression run of
// the committed corpus in the normal build. Any crash or failed check aborts the run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize);

namespace fs = std::filesystem;

namespace {

bool RunFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A fresh copy of exactly the input's size, so reading past it is caught as under libFuzzer.
    std::vector<uint8_t> input(bytes.begin(), bytes.end());
    std::fprintf(stderr, "%s\n", path.c_str());
    LLVMFuzzerTestOneInput(input.data(), input.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    size_t nInputs = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (fs::is_directory(argv[i], ec)) {
            std::vector<fs::path> files;
            for (const auto& entry : fs::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const fs::path& file : files)
                nInputs += RunFile(file);
        } else {
            if (!RunFile(argv[i]))
                return 1;
            ++nInputs;
        }
    }
    // An empty corpus means a wrong path, not a pass.
    if (nInputs == 0) {
        std::fprintf(stderr, "no inputs\n");
        return 1;
    }
    std::printf("%zu inputs replayed\n", nInputs);
    return 0;
}
