// A GoogleTest fixture for one cache decoder: messages captured, an empty
// cache folder, and the cache of the last decode.
#pragma once

#include "model/Cache.h"
#include "support/CacheContents.h"
#include "support/TestContext.h"
#include "support/MessageCapture.h"
#include "support/SynthOptions.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace oriel::test {

template <typename Cache>
class CacheFolderTest : public testing::Test {
protected:
    explicit CacheFolderTest(const std::string& folderName = "cache")
        : folder_(dir_.file(folderName))
    {
        std::filesystem::create_directories(folder_);
    }

    // Decodes the folder with a new cache, messages on; Decode's result.
    int DecodeFolder(Progress* progress = nullptr)
    {
        cache_ = std::make_unique<Cache>(test::Context(), nullptr, folder_);
        return cache_->Decode(progress, true);
    }

    // The last decode's only item; the test fails when there is not exactly one.
    CCacheItem& OnlyItem()
    {
        auto items = Items(*cache_);
        EXPECT_EQ(items.size(), 1u);
        if (items.empty())
            throw std::runtime_error("no item");
        return *items[0];
    }

    // Writes a synthetic cache of `entries` entries into the folder with
    // `write` (a WriteSynthetic...Cache writer) and decodes it: every entry
    // is listed and finds its body.
    template <typename Write>
    void ExpectEverySyntheticEntryPresent(Write write, int entries)
    {
        SynthOptions options;
        options.entries = entries;
        write(folder_, options);
        ASSERT_EQ(DecodeFolder(), 0);
        EXPECT_EQ(cache_->GetItemCount(), entries);
        EXPECT_EQ(PresentCount(*cache_), entries);
    }

    TempDir dir_;
    std::string folder_;
    MessageCapture sink_;
    std::unique_ptr<Cache> cache_;
};

} // namespace oriel::test
