// Replays a harness's seeds and every kept regression input through the
// harness, as part of the ordinary test suite (and under ASan/UBSan in the
// asan preset). Usage: replay_NAME [DIR...]
#include "FuzzSupport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

static int ReplayFolder(const fs::path& dir)
{
    int count = 0;
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        ++count;
    }
    return count;
}

int main(int argc, char** argv)
{
    SetUpFuzzEnvironment();
    fs::path seeds = fs::temp_directory_path() / ("oriel-seeds-" + std::to_string(::getpid()));
    WriteFuzzSeeds(seeds.string());
    int count = ReplayFolder(seeds);
    fs::remove_all(seeds);
    for (int i = 1; i < argc; ++i)
        count += ReplayFolder(argv[i]);
    std::printf("replayed %d inputs\n", count);
    return count > 0 ? 0 : 1;
}
