#include "model/DecodeJob.h"

#include "model/Cache.h"

namespace oriel {

DecodeJob::DecodeJob(CCache& cache, Progress* progress, bool showMessages)
    : Job(progress)
    , cache_(cache)
    , showMessages_(showMessages)
{
}

DecodeJob::~DecodeJob()
{
    StopAndWait();
}

bool DecodeJob::DoPrepare()
{
    return cache_.BeginDecode(GetProgress(), showMessages_);
}

int DecodeJob::DoRun()
{
    return cache_.RunDecode();
}

void DecodeJob::DoRequestStop()
{
    cache_.RequestStop();
}

} // namespace oriel
