// Long work as an object: decoding a cache, exporting it, deleting or
// copying its files. A job owns the thread it runs on, reports progress
// through a Progress target, can be asked to stop, keeps its result, and
// tells its owner once, when the work has ended.
//
// Either Start() runs the work on the job's own thread and returns at once,
// or Run() runs it on the calling thread (oriel-cli). A job runs once.
//
// Threads: RequestStop, IsRunning, IsFinished and Wait may be called from
// any thread at any time. Result() and the results of the concrete jobs are
// read after the job has finished: from the completion handler, or after
// Wait() or Run() returned.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace oriel {

class Progress;

// How a job ended.
struct JobResult {
    // 0 when the work succeeded, otherwise the work's own failure value
    // (-1 when it did not run).
    int status = -1;
    // A stop was asked for before the work ended; the work may still have
    // finished everything.
    bool stopped = false;
    // The work ran; false when it was stopped before it began or refused to
    // begin (a decode while another decode of the same cache runs).
    bool ran = false;

    bool Succeeded() const { return ran && status == 0; }
};

class Job {
public:
    // Called exactly once per job, after the work ended (or was skipped):
    // on the job's own thread after Start(), on the calling thread during
    // Run(). The window posts it on to its own thread. The handler must not
    // destroy the job; it may read every result.
    using CompletionHandler = std::function<void(const Job& job)>;

    // A running job is asked to stop and waited for.
    virtual ~Job();
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Set before Start() or Run(); later calls are ignored.
    void SetCompletionHandler(CompletionHandler handler);

    // Starts the work on the job's own thread and returns at once. False,
    // with nothing started and no handler called, when the job was started
    // or run before.
    bool Start();
    // Runs the work on the calling thread and returns its result. A job
    // that was started or run before returns its earlier result (or the
    // default one while it still runs) and does nothing.
    JobResult Run();
    // Returns once the work ended and the completion handler returned;
    // at once when the job never started, or when called from the job's
    // own thread.
    void Wait();

    // Asks the work to end early; a stop asked for before Start() or Run()
    // skips the work (the handler is still called). The work sees the
    // request at its next stop check.
    void RequestStop();
    bool StopRequested() const;

    // Started (or running synchronously) and the work has not yet ended.
    bool IsRunning() const;
    // The work has ended; the completion handler may still be running.
    bool IsFinished() const;
    // How the job ended; the default result until it has finished.
    JobResult Result() const;

    Progress* GetProgress() const { return progress_; }

protected:
    explicit Job(Progress* progress);

    // Runs on the thread that calls Start() or Run(), before the work and
    // before the job's thread exists; false refuses the work (the result
    // then says it did not run). Claims what the work needs, such as a
    // cache's decoding flag, so that the claim is settled when Start()
    // returns.
    virtual bool DoPrepare() { return true; }
    // The work; returns 0 on success.
    virtual int DoRun() = 0;
    // Forwards a stop request to what the work runs on (a cache's stop
    // flag). Called while the work runs, under the job's lock, so it must
    // not wait for the work.
    virtual void DoRequestStop() {}

    // Every concrete job calls this first in its destructor: the work runs
    // the concrete job's code, which must not run on a half-destroyed
    // object.
    void StopAndWait();

private:
    // Preparing: DoPrepare runs; stop requests are kept but not yet
    // forwarded, so that they reach the work after its claim is made.
    enum class State { Ready, Preparing, Running, Finished };

    bool Prepare();
    void Execute(bool prepared);

    Progress* progress_;
    mutable std::mutex mutex_;
    std::condition_variable finished_;
    State state_ = State::Ready;
    bool stopRequested_ = false;
    // Set when the handler returned; Wait() waits for this, not for the
    // state, so that a waiter sees the handler's effects.
    bool done_ = false;
    JobResult result_;
    CompletionHandler handler_;
    std::thread thread_;
    std::thread::id workerId_;
};

} // namespace oriel
