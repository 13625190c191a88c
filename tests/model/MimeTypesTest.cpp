// The extension registered for a MIME type: the examined system's registry
// first, the host's MIME database when that gives nothing.
#include "model/MimeTypes.h"
#include "support/TestContext.h"
#include "platform/MemoryRegistry.h"

#include <gtest/gtest.h>

namespace oriel {
namespace {

using platform::RootKey;

class MimeTypesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry = std::make_shared<platform::MemoryRegistry>();
        test::Context().SetRegistry(registry);
    }
    void TearDown() override { test::Context().SetRegistry(nullptr); }
    void Register(const std::string& type, const std::string& extension)
    {
        registry->SetString(RootKey::ClassesRoot, "MIME\\Database\\Content Type\\" + type, "Extension", extension);
    }
    std::shared_ptr<platform::MemoryRegistry> registry;
};

TEST_F(MimeTypesTest, TheExaminedSystemsRegistrationComesFirst)
{
    Register("image/png", ".pic");
    Register("application/x-oriel-test", ".orl");
    std::string out;
    EXPECT_EQ(ExtensionForType(*test::Context().Registry(), "image/png", out), 5);
    EXPECT_EQ(out, ".pic");
    EXPECT_EQ(ExtensionForType(*test::Context().Registry(), "application/x-oriel-test", out), 5);
    EXPECT_EQ(out, ".orl");
}

TEST_F(MimeTypesTest, TheHostsDatabaseFillsInWhatTheRegistryLacks)
{
    Register("image/gif", ""); // an empty value gives nothing either
    struct Case {
        const char* type;
        const char* extension;
    };
    const Case cases[] = {
        {"image/gif", ".gif"},
        {"image/png", ".png"},
        {"IMAGE/JPEG", ".jpg"},
        {" text/css ", ".css"},
        {"application/x-javascript", ".js"}, // an alias of the database's own name
    };
    for (const Case& k : cases) {
        std::string out;
        EXPECT_GT(ExtensionForType(*test::Context().Registry(), k.type, out), 0) << k.type;
        EXPECT_EQ(out, k.extension) << k.type;
    }
}

TEST_F(MimeTypesTest, AnUnknownTypeLeavesTheTextAsItWas)
{
    Register("application/x-oriel-unknown", "");
    for (const char* type : {"application/x-oriel-unknown", "", "not a type", "application/octet-stream"}) {
        std::string out = "kept";
        EXPECT_EQ(ExtensionForType(*test::Context().Registry(), type, out), -1) << type;
        EXPECT_EQ(out, "kept") << type;
    }
}

} // namespace
} // namespace oriel
