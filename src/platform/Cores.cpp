#include "platform/Cores.h"

#include <cerrno>
#include <sched.h>
#include <system_error>

namespace oriel::platform {

unsigned UsableCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? unsigned(count) : 1;
}

int CurrentCore()
{
    return ::sched_getcpu();
}

namespace {
// The calling thread's usable cores but `core`; false when that leaves none
// or `core` cannot be told.
bool CoresBut(int core, cpu_set_t& set)
{
    if (core < 0 || core >= CPU_SETSIZE)
        return false;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0 || !CPU_ISSET(core, &set) || CPU_COUNT(&set) < 2)
        return false;
    CPU_CLR(core, &set);
    return true;
}
} // namespace

SideThread::SideThread(std::function<void()> work)
    : work_(std::make_unique<std::function<void()>>(std::move(work)))
{
    pthread_attr_t attr;
    if (int failed = ::pthread_attr_init(&attr))
        throw std::system_error(failed, std::generic_category(), "thread attributes");
    cpu_set_t set;
    const bool beside = CoresBut(CurrentCore(), set) && ::pthread_attr_setaffinity_np(&attr, sizeof set, &set) == 0;
    int failed = ::pthread_create(&handle_, &attr, &SideThread::Run, work_.get());
    // Cores the process may no longer use (its affinity narrowed meanwhile)
    // are no reason not to start.
    if (failed == EINVAL && beside)
        failed = ::pthread_create(&handle_, nullptr, &SideThread::Run, work_.get());
    ::pthread_attr_destroy(&attr);
    if (failed)
        throw std::system_error(failed, std::generic_category(), "thread");
    running_ = true;
}

SideThread::~SideThread()
{
    join();
}

void SideThread::join()
{
    if (running_)
        ::pthread_join(handle_, nullptr);
    running_ = false;
}

void* SideThread::Run(void* work) noexcept
{
    (*static_cast<std::function<void()>*>(work))();
    return nullptr;
}

} // namespace oriel::platform
