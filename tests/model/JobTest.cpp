#include "model/Job.h"

#include "model/Progress.h"
#include "support/NullProgress.h"
#include "support/Gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace oriel {
namespace {

using test::Gate;

// A job whose work is a function given by the test.
class ScriptedJob final : public Job {
public:
    explicit ScriptedJob(Progress* progress = nullptr)
        : Job(progress)
    {
    }
    ~ScriptedJob() override { StopAndWait(); }

    std::function<int(ScriptedJob&)> work = [](ScriptedJob&) { return 0; };
    std::function<bool()> prepare = [] { return true; };
    std::atomic<int> runs{0};
    std::atomic<int> forwardedStops{0};

private:
    bool DoPrepare() override { return prepare(); }
    int DoRun() override
    {
        ++runs;
        return work(*this);
    }
    void DoRequestStop() override { ++forwardedStops; }
};

// Counts the completion calls, and where and with what they came.
struct CompletionLog {
    std::atomic<int> calls{0};
    JobResult result;
    std::thread::id thread;
    bool finishedInHandler = false;

    Job::CompletionHandler Handler()
    {
        return [this](const Job& job) {
            result = job.Result();
            thread = std::this_thread::get_id();
            finishedInHandler = job.IsFinished();
            ++calls;
        };
    }
};

TEST(Job, RunWorksOnTheCallingThreadAndReportsOnceWithTheWorksStatus)
{
    for (int status : {0, -1, 7}) {
        SCOPED_TRACE(status);
        ScriptedJob job;
        std::thread::id workThread;
        job.work = [&](ScriptedJob&) {
            workThread = std::this_thread::get_id();
            return status;
        };
        CompletionLog log;
        job.SetCompletionHandler(log.Handler());
        JobResult result = job.Run();
        EXPECT_EQ(result.status, status);
        EXPECT_TRUE(result.ran);
        EXPECT_FALSE(result.stopped);
        EXPECT_EQ(result.Succeeded(), status == 0);
        EXPECT_EQ(workThread, std::this_thread::get_id());
        EXPECT_EQ(log.calls, 1);
        EXPECT_EQ(log.thread, std::this_thread::get_id());
        EXPECT_EQ(log.result.status, status);
        EXPECT_TRUE(log.finishedInHandler);
        EXPECT_TRUE(job.IsFinished());
        EXPECT_FALSE(job.IsRunning());
        // A job runs once.
        EXPECT_EQ(job.Run().status, status);
        EXPECT_FALSE(job.Start());
        EXPECT_EQ(job.runs, 1);
        EXPECT_EQ(log.calls, 1);
    }
}

TEST(Job, StartWorksOnItsOwnThreadAndReportsThereOnce)
{
    ScriptedJob job;
    Gate release;
    std::thread::id workThread;
    job.work = [&](ScriptedJob&) {
        workThread = std::this_thread::get_id();
        return release.WaitOpen() ? 3 : 99;
    };
    CompletionLog log;
    job.SetCompletionHandler(log.Handler());
    ASSERT_TRUE(job.Start());
    // Start returned while the work still waits.
    EXPECT_TRUE(job.IsRunning());
    EXPECT_FALSE(job.IsFinished());
    EXPECT_EQ(log.calls, 0);
    EXPECT_FALSE(job.Start());
    release.Open();
    job.Wait();
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.result.status, 3);
    EXPECT_TRUE(log.result.ran);
    EXPECT_NE(workThread, std::this_thread::get_id());
    EXPECT_EQ(log.thread, workThread);
    EXPECT_EQ(job.Result().status, 3);
    job.Wait(); // a second wait returns at once
    EXPECT_EQ(job.Run().status, 3);
    EXPECT_EQ(job.runs, 1);
    EXPECT_EQ(log.calls, 1);
}

TEST(Job, AStopBeforeTheJobBeginsSkipsTheWorkButStillReports)
{
    for (bool onItsThread : {true, false}) {
        SCOPED_TRACE(onItsThread);
        ScriptedJob job;
        bool prepared = false;
        job.prepare = [&] { return prepared = true; };
        CompletionLog log;
        job.SetCompletionHandler(log.Handler());
        job.RequestStop();
        EXPECT_TRUE(job.StopRequested());
        if (onItsThread) {
            ASSERT_TRUE(job.Start());
            job.Wait();
        } else {
            job.Run();
        }
        EXPECT_EQ(job.runs, 0);
        EXPECT_FALSE(prepared);
        EXPECT_EQ(job.forwardedStops, 0);
        EXPECT_EQ(log.calls, 1);
        EXPECT_FALSE(log.result.ran);
        EXPECT_TRUE(log.result.stopped);
        EXPECT_EQ(log.result.status, -1);
        EXPECT_FALSE(log.result.Succeeded());
    }
}

TEST(Job, AStopWhileTheWorkRunsIsSeenAndForwarded)
{
    ScriptedJob job;
    Gate started, stopped;
    job.work = [&](ScriptedJob& self) {
        started.Open();
        if (!stopped.WaitOpen())
            return 99;
        return self.StopRequested() ? 0 : 1;
    };
    CompletionLog log;
    job.SetCompletionHandler(log.Handler());
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(started.WaitOpen());
    job.RequestStop();
    stopped.Open();
    job.Wait();
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.result.status, 0);
    EXPECT_TRUE(log.result.ran);
    EXPECT_TRUE(log.result.stopped);
    EXPECT_EQ(job.forwardedStops, 1);
    // Once the work has ended, a stop reaches nothing.
    job.RequestStop();
    EXPECT_EQ(job.forwardedStops, 1);
}

TEST(Job, AStopDuringThePreparationReachesTheWorkAfterItsClaim)
{
    ScriptedJob job;
    job.prepare = [&] {
        job.RequestStop(); // another thread's stop, in the middle of Start
        EXPECT_EQ(job.forwardedStops, 0);
        return true;
    };
    job.work = [](ScriptedJob& self) { return self.forwardedStops == 1 ? 0 : 1; };
    JobResult result = job.Run();
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.stopped);
}

TEST(Job, ARefusedPreparationSkipsTheWorkAndReportsOnce)
{
    for (bool onItsThread : {true, false}) {
        SCOPED_TRACE(onItsThread);
        ScriptedJob job;
        job.prepare = [] { return false; };
        CompletionLog log;
        job.SetCompletionHandler(log.Handler());
        if (onItsThread) {
            ASSERT_TRUE(job.Start());
            job.Wait();
        } else {
            job.Run();
        }
        EXPECT_EQ(job.runs, 0);
        EXPECT_EQ(log.calls, 1);
        EXPECT_FALSE(log.result.ran);
        EXPECT_FALSE(log.result.stopped);
        EXPECT_EQ(log.result.status, -1);
    }
}

TEST(Job, DestroyingARunningJobStopsItAndWaitsForItsHandler)
{
    Gate started;
    std::atomic<bool> sawStop{false};
    CompletionLog log;
    {
        ScriptedJob job;
        job.work = [&](ScriptedJob& self) {
            started.Open();
            // Ends only on a stop request (or fails after the bound).
            for (int i = 0; i < 20000 && !self.StopRequested(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            sawStop = self.StopRequested();
            return 0;
        };
        job.SetCompletionHandler(log.Handler());
        ASSERT_TRUE(job.Start());
        ASSERT_TRUE(started.WaitOpen());
    }
    EXPECT_TRUE(sawStop);
    EXPECT_EQ(log.calls, 1);
    EXPECT_TRUE(log.result.stopped);
}

TEST(Job, DestroyingAJobThatNeverStartedCallsNothing)
{
    CompletionLog log;
    {
        ScriptedJob job;
        job.SetCompletionHandler(log.Handler());
        job.Wait(); // returns at once
    }
    EXPECT_EQ(log.calls, 0);
}

TEST(Job, TheHandlerMayWaitForItsOwnJob)
{
    ScriptedJob job;
    std::atomic<bool> returned{false};
    job.SetCompletionHandler([&](const Job&) {
        job.Wait();
        returned = true;
    });
    ASSERT_TRUE(job.Start());
    job.Wait();
    EXPECT_TRUE(returned);
    ScriptedJob sync;
    sync.SetCompletionHandler([&](const Job&) { sync.Wait(); });
    EXPECT_EQ(sync.Run().status, 0);
}

TEST(Job, AHandlerSetAfterTheStartIsIgnored)
{
    ScriptedJob job;
    CompletionLog first, late;
    job.SetCompletionHandler(first.Handler());
    Gate release;
    job.work = [&](ScriptedJob&) { return release.WaitOpen() ? 0 : 1; };
    ASSERT_TRUE(job.Start());
    job.SetCompletionHandler(late.Handler());
    release.Open();
    job.Wait();
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(late.calls, 0);
}

TEST(Job, WaitersOnOtherThreadsAllReturnAfterTheHandler)
{
    ScriptedJob job;
    Gate release;
    std::atomic<bool> handled{false};
    job.work = [&](ScriptedJob&) { return release.WaitOpen() ? 0 : 1; };
    job.SetCompletionHandler([&](const Job&) { handled = true; });
    ASSERT_TRUE(job.Start());
    std::atomic<int> sawHandled{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            job.Wait();
            if (handled)
                ++sawHandled;
        });
    }
    release.Open();
    for (auto& waiter : waiters)
        waiter.join();
    EXPECT_EQ(sawHandled, 3);
}

using test::NullProgress;

TEST(Job, TheProgressTargetIsTheOneGiven)
{
    NullProgress progress;
    EXPECT_EQ(ScriptedJob(&progress).GetProgress(), &progress);
    EXPECT_EQ(ScriptedJob().GetProgress(), nullptr);
}

} // namespace
} // namespace oriel
