// A cache whose decoder is a function given by the test.
#pragma once

#include "model/Cache.h"
#include "support/Gate.h"
#include "support/TestContext.h"

#include <atomic>

#include <functional>

namespace oriel::test {

class FakeCache : public CCache {
public:
    explicit FakeCache(std::string folder = {}, BrowserProfile* profile = nullptr)
        : CCache(::oriel::test::Context(), profile, std::move(folder))
    {
    }
    ~FakeCache() override { StopDecodeThread(); }

    std::function<int(FakeCache&)> decode = [](FakeCache&) { return 0; };
    std::function<int()> open = [] { return 0; };
    int decodeCalls = 0;
    // Runs at the start of every DoShutdown, for tests that hold a decode
    // at its first step.
    std::function<void(FakeCache&)> beforeShutdown;

    void DoShutdown() override
    {
        if (beforeShutdown)
            beforeShutdown(*this);
        CCache::DoShutdown();
    }

    int DoDecode() override
    {
        ++decodeCalls;
        return decode(*this);
    }
    // Runs in place of the empty when given (tests that hold an empty).
    std::function<int(FakeCache&)> empty;
    std::atomic<int> emptyCalls{0};
    int DoEmpty(OwnerWindow) override
    {
        ++emptyCalls;
        return empty ? empty(*this) : emptyResult;
    }
    // Deletes nothing unless the test gives a function.
    std::function<int(FakeCache&, std::span<CCacheItem* const>)> deleteItems;
    int DoDeleteItems(OwnerWindow, std::span<CCacheItem* const> items) override
    {
        return deleteItems ? deleteItems(*this, items) : 0;
    }
    int OpenDatabase() override { return open(); }

    // Adds a plain item with this URL (host as group) and cache name.
    void AddUrl(const std::string& url, const std::string& cacheName = {}, int32_t size = 0);
    using CCache::SetProgressTotal;

    int emptyResult = 0;
    int32_t nextKey = 0;
};

// A decode held at its first step (the list clearing) until the test opens
// `stopped`, having asked for a stop; the decoder then checks the stop flag
// once and adds an item only when it was not set.
struct HeldDecode {
    FakeCache cache;
    Gate stopped;
    std::atomic<int> sawStop{-1}; // -1: the decoder did not run
    bool held = false;

    HeldDecode()
    {
        cache.beforeShutdown = [this](FakeCache&) {
            if (!held) {
                held = true;
                stopped.WaitOpen();
            }
        };
        cache.decode = [this](FakeCache& c) {
            sawStop = c.StopRequested() ? 1 : 0;
            if (!c.StopRequested())
                c.AddUrl("http://a/1");
            return 0;
        };
    }
};

} // namespace oriel::test
