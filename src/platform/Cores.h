// Which processor cores a thread runs on, for work split between threads.
#pragma once

#include <functional>
#include <memory>
#include <pthread.h>

namespace oriel::platform {

// The cores this process may run on (its affinity, which a container or
// `taskset` may have narrowed below the cores the machine has); at least 1.
unsigned UsableCores();

// The core the calling thread runs on now; -1 when that cannot be told.
int CurrentCore();

// A thread that works beside the one that starts it, for work split in two:
// the system is asked to run it on another usable core than its starter's
// from its first instruction. A thread made the usual way is put on its
// starter's core and either shares it or waits there for milliseconds,
// which is as long as such work lasts; moving it from inside comes too
// late. Where there is no other core it runs where the system puts it.
// join() waits for the work, as the destructor does; the work must not
// throw.
class SideThread {
public:
    explicit SideThread(std::function<void()> work);
    ~SideThread();
    SideThread(const SideThread&) = delete;
    SideThread& operator=(const SideThread&) = delete;

    bool joinable() const { return running_; }
    void join();

private:
    static void* Run(void* work) noexcept;

    std::unique_ptr<std::function<void()>> work_;
    pthread_t handle_{};
    bool running_ = false;
};

} // namespace oriel::platform
