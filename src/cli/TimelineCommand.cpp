// oriel-cli timeline [--format csv|jsonl] [--recovered] FOLDER | --profile N|NAME | --all
#include "cli/Cli.h"

#include "app/StringTable.h"
#include "model/Progress.h"
#include "ops/Timeline.h"

#include <iostream>

namespace oriel::cli {

int RunTimeline(const Args& args, const AppContext& context)
{
    const std::string format = args.value("format").value_or("csv");
    if (format != "csv" && format != "jsonl") {
        PrintError("--format: expected csv or jsonl, not '" + format + "'");
        return kExitUsage;
    }
    int failures = 0;
    std::vector<OpenedCache> opened = OpenSelectionFromArgs(args, context, failures);
    if (opened.empty())
        return kExitFailure;

    Timeline timeline;
    for (const OpenedCache& cache : opened) {
        const uint32_t source = timeline.AddSource({BrowserName(cache), cache.profile->displayName,
                                                    cache.profile->cache->GetFolder(), IndexFilePath(cache)});
        timeline.AddCache(source, *cache.profile->cache, args.has("recovered"));
    }
    timeline.Sort();
    if (size_t left = timeline.OutOfRangeCount())
        PrintError("warning: " + std::to_string(left) +
                   " times outside the years 1601 to 9999 (damaged records) are left out");

    std::ios::sync_with_stdio(false);
    bool written;
    {
        auto progress = MakeTerminalProgress(LoadString(IDS_TIMELINE_WRITING));
        written = format == "csv" ? WriteTimelineCsv(std::cout, timeline, progress.get())
                                  : WriteTimelineJsonl(std::cout, timeline, progress.get());
    }
    return written && failures == 0 ? kExitOk : kExitFailure;
}

} // namespace oriel::cli
