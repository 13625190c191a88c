#include "model/Job.h"

namespace oriel {

Job::Job(Progress* progress)
    : progress_(progress)
{
}

Job::~Job()
{
    StopAndWait();
}

void Job::StopAndWait()
{
    RequestStop();
    Wait();
    // The handler has returned; the thread only has to leave its function.
    if (thread_.joinable())
        thread_.join();
}

void Job::SetCompletionHandler(CompletionHandler handler)
{
    std::lock_guard lock(mutex_);
    if (state_ == State::Ready)
        handler_ = std::move(handler);
}

bool Job::Prepare()
{
    bool prepared = !StopRequested() && DoPrepare();
    std::lock_guard lock(mutex_);
    state_ = State::Running;
    // A stop asked for while DoPrepare ran reaches the work only now, after
    // its claim: a cache's decode counts the stops made after it began.
    if (prepared && stopRequested_)
        DoRequestStop();
    return prepared;
}

bool Job::Start()
{
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::Ready)
            return false;
        state_ = State::Preparing;
    }
    bool prepared = Prepare();
    std::lock_guard lock(mutex_);
    thread_ = std::thread([this, prepared] { Execute(prepared); });
    workerId_ = thread_.get_id();
    return true;
}

JobResult Job::Run()
{
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::Ready)
            return result_;
        state_ = State::Preparing;
        workerId_ = std::this_thread::get_id();
    }
    Execute(Prepare());
    return Result();
}

void Job::Execute(bool prepared)
{
    JobResult result;
    if (prepared) {
        result.ran = true;
        result.status = DoRun();
    }
    {
        std::lock_guard lock(mutex_);
        result.stopped = stopRequested_;
        result_ = result;
        state_ = State::Finished;
    }
    if (handler_)
        handler_(*this);
    std::lock_guard lock(mutex_);
    done_ = true;
    finished_.notify_all();
}

void Job::Wait()
{
    std::unique_lock lock(mutex_);
    if (state_ == State::Ready || std::this_thread::get_id() == workerId_)
        return;
    finished_.wait(lock, [this] { return done_; });
}

void Job::RequestStop()
{
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
    if (state_ == State::Running)
        DoRequestStop();
}

bool Job::StopRequested() const
{
    std::lock_guard lock(mutex_);
    return stopRequested_;
}

bool Job::IsRunning() const
{
    std::lock_guard lock(mutex_);
    return state_ == State::Preparing || state_ == State::Running;
}

bool Job::IsFinished() const
{
    std::lock_guard lock(mutex_);
    return state_ == State::Finished;
}

JobResult Job::Result() const
{
    std::lock_guard lock(mutex_);
    return result_;
}

} // namespace oriel
