// Writes a self-contained HTML report of one or more decoded caches into a
// folder: index.html (a summary per profile, then a sortable, filterable
// table of every item with the SHA-256 of its body) and thumbs/N.png, the
// small pictures of the image bodies. The page fetches nothing: its only
// images are the thumbnails beside it, its script and style are inline and
// named by hash in its content security policy, and every text from a
// cache is escaped (a URL is shown as text, never made a link).
//
// Evidence safety: the report folder is refused when it lies in the
// examined system or a cache folder; bodies are read through ItemBody (in
// place, or decoded into a scratch folder of our own), never prepared
// beside themselves. index.html is written under a temporary name and
// renamed when whole; a stopped job leaves no index.html and removes the
// thumbnails it wrote.
//
// Files() holds one outcome, for index.html. The result's status is 0 when
// the report was written, -1 otherwise.
#pragma once

#include "ops/FileJob.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace oriel {

class AppContext;
class CCache;
class DecodeJob;
class Thumbnailer;

struct ReportProfile {
    std::string displayName;
    std::string browser;
    std::string cacheFolder;
    CCache* cache = nullptr; // must outlive the job
};

struct ReportRequest {
    std::string folder; // the report's folder (made when missing)
    std::vector<ReportProfile> profiles;
    bool withRecovered = false;
    std::string systemRoot; // the examined system's root; empty when none
    std::string systemUser;
    // Folders the report must not be written into, besides the cache
    // folders: the examined root and drive folders.
    std::vector<std::string> examinedFolders;
    int64_t madeAt = 0; // Unix seconds; 0: when the job runs
    int thumbnailSide = 160;
    // Bodies larger than this are hashed but not handed to the thumbnailer.
    uint64_t maxImageBytes = 32u << 20;
    // Decode the caches that are not decoded first (the window's command).
    bool decodeFirst = false;
    bool showMessages = true;
};

// The examined system of `context` into the request: its root and user,
// and the root and drive folders among the folders never written into.
void AddExaminedSystem(ReportRequest& request, const AppContext& context);

// What the report holds, for the faces to tell.
struct ReportFigures {
    int items = 0;
    int bodies = 0;     // items whose body was read and hashed
    int thumbnails = 0; // thumbnails written
    int recovered = 0;
};

class ReportJob final : public FileJob {
public:
    // `thumbnailer` may be null (no pictures); it must outlive the job.
    ReportJob(ReportRequest request, Thumbnailer* thumbnailer, Progress* progress = nullptr);
    ~ReportJob() override;

    const ReportRequest& Request() const { return request_; }
    const ReportFigures& Figures() const { return figures_; }
    // The report's page.
    std::string IndexPath() const;

private:
    bool DoPrepare() override;
    int DoRun() override;
    void DoRequestStop() override;

    ReportRequest request_;
    Thumbnailer* thumbnailer_;
    ReportFigures figures_;
    std::mutex decodeMutex_;
    DecodeJob* decode_ = nullptr;
};

} // namespace oriel
