// oriel-cli export [--output FILE] FOLDER
#include "cli/Cli.h"

#include "model/CsvExport.h"

#include <cstring>
#include <fstream>
#include <iostream>

namespace oriel::cli {

int RunExport(const Args& args, const AppContext& context)
{
    auto opened = OpenFromArgs(args, context);
    if (!opened)
        return kExitFailure;
    const BrowserProfile& profile = *opened->profile;
    if (auto output = args.value("output")) {
        std::ofstream out(*output, std::ios::binary | std::ios::trunc);
        if (!out) {
            PrintError("cannot create " + *output + ": " + std::strerror(errno));
            return kExitFailure;
        }
        WriteCsvExport(out, *profile.cache, profile.displayName, profile.cacheFolder);
        out.flush();
        if (!out) {
            PrintError("cannot write " + *output);
            return kExitFailure;
        }
        return kExitOk;
    }
    std::ios::sync_with_stdio(false);
    WriteCsvExport(std::cout, *profile.cache, profile.displayName, profile.cacheFolder);
    std::cout.flush();
    return std::cout ? kExitOk : kExitFailure;
}

} // namespace oriel::cli
