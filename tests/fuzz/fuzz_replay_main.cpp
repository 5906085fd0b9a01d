// Replays every file of the given directories (or the given files)
// through a fuzz harness once: the regression run of the seed corpus and
// of every crash input found so far, in ordinary builds. A path that does
// not exist, or a run that finds no input at all, fails.

#include "fuzz_common.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

static int replay(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the input's size, so that reads past the end are
    // caught by the sanitizers as they would be while fuzzing.
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    fprintf(stderr, "replay %s (%zu bytes)\n", file.c_str(), data.size());
    return LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
}

int main(int argc, char **argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path p(argv[i]);
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            std::vector<fs::path> files;
            for (const auto &e : fs::directory_iterator(p))
                if (e.is_regular_file() && e.path().filename().string()[0] != '.')
                    files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const auto &f : files) {
                replay(f);
                ++count;
            }
        } else if (fs::is_regular_file(p, ec)) {
            replay(p);
            ++count;
        } else {
            // A path that is neither: a corpus that is not where the build
            // says it is would otherwise pass as replayed.
            fprintf(stderr, "no such corpus directory or input: %s\n", p.c_str());
            return 1;
        }
    }
    fprintf(stderr, "%d inputs replayed\n", count);
    if (count == 0) {
        fprintf(stderr, "nothing to replay\n");
        return 1;
    }
    return 0;
}
