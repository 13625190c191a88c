// The existence check the list takes before it shows a cache: one answer
// per item from whichever thread checked it, the progress moved on the
// calling thread only and ending at the item count.
#include "model/ItemExistence.h"

#include "model/CacheItem.h"
#include "support/FakeCache.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace oriel {
namespace {

struct RecordingProgress : Progress {
    std::vector<int> positions;
    bool otherThread = false;
    std::thread::id owner = std::this_thread::get_id();

    void SetRange(int, int) override {}
    void SetPos(int position) override
    {
        otherThread = otherThread || std::this_thread::get_id() != owner;
        positions.push_back(position);
    }
    void OffsetPos(int) override {}
    void StepIt() override {}
};

// `count` items whose bodies exist except for every third one; the item at
// `nullAt` is left out (a null entry, as a group may hold).
struct Items {
    test::TempDir dir;
    test::FakeCache cache{dir.path()};
    std::vector<std::unique_ptr<CFileCacheItem>> owned;
    std::vector<CCacheItem*> items;

    Items(int count, int nullAt)
    {
        for (int i = 0; i < count; ++i) {
            const std::string name = "f" + std::to_string(i);
            if (i % 3 != 0)
                test::WriteFile(dir.file(name), "x");
            owned.push_back(std::make_unique<CFileCacheItem>(&cache, i, "http://h/" + name, "/" + name,
                                                             OptText(name), OptText(), 1, 0, 0, 0));
            items.push_back(i == nullAt ? nullptr : owned.back().get());
        }
    }
};

TEST(ItemExistenceTest, EachItemGetsItsOwnAnswerOnOneOrSeveralThreads)
{
    // Below and above the size at which helper threads join in.
    for (int count : {10, 20000}) {
        Items setup(count, 7);
        RecordingProgress progress;
        const std::vector<char> present = CheckItemExistence(setup.items, progress);
        ASSERT_EQ(present.size(), size_t(count));
        int wrong = 0;
        for (int i = 0; i < count; ++i) {
            const bool expected = i != 7 && i % 3 != 0;
            wrong += bool(present[size_t(i)]) != expected;
        }
        EXPECT_EQ(wrong, 0) << count << " items";
        ASSERT_FALSE(progress.positions.empty());
        EXPECT_EQ(progress.positions.back(), count);
        EXPECT_FALSE(progress.otherThread);
        for (size_t i = 1; i < progress.positions.size(); ++i)
            EXPECT_LE(progress.positions[i - 1], progress.positions[i]);
        // The answer stays with the item: a later ask agrees without a stat.
        EXPECT_TRUE(setup.items[1]->Exists());
        EXPECT_FALSE(setup.items[3]->Exists());
    }
}

TEST(ItemExistenceTest, LargeListsAreCheckedOnUpToFourThreads)
{
    EXPECT_EQ(ExistenceCheckThreads(0), 1u);
    EXPECT_EQ(ExistenceCheckThreads(4095), 1u);
    EXPECT_GE(ExistenceCheckThreads(100000), 1u);
    EXPECT_LE(ExistenceCheckThreads(100000), 4u);
}

TEST(ItemExistenceTest, AnEmptyListGivesNoAnswersAndProgressAtZero)
{
    RecordingProgress progress;
    EXPECT_TRUE(CheckItemExistence({}, progress).empty());
    EXPECT_EQ(progress.positions, std::vector<int>{0});
}

} // namespace
} // namespace oriel
