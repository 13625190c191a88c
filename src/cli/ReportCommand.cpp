// oriel-cli report --to DIR [--recovered] FOLDER | --profile N|NAME | --all
#include "cli/Cli.h"

#include "app/StringTable.h"
#include "cli/ThumbnailerModule.h"
#include "model/Progress.h"
#include "ops/ReportJob.h"

namespace oriel::cli {

int RunReport(const Args& args, const AppContext& context)
{
    auto to = args.value("to");
    if (!to || to->empty()) {
        PrintError("--to DIR names the report's folder");
        return kExitUsage;
    }
    int failures = 0;
    std::vector<OpenedCache> opened = OpenSelectionFromArgs(args, context, failures);
    if (opened.empty())
        return kExitFailure;

    ReportRequest request;
    request.folder = *to;
    request.withRecovered = args.has("recovered");
    for (const OpenedCache& cache : opened)
        request.profiles.push_back(
            {cache.profile->displayName, BrowserName(cache), cache.profile->cache->GetFolder(), cache.profile->cache.get()});
    AddExaminedSystem(request, context);

    // Without the module the report is still made, without pictures.
    std::string problem;
    std::unique_ptr<Thumbnailer> thumbnailer = LoadThumbnailer(problem);
    if (!thumbnailer)
        PrintError("warning: the report shows no pictures: " + problem);
    auto progress = MakeTerminalProgress(LoadString(IDS_REPORT_WRITING));
    ReportJob job(std::move(request), thumbnailer.get(), progress.get());
    const bool done = job.Run().Succeeded();
    progress.reset();
    if (!done) {
        for (const FileResult& file : job.Files())
            PrintError(std::string(LoadString(IDS_REPORT_FAILED)) + file.reason);
        return kExitFailure;
    }
    const ReportFigures& figures = job.Figures();
    std::printf("%s\n", job.IndexPath().c_str());
    std::fprintf(stderr, "oriel-cli: %d items, %d bodies hashed, %d pictures, %d recovered\n", figures.items,
                 figures.bodies, figures.thumbnails, figures.recovered);
    return std::fflush(stdout) == 0 && failures == 0 ? kExitOk : kExitFailure;
}

} // namespace oriel::cli
