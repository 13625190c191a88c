// Exports one cache's index as a CSV file (the header lines and one row per
// item). The job writes the one file the user named and nothing else; a
// file that would lie inside the cache folder is refused, so that the
// examined cache is never written.
//
// Files() holds one outcome, for the output path (none when the job did
// not run):
//   Done     the whole export was written;
//   Failed   the file could not be created or written ("cannot create
//            PATH: REASON", "cannot write PATH"), or the cache is not
//            decoded, in which case the file holds the header lines only;
//   Skipped  a stop was asked for before the file was created;
//   Refused  the path lies inside the cache folder; nothing was written.
// The result's status is 0 for Done, -1 otherwise.
#pragma once

#include "ops/FileJob.h"

#include <mutex>
#include <string>

namespace oriel {

class CCache;
class DecodeJob;

struct ExportRequest {
    std::string outputPath;  // the file to create (or truncate)
    std::string displayName; // the profile's name, for the header
    std::string cacheFolder; // the profile's cache folder, for the header
    // Decode the cache first when it is not decoded (the window's command
    // does); otherwise an undecoded cache exports the header only.
    bool decodeFirst = false;
    bool showMessages = true; // for that decode
};

class ExportJob final : public FileJob {
public:
    ExportJob(CCache& cache, ExportRequest request, Progress* progress = nullptr);
    ~ExportJob() override;

    const ExportRequest& Request() const { return request_; }

private:
    int DoRun() override;
    void DoRequestStop() override;

    CCache& cache_;
    ExportRequest request_;
    std::mutex decodeMutex_;
    DecodeJob* decode_ = nullptr; // the decode that decodeFirst runs, while it runs
};

// True when `path` (a file to write) would lie in `folder` or below it,
// symbolic links resolved. An empty folder contains nothing.
bool PathLiesInFolder(const std::string& path, const std::string& folder);

} // namespace oriel
