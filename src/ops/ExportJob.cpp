#include "ops/ExportJob.h"

#include "model/Cache.h"
#include "model/CsvExport.h"
#include "model/DecodeJob.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace oriel {

namespace fs = std::filesystem;

bool PathLiesInFolder(const std::string& path, const std::string& folder)
{
    if (folder.empty() || path.empty())
        return false;
    std::error_code ec;
    fs::path file = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec)
        return false;
    fs::path root = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    if (ec)
        return false;
    file = file.lexically_normal();
    root = root.lexically_normal();
    // Compared name by name: "/cache2/x" is not inside "/cache".
    auto f = file.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++f) {
        if (r->empty())
            continue; // the empty name after a trailing separator
        if (f == file.end() || *f != *r)
            return false;
    }
    return true;
}

ExportJob::ExportJob(CCache& cache, ExportRequest request, Progress* progress)
    : FileJob(progress)
    , cache_(cache)
    , request_(std::move(request))
{
}

ExportJob::~ExportJob()
{
    StopAndWait();
}

void ExportJob::DoRequestStop()
{
    // Reaches the decode that decodeFirst may run, and only while it runs:
    // a stop left on the cache afterwards would cut short its next delete.
    // The writing itself is one pass that is not cut short.
    std::lock_guard lock(decodeMutex_);
    if (decode_)
        decode_->RequestStop();
}

int ExportJob::DoRun()
{
    const std::string& path = request_.outputPath;
    for (const std::string& folder : {cache_.GetFolder(), request_.cacheFolder}) {
        if (PathLiesInFolder(path, folder)) {
            Record(path, FileOutcome::Refused, "will not write into the cache folder: " + path);
            return -1;
        }
    }
    if (request_.decodeFirst && !cache_.IsDecoded()) {
        DecodeJob decode(cache_, GetProgress(), request_.showMessages);
        {
            std::lock_guard lock(decodeMutex_);
            decode_ = &decode;
        }
        if (StopRequested())
            decode.RequestStop(); // asked for before decode_ was set
        decode.Run();
        std::lock_guard lock(decodeMutex_);
        decode_ = nullptr;
    }
    if (StopRequested()) {
        Record(path, FileOutcome::Skipped, "stopped");
        return -1;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        Record(path, FileOutcome::Failed, "cannot create " + path + ": " + std::strerror(errno));
        return -1;
    }
    int32_t items = cache_.GetItemCount();
    ProgressSetRange(items);
    bool exported = WriteCsvExport(out, cache_, request_.displayName, request_.cacheFolder);
    out.flush();
    if (!out) {
        Record(path, FileOutcome::Failed, "cannot write " + path);
        return -1;
    }
    ProgressSetPos(items);
    if (!exported) {
        Record(path, FileOutcome::Failed, "the cache is not decoded; the file holds the header lines only");
        return -1;
    }
    Record(path, FileOutcome::Done);
    return 0;
}

} // namespace oriel
