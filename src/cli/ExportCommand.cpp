// oriel-cli export [--output FILE] FOLDER
#include "cli/Cli.h"

#include "model/CsvExport.h"
#include "ops/ExportJob.h"

#include <iostream>

namespace oriel::cli {

int RunExport(const Args& args, const AppContext& context)
{
    auto opened = OpenFromArgs(args, context);
    if (!opened)
        return kExitFailure;
    const BrowserProfile& profile = *opened->profile;
    if (auto output = args.value("output")) {
        ExportJob job(*profile.cache, {*output, profile.displayName, profile.cacheFolder});
        if (!job.Run().Succeeded()) {
            for (const FileResult& file : job.Files())
                PrintError(file.reason);
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
