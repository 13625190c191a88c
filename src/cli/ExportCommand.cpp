// oriel-cli export [--output FILE] FOLDER
#include "cli/Cli.h"
#include "cli/LargeWriteBuffer.h"

#include "model/CsvExport.h"
#include "ops/ExportJob.h"

#include <iostream>
#include <unistd.h>

namespace oriel::cli {

int RunExport(const Args& args, const AppContext& context)
{
    // The CSV shows no stored headers.
    auto opened = OpenFromArgs(args, context, ItemHeaders::NotKept);
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
    std::cout.flush();
    LargeWriteBuffer buffer(STDOUT_FILENO);
    std::ostream out(&buffer);
    WriteCsvExport(out, *profile.cache, profile.displayName, profile.cacheFolder);
    out.flush();
    return out && buffer.Flush() ? kExitOk : kExitFailure;
}

} // namespace oriel::cli
