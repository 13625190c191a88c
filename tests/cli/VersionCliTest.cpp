// oriel-cli --version: the program's version and those of the libraries it
// runs with.
#include "app/CacheApp.h"
#include "support/CliCommand.h"
#include "support/TestEnvironment.h"

#include <QtGlobal>

#include <gtest/gtest.h>

#include <cstdio>
#include <zlib.h>

namespace oriel {
namespace {

TEST(VersionCliTest, PrintsTheVersionsOfTheProgramQtZlibAndHivex)
{
    std::string out, err;
    ASSERT_EQ(test::RunCommand(test::Cli("--version"), &out, &err), 0) << err;
    EXPECT_EQ(out, std::string("oriel-cli 2.8.03\n") + "Qt " + qVersion() + " (built with " + QT_VERSION_STR + ")\n" +
                       "zlib " + zlibVersion() + "\n" + "libhivex " + ORIEL_HIVEX_VERSION + "\n");
    EXPECT_EQ(err, "");
}

TEST(VersionCliTest, UsageNamesTheVersionOption)
{
    std::string out;
    ASSERT_EQ(test::RunCommand(test::Cli("--help"), &out), 0);
    EXPECT_NE(out.find("--version"), std::string::npos) << out;
}

// The package is versioned by the build (2.8.3), the program by its text
// (2.8.03): the two name the same release.
TEST(VersionCliTest, PackageVersionIsTheProgramVersion)
{
    int major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(CCacheApp::kVersionText, "%d.%d.%d", &major, &minor, &patch), 3);
    EXPECT_EQ(std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch),
              ORIEL_PROJECT_VERSION);
}

} // namespace
} // namespace oriel
