#include "model/RowsOnTwoThreads.h"

#include "platform/Cores.h"

#include <atomic>
#include <exception>
#include <thread>

namespace oriel {

namespace {

constexpr size_t kFirstRoom = 32 * 1024;

enum : int { kFree, kMade, kFailed };

// A run the helper makes and the calling thread writes.
struct Slot {
    RowRun run;
    std::atomic<int> state{kFree};
};

void Pause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Waits until `state` is no longer `from`, and returns it. It spins a
// little first: the other thread is making a run about as long as this
// one's, and going to sleep and being woken costs more than that wait.
int WaitWhile(const std::atomic<int>& state, int from)
{
    for (int spin = 0; spin < 8192; ++spin) {
        const int now = state.load(std::memory_order_acquire);
        if (now != from)
            return now;
        Pause();
    }
    for (;;) {
        state.wait(from, std::memory_order_acquire);
        const int now = state.load(std::memory_order_acquire);
        if (now != from)
            return now;
    }
}

} // namespace

RowRun::RowRun()
    : buffer_(kFirstRoom)
{
    Clear();
}

void RowRun::Grow(size_t more)
{
    const size_t used = size_t(pptr() - pbase());
    buffer_.resize(std::max(buffer_.size() * 2, used + more));
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    pbump(int(used));
}

RowRun::int_type RowRun::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    Grow(1);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

std::streamsize RowRun::xsputn(const char* s, std::streamsize n)
{
    if (n <= 0)
        return 0;
    if (n > epptr() - pptr())
        Grow(size_t(n));
    platform::CopyBytes(pptr(), s, size_t(n));
    pbump(int(n));
    return n;
}

void MakeRowsOnTwoThreads(size_t runs, const std::function<void(size_t run, RowRun& into)>& make,
                          const std::function<bool(std::string_view text)>& write)
{
    RowRun own;
    if (runs < 2 || platform::UsableCores() < 2) {
        for (size_t run = 0; run < runs; ++run) {
            own.Clear();
            make(run, own);
            if (!write(own.Text()))
                return;
        }
        return;
    }

    Slot slots[2];
    std::atomic<bool> stop{false};
    std::exception_ptr failure;
    std::thread helper([&, starter = platform::CurrentCore()] {
        platform::AvoidCore(starter);
        for (size_t j = 0, run = 1; run < runs; ++j, run += 2) {
            Slot& slot = slots[j % 2];
            WaitWhile(slot.state, kMade);
            if (stop.load(std::memory_order_acquire))
                return;
            try {
                slot.run.Clear();
                make(run, slot.run);
            } catch (...) {
                failure = std::current_exception();
                slot.state.store(kFailed, std::memory_order_release);
                slot.state.notify_one();
                return;
            }
            slot.state.store(kMade, std::memory_order_release);
            slot.state.notify_one();
        }
    });
    // Whatever ends the loop, the helper is told to stop and waited for.
    struct Ending {
        Slot* slots;
        std::atomic<bool>& stop;
        std::thread& helper;
        ~Ending()
        {
            stop.store(true, std::memory_order_release);
            for (int i = 0; i < 2; ++i) {
                slots[i].state.store(kFree, std::memory_order_release);
                slots[i].state.notify_one();
            }
            helper.join();
        }
    };
    {
        Ending ending{slots, stop, helper};
        for (size_t run = 0; run < runs; ++run) {
            if (run % 2 == 0) {
                own.Clear();
                make(run, own);
                if (!write(own.Text()))
                    break;
                continue;
            }
            Slot& slot = slots[(run / 2) % 2];
            if (WaitWhile(slot.state, kFree) == kFailed)
                break;
            const bool written = write(slot.run.Text());
            slot.state.store(kFree, std::memory_order_release);
            slot.state.notify_one();
            if (!written)
                break;
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace oriel
