// Emptying caches: one cache (the window's Empty Cache), or the caches of
// several profiles one after another (the empty-cache run started with
// "/EMPTY").
//
// Without "FastDelete" a cache that is not decoded is decoded first, so
// that the cache knows which files are its own; with it the cache removes
// its folder's files without a decode. A stop request reaches the decode
// or the cache's delete loop at its next stop check; a decode ended by a
// stop is not followed by the empty (its list is incomplete).
//
// Files() holds one outcome per file of the decoded list, in list order:
// Done when the file is gone afterwards, Failed when it is still there,
// Skipped when a stop came first. A FastDelete records nothing (no list).
// The caches must outlive the job.
#pragma once

#include "ops/FileJob.h"
#include "platform/OwnerWindow.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace oriel {

class CCache;

class EmptyJob final : public FileJob {
public:
    enum class Phase { Decoding, Removing };
    // Called on the job's thread as each phase begins.
    using PhaseHandler = std::function<void(Phase phase)>;

    EmptyJob(CCache& cache, bool fastDelete, OwnerWindow owner = nullptr, Progress* progress = nullptr,
             bool showMessages = true);
    ~EmptyJob() override;

    // Set before Start() or Run().
    void SetPhaseHandler(PhaseHandler handler) { phase_ = std::move(handler); }
    CCache& GetCache() const { return cache_; }
    // The job decoded the cache before emptying it.
    bool DecodedFirst() const { return decodedFirst_; }
    // The cache's Empty ran.
    bool Emptied() const { return emptied_; }

private:
    bool DoPrepare() override;
    int DoRun() override;
    void DoRequestStop() override;

    CCache& cache_;
    bool fastDelete_;
    OwnerWindow owner_;
    bool showMessages_;
    PhaseHandler phase_;
    bool decodedFirst_ = false;
    bool emptied_ = false;
};

// The caches of several profiles, emptied in order: each decoded on its own
// decode thread with messages off (unless "FastDelete"), then emptied. A
// stop ends the profile being worked on at its next stop check and skips
// every later one.
class EmptyProfilesJob final : public FileJob {
public:
    struct Target {
        CCache* cache = nullptr; // a profile without a cache is passed over
        std::string name;        // the profile's name, for the status text
    };
    // Called on the job's thread: the status text's string id and the
    // profile's name.
    using StatusHandler = std::function<void(int textId, const std::string& profileName)>;

    EmptyProfilesJob(std::vector<Target> targets, bool fastDelete, Progress* progress = nullptr);
    ~EmptyProfilesJob() override;

    void SetStatusHandler(StatusHandler handler) { status_ = std::move(handler); }
    // The names of the profiles whose caches were emptied, in order.
    const std::vector<std::string>& EmptiedProfiles() const { return emptied_; }

private:
    int DoRun() override;
    void DoRequestStop() override;
    void SetCurrent(CCache* cache);

    std::vector<Target> targets_;
    bool fastDelete_;
    StatusHandler status_;
    std::vector<std::string> emptied_;
    std::mutex currentMutex_;
    CCache* current_ = nullptr;
};

} // namespace oriel
