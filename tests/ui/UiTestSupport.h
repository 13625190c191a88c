// Scaffolding of the window tests: profiles whose caches decode into items
// with real body files, a window over them, and a main that runs the tests
// offscreen with a private option store.
#pragma once

#include "model/TextForms.h"
#include "support/FakeCache.h"
#include "support/TestEnvironment.h"
#include "ui/CacheFrame.h"
#include "ui/Document.h"

#include <QApplication>
#include <QtTest>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oriel::test {

struct ItemSetup {
    std::string url{};
    std::string cacheName{};           // body file in the cache folder; empty for none
    std::optional<std::string> type{}; // content type
    std::string body{};                // written unless missing
    bool missing = false;             // the body file is not there
    int32_t size = -1;                // -1: the body's length
    int64_t modified = 0;
    std::string headers{};
};

// A profile whose cache decodes (on whatever thread) into `items`; bodies
// are written into `folder` now.
inline std::unique_ptr<BrowserProfile> MakeProfile(const std::string& name, const std::string& folder,
                                                    std::vector<ItemSetup> items)
{
    auto profile = std::make_unique<BrowserProfile>();
    profile->profileName = name;
    profile->displayName = name;
    profile->cacheFolder = folder;
    for (const ItemSetup& setup : items) {
        if (!setup.cacheName.empty() && !setup.missing)
            WriteFile(folder + "/" + setup.cacheName, setup.body);
    }
    auto cache = std::make_unique<FakeCache>(folder, profile.get());
    cache->decode = [items](FakeCache& c) {
        int32_t key = 0;
        for (const ItemSetup& setup : items) {
            auto parts = SplitUrl(setup.url);
            std::string host = parts ? std::string(parts->host) : setup.url;
            std::string path = parts ? std::string(parts->path) : std::string();
            OptText type = setup.type ? OptText(*setup.type) : OptText();
            OptText cacheName = setup.cacheName.empty() ? OptText() : OptText(setup.cacheName);
            int32_t size = setup.size >= 0 ? setup.size : int32_t(setup.body.size());
            auto item = std::make_unique<CFileCacheItem>(&c, key++, setup.url, path, cacheName, type, size,
                                                         setup.modified, 0, 0);
            if (!setup.headers.empty())
                item->SetHeaders(setup.headers);
            c.AddItem(host, std::move(item));
        }
        return 0;
    };
    profile->cache = std::move(cache);
    return profile;
}

inline FakeCache& CacheOf(BrowserProfile& profile)
{
    return static_cast<FakeCache&>(*profile.cache);
}

// A document over the given profiles (the first is the default).
inline std::unique_ptr<CCacheDocument> MakeDocument(std::vector<std::unique_ptr<BrowserProfile>> profiles)
{
    auto list = std::make_unique<ProfileList>();
    for (auto& p : profiles)
        list->Add(std::move(p));
    return std::make_unique<CCacheDocument>(std::move(list));
}

} // namespace oriel::test

// Runs a QtTest class offscreen with a private option store (trace log off).
#define ORIEL_UI_TEST_MAIN(TestClass)                                 \
    int main(int argc, char** argv)                                   \
    {                                                                 \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))           \
            qputenv("QT_QPA_PLATFORM", "offscreen");                  \
        QApplication app(argc, argv);                                 \
        oriel::test::TestEnvironment environment;                     \
        TestClass tests;                                              \
        return QTest::qExec(&tests, argc, argv);                      \
    }
