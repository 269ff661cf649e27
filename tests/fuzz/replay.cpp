// Runs inputs through a fuzz target without the fuzzing engine: every file
// named on the command line and every file below a named folder (a folder
// that does not exist holds none; names starting with "." are skipped). The
// unit run replays the seed corpus and every kept regression input this way,
// so a fault once found stays found in every build.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz.h"

namespace fs = std::filesystem;

static bool replay(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return false;
    }
    // A copy of exactly the input's size, so a read past its end is seen
    // by the address sanitizer as it would be under the engine.
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    static const uint8_t nothing = 0;
    LLVMFuzzerTestOneInput(data.empty() ? &nothing : data.data(), data.size());
    return true;
}

int main(int argc, char **argv)
{
    std::vector<fs::path> files;
    for (int i = 1; i < argc; i++) {
        fs::path arg = argv[i];
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            for (const auto &entry : fs::recursive_directory_iterator(arg)) {
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                    files.push_back(entry.path());
            }
        } else if (fs::exists(arg, ec)) {
            files.push_back(arg);
        }
    }
    std::sort(files.begin(), files.end());
    int failed = 0;
    for (const auto &file : files) {
        fprintf(stderr, "replay: %s\n", file.c_str());
        if (!replay(file))
            failed = 1;
    }
    fprintf(stderr, "replay: %zu inputs\n", files.size());
    return failed;
}
