// Runs a parser target over every file of the folders (or files) named on its command line, so
// each test run checks the seed corpus under the sanitizers of that build.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize);

namespace {

bool Replay(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fprintf(stderr, "replay %s (%zu bytes)\n", path.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    size_t nInputs = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> paths;
        if (std::filesystem::is_directory(argv[i])) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    paths.push_back(entry.path());
            std::sort(paths.begin(), paths.end());  // the same order on every machine
        } else {
            paths.push_back(argv[i]);
        }
        for (const auto& path : paths) {
            if (!Replay(path)) {
                fprintf(stderr, "cannot read %s\n", path.c_str());
                return 1;
            }
            ++nInputs;
        }
    }
    fprintf(stderr, "%zu inputs replayed\n", nInputs);
    // an empty or missing corpus would pass while checking nothing
    return nInputs > 0 ? 0 : 1;
}
