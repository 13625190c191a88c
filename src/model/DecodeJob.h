// One decode of one cache, on the job's thread or on the calling thread.
//
// The job claims the cache's decoding flag when it starts: a decode job
// started while another decode of the same cache runs does not run (its
// result says so, and its handler is still called). The job's stop request
// is the cache's: a stop asked for at any moment after Start() or Run()
// reaches the decoder at its next stop check. A stop asked for before
// Start() leaves the cache untouched.
//
// The result's status is the decode's: 0 when the cache is now decoded.
// The job must end before the cache is destroyed.
#pragma once

#include "model/Job.h"

namespace oriel {

class CCache;

class DecodeJob final : public Job {
public:
    DecodeJob(CCache& cache, Progress* progress, bool showMessages);
    ~DecodeJob() override;

    CCache& GetCache() const { return cache_; }
    bool ShowMessages() const { return showMessages_; }

private:
    bool DoPrepare() override;
    int DoRun() override;
    void DoRequestStop() override;

    CCache& cache_;
    bool showMessages_;
};

} // namespace oriel
