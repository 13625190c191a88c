// Copies or moves cached items' bodies out of a cache into a folder, each
// under the destination name given for it (DestName.h), creating folders as
// needed. What is written is the body as a program would open it:
// extracted from its block file and decoded by its content encoding.
//
// Evidence safety:
//  - only the destination is written; a plain or encoded body is read in
//    place, never prepared beside itself in the cache folder;
//  - every folder below the destination folder is entered without following
//    a symbolic link, and every file is created exclusively without following
//    one (O_CREAT|O_EXCL|O_NOFOLLOW); a replaced file is written under a
//    fresh name and renamed over the old entry, so a link planted at the
//    destination is replaced, never written through;
//  - a taken name gets a numbered name ("name (2).ext") unless an overwrite
//    question is set, which then decides (Yes, Yes to all, No, Cancel);
//  - a move copies, reads the copy back to check its size and SHA-256, and
//    only then removes the body, through the delete run of
//    ShellFileOperation scoped to the cache's folder. A body inside a block
//    file, or one that cannot be removed, stays where it is (NotMoved()).
//
// Files() holds one outcome per item, in order, named by the item's URL;
// Copies() the details of each one written. The result's status is 0 when
// every item was copied (and moved), -1 otherwise. The items must outlive
// the job.
#pragma once

#include "ops/FileJob.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace oriel {

class CCacheItem;

enum class OverwriteAnswer { Yes, YesToAll, No, Cancel };

struct CopyRequest {
    CCacheItem* item = nullptr;
    std::string destName; // relative, "/" between folders
};

struct CopiedFile {
    CCacheItem* item = nullptr;
    std::string url;
    std::string destination; // full host path written
    std::string cacheName;
    int64_t size = 0;
    std::string sha256; // lower-case hex
    std::string md5;
    bool decoded = false; // the body was decompressed on the way
    bool cut = false;     // ... and stopped at the decoded-size cap
    bool removed = false; // a move removed the body from the cache
};

class CopyMoveJob final : public FileJob {
public:
    // Called on the job's thread with the full path of a taken destination.
    using OverwriteQuestion = std::function<OverwriteAnswer(const std::string& destination)>;

    CopyMoveJob(std::vector<CopyRequest> requests, std::string destFolder, bool move, Progress* progress = nullptr);
    ~CopyMoveJob() override;

    // Set before the start; without one, taken names are numbered.
    void SetOverwriteQuestion(OverwriteQuestion question) { question_ = std::move(question); }

    bool IsMove() const { return move_; }
    const std::vector<CopyRequest>& Requests() const { return requests_; }
    const std::vector<CopiedFile>& Copies() const { return copies_; }
    // Items copied by a move whose bodies stayed in the cache.
    int NotMoved() const { return notMoved_; }
    // The user answered Cancel to an overwrite question.
    bool Cancelled() const { return cancelled_; }

private:
    int DoRun() override;
    bool CopyOne(const CopyRequest& request);

    std::vector<CopyRequest> requests_;
    std::string destFolder_;
    bool move_;
    OverwriteQuestion question_;
    bool overwriteAll_ = false;
    bool cancelled_ = false;
    int notMoved_ = 0;
    std::vector<CopiedFile> copies_;
};

} // namespace oriel
