#include "model/RowsOnTwoThreads.h"

#include "model/Cache.h"
#include "platform/Cores.h"

#include <algorithm>

#include <atomic>
#include <exception>
#include <thread>

namespace oriel {

namespace {

constexpr size_t kFirstRoom = 32 * 1024;
// Runs made and not yet written, at most: the helper is never further
// ahead of the writing than this.
constexpr size_t kSlots = 4;
// In a slot's `made`: the run could not be made.
constexpr size_t kFailedRun = SIZE_MAX;

// Each on cache lines of its own: a run's stream pointers move with every
// row written, and two threads write two slots at once.
struct alignas(64) Slot {
    RowRun run;
    std::atomic<size_t> made{0}; // the run it holds, plus 1; 0: none yet
};

void Pause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Waits until `value` is no longer `from`, and returns it. It spins a
// little first: the other thread is making a run, and going to sleep and
// being woken costs more than that wait.
size_t WaitWhile(const std::atomic<size_t>& value, size_t from)
{
    for (int spin = 0; spin < 8192; ++spin) {
        const size_t now = value.load(std::memory_order_acquire);
        if (now != from)
            return now;
        Pause();
    }
    for (;;) {
        value.wait(from, std::memory_order_acquire);
        const size_t now = value.load(std::memory_order_acquire);
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
    if (runs < 2 || platform::UsableCores() < 2) {
        RowRun own;
        for (size_t run = 0; run < runs; ++run) {
            own.Clear();
            make(run, own);
            if (!write(own.Text()))
                return;
        }
        return;
    }

    // Runs are taken in order by whichever thread is free: the calling
    // thread also writes, so when writing is slow (a file on a busy disk)
    // the helper makes more of them. Run r goes into slot r % kSlots once
    // run r - kSlots has been written.
    Slot slots[kSlots];
    alignas(64) std::atomic<size_t> nextRun{0};
    alignas(64) std::atomic<size_t> written{0};
    std::atomic<bool> stop{false};
    std::exception_ptr failure;
    platform::SideThread helper([&] {
        for (;;) {
            const size_t run = nextRun.fetch_add(1);
            if (run >= runs)
                return;
            for (size_t now = written.load(std::memory_order_acquire); now + kSlots <= run;)
                now = WaitWhile(written, now);
            if (stop.load(std::memory_order_acquire))
                return;
            Slot& slot = slots[run % kSlots];
            try {
                slot.run.Clear();
                make(run, slot.run);
            } catch (...) {
                failure = std::current_exception();
                slot.made.store(kFailedRun, std::memory_order_release);
                slot.made.notify_one();
                return;
            }
            slot.made.store(run + 1, std::memory_order_release);
            slot.made.notify_one();
        }
    });
    // Whatever ends the loop, the helper is told to stop, woken if it
    // waits for room, and waited for.
    struct Ending {
        std::atomic<bool>& stop;
        std::atomic<size_t>& written;
        platform::SideThread& helper;
        ~Ending()
        {
            stop.store(true, std::memory_order_release);
            written.store(SIZE_MAX - kSlots, std::memory_order_release);
            written.notify_all();
            helper.join();
        }
    };
    {
        Ending ending{stop, written, helper};
        for (size_t done = 0; done < runs;) {
            Slot& slot = slots[done % kSlots];
            const size_t made = slot.made.load(std::memory_order_acquire);
            if (made == done + 1) {
                const bool ok = write(slot.run.Text());
                written.store(++done, std::memory_order_release);
                written.notify_one();
                if (!ok)
                    break;
                continue;
            }
            // The helper makes its runs in order: the runs before the one
            // it could not make are there to write, and then this one says so.
            if (made == kFailedRun)
                break;
            // The next run nobody has taken, made here if its slot is free.
            size_t next = nextRun.load(std::memory_order_acquire);
            if (next < runs && next < done + kSlots && nextRun.compare_exchange_strong(next, next + 1)) {
                Slot& free = slots[next % kSlots];
                free.run.Clear();
                make(next, free.run);
                free.made.store(next + 1, std::memory_order_release);
                continue;
            }
            WaitWhile(slot.made, made);
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

ItemRows::ItemRows(const CCache& cache)
    : cache_(cache)
    , groupStarts_(size_t(cache.GetGroupCount()) + 1, 0)
{
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g)
        groupStarts_[size_t(g) + 1] = groupStarts_[size_t(g)] + size_t(cache.GetGroup(g)->GetCount());
}

void ItemRows::ForRowsOf(
    size_t run, const std::function<void(const CNamedCacheItemArray& group, int32_t i, int32_t count)>& row) const
{
    const size_t first = run * kRowsPerRun, end = std::min(groupStarts_.back(), first + kRowsPerRun);
    // The last group that starts at or before the run's first row (a group
    // of no items starts where the next one does).
    auto g = size_t(std::upper_bound(groupStarts_.begin(), groupStarts_.end(), first) - groupStarts_.begin()) - 1;
    for (size_t at = first; at < end; ++g) {
        const CNamedCacheItemArray& group = *cache_.GetGroup(int32_t(g));
        const auto count = int32_t(groupStarts_[g + 1] - groupStarts_[g]);
        const auto last = int32_t(std::min(end - groupStarts_[g], size_t(count)));
        for (auto i = int32_t(at - groupStarts_[g]); i < last; ++i, ++at)
            row(group, i, count);
    }
}

} // namespace oriel
