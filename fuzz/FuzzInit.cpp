// libFuzzer start-up: quiet environment; with ORIEL_WRITE_SEEDS=DIR the
// harness only writes its seeds into DIR and ends.
#include "FuzzSupport.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SetUpFuzzEnvironment();
    if (const char* dir = std::getenv("ORIEL_WRITE_SEEDS"); dir && *dir) {
        WriteFuzzSeeds(dir);
        std::exit(0);
    }
    return 0;
}
