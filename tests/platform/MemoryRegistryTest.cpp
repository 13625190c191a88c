#include "platform/MemoryRegistry.h"

#include <gtest/gtest.h>

namespace oriel::platform {
namespace {

TEST(MemoryRegistry, KeysAndValuesIgnoreCaseAndKeepTheirFirstSpelling)
{
    MemoryRegistry reg;
    reg.SetString(RootKey::LocalMachine, "Software\\Mozilla\\Mozilla", "CurrentVersion", "1.7");
    reg.SetString(RootKey::LocalMachine, "SOFTWARE\\mozilla\\Firefox", "x", "y");
    std::string out;
    EXPECT_EQ(reg.QueryString(RootKey::LocalMachine, "software\\MOZILLA\\mozilla\\", "currentversion", out), 4);
    EXPECT_EQ(out, "1.7");
    std::vector<std::string> subkeys;
    EXPECT_TRUE(reg.EnumSubkeys(RootKey::LocalMachine, "Software\\Mozilla", subkeys));
    EXPECT_EQ(subkeys, (std::vector<std::string>{"Mozilla", "Firefox"}));
}

TEST(MemoryRegistry, AKeyTreeOfAnyDepthIsFreedWithoutRunningOutOfStack)
{
    std::string path;
    for (int i = 0; i < 200000; ++i)
        path += "k\\";
    {
        MemoryRegistry reg;
        reg.SetString(RootKey::LocalMachine, path, "v", "deep");
        std::string out;
        EXPECT_EQ(reg.QueryString(RootKey::LocalMachine, path, "v", out), 5);
        // Deleting the subtree frees it the same way.
        reg.DeleteKey(RootKey::LocalMachine, "k\\k");
        EXPECT_EQ(reg.FindKey(RootKey::LocalMachine, path), nullptr);
        reg.SetString(RootKey::CurrentUser, path, "v", "deep");
    }
}

TEST(MemoryRegistry, QueryStringFailsWithoutTouchingTheOutText)
{
    MemoryRegistry reg;
    reg.SetValue(RootKey::CurrentUser, "K", "expand", {MemoryRegistry::ValueType::ExpandString, "%x%"});
    std::string out = "before";
    EXPECT_EQ(reg.QueryString(RootKey::CurrentUser, "K", "expand", out), -1);
    EXPECT_EQ(reg.QueryString(RootKey::CurrentUser, "K", "missing", out), -1);
    EXPECT_EQ(reg.QueryString(RootKey::CurrentUser, "Missing", "x", out), -1);
    EXPECT_EQ(reg.QueryString(RootKey::LocalMachine, "K", "expand", out), -1); // other root
    EXPECT_EQ(out, "before");
    std::vector<std::string> subkeys{"kept"};
    EXPECT_FALSE(reg.EnumSubkeys(RootKey::CurrentUser, "Missing", subkeys));
    EXPECT_EQ(subkeys, std::vector<std::string>{"kept"});
}

TEST(MemoryRegistry, DeletedKeysAndValuesAreGone)
{
    MemoryRegistry reg;
    reg.SetString(RootKey::ClassesRoot, "A\\B", "v", "1");
    reg.SetString(RootKey::ClassesRoot, "A\\C", "v", "2");
    reg.DeleteKey(RootKey::ClassesRoot, "a\\b");
    reg.DeleteValue(RootKey::ClassesRoot, "A\\C", "V");
    std::string out;
    EXPECT_EQ(reg.QueryString(RootKey::ClassesRoot, "A\\B", "v", out), -1);
    EXPECT_EQ(reg.QueryString(RootKey::ClassesRoot, "A\\C", "v", out), -1);
    std::vector<std::string> subkeys;
    reg.EnumSubkeys(RootKey::ClassesRoot, "A", subkeys);
    EXPECT_EQ(subkeys, std::vector<std::string>{"C"});
}

} // namespace
} // namespace oriel::platform
