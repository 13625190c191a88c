// A GoogleTest fixture for the profile loaders: an examined Windows tree
// under a temporary folder, messages captured, and the profile table the
// loaders fill.
#pragma once

#include "model/BrowserProfile.h"
#include "model/BrowserSettings.h"
#include "platform/RegistryReader.h"
#include "platform/WindowsSystem.h"
#include "support/MessageCapture.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"
#include "support/WindowsTreeWriter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace oriel::test {

class ProfileLoaderTest : public testing::Test {
protected:
    void TearDown() override
    {
        test::Context().SetSystem(nullptr);
        test::Context().SetRegistry(nullptr);
    }

    // Makes the tree at `treeRoot` the examined system.
    static void Examine(const std::string& treeRoot)
    {
        platform::SystemConfig config;
        config.root = treeRoot;
        test::InstallSystem(config);
    }
    // Writes the tree at the root and makes it the examined system.
    void Install(WindowsTreeWriter& tree)
    {
        tree.write(root);
        Examine(root);
    }

    // Runs `Loader` on the table with its first `start` slots taken; the
    // count of slots taken afterwards.
    template <typename Loader>
    int32_t Load(int32_t start = 0)
    {
        for (int32_t i = 0; i < start; ++i)
            table[size_t(i)] = std::make_unique<BrowserProfile>();
        int32_t count = start;
        Loader(test::Context()).Load(table, count);
        return count;
    }

    // The host path of a path relative to the tree's root ("Users/Jane/...").
    std::string Host(const std::string& relative) const { return root + "/" + relative; }

    // The display names of a collection's profiles, in its order.
    static std::vector<std::string> DisplayNames(const CBrowserSettings& settings)
    {
        std::vector<std::string> names;
        for (int32_t i = 0; i < settings.GetCount(); ++i)
            names.push_back(settings.GetProfile(i)->displayName);
        return names;
    }

    TempDir dir;
    std::string root = dir.file("system");
    MessageCapture sink;
    ProfileTable table;
};

} // namespace oriel::test
