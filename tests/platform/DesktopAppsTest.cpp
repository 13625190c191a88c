// The desktop's programs for a MIME type from synthesized XDG folders, and
// the command lines their Exec lines give for one file.
#include "platform/DesktopApps.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace oriel;
using namespace oriel::platform;
using oriel::test::TempDir;
using oriel::test::WriteFile;

namespace {

std::string Entry(const std::string& name, const std::string& exec, const std::string& types,
                  const std::string& extra = "")
{
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nName[de]=Nicht\nExec=" + exec +
           "\nMimeType=" + types + "\n" + extra;
}

std::vector<std::string> Names(const std::vector<DesktopApp>& apps)
{
    std::vector<std::string> names;
    for (const DesktopApp& app : apps)
        names.push_back(app.name);
    return names;
}

// A MIME database of the test's own, read through the data folders like
// the system's (one folder for the whole run: the database is read once).
const std::string& MimeDataDir()
{
    static TempDir dir;
    static const bool written = [] {
        WriteFile(dir.file("mime/packages/oriel-test.xml"),
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                  "  <mime-type type=\"text/plain\"><glob pattern=\"*.txt\"/></mime-type>\n"
                  "  <mime-type type=\"text/html\"><sub-class-of type=\"text/plain\"/>"
                  "<glob pattern=\"*.html\"/></mime-type>\n"
                  "  <mime-type type=\"image/gif\"><glob pattern=\"*.gif\"/></mime-type>\n"
                  "</mime-info>\n");
        return true;
    }();
    (void)written;
    return dir.path();
}

// A user folder and a system folder of applications, and the user's
// mimeapps.list, in place of the desktop's own for the test.
class DesktopAppsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        home = dir.file("home/share");
        system = dir.file("usr/share");
        config = dir.file("home/config");
        setenv("XDG_DATA_HOME", home.c_str(), 1);
        setenv("XDG_DATA_DIRS", (system + ":relative/ignored:" + MimeDataDir()).c_str(), 1);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setenv("XDG_CONFIG_DIRS", dir.file("etc/xdg").c_str(), 1);

        WriteFile(system + "/applications/gimp.desktop", Entry("GIMP", "gimp-2.10 %U", "image/gif;image/png;"));
        // An id from a sub-folder: "kde-gwenview.desktop".
        WriteFile(system + "/applications/kde/gwenview.desktop",
                  Entry("Gwenview", "gwenview %U", "image/gif;image/jpeg;", "Icon=gwenview\n"));
        WriteFile(system + "/applications/eog.desktop", Entry("Image Viewer", "eog %U", "image/gif;"));
        // The user's copy of an entry replaces the system's.
        WriteFile(home + "/applications/eog.desktop", Entry("My Eog", "eog --new %F", "image/gif;"));
        WriteFile(system + "/applications/hidden.desktop",
                  Entry("Hidden", "hidden %f", "image/gif;", "Hidden=true\n"));
        WriteFile(system + "/applications/link.desktop",
                  "[Desktop Entry]\nType=Link\nName=Link\nURL=http://x/\nMimeType=image/gif;\n");
        WriteFile(system + "/applications/removed.desktop", Entry("Removed", "removed %f", "image/gif;"));
        // Lists no type: reaches image/gif only as an added association.
        WriteFile(system + "/applications/added.desktop", Entry("Added", "added", ""));
        WriteFile(system + "/applications/editor.desktop", Entry("Text Editor", "gedit %U", "text/plain;"));
        WriteFile(system + "/applications/browser.desktop", Entry("Browser", "firefox %u", "text/html;"));
        WriteFile(config + "/mimeapps.list",
                  "[Default Applications]\nimage/gif=missing.desktop;kde-gwenview.desktop;\n"
                  "[Added Associations]\nimage/gif=added.desktop;\n"
                  "[Removed Associations]\nimage/gif=removed.desktop;\n");
    }

    TempDir dir;
    std::string home, system, config;
};

TEST_F(DesktopAppsTest, DefaultFirstThenAddedThenTheEntriesThatListTheType)
{
    const std::vector<DesktopApp> apps = AppsForMimeType("image/gif");
    EXPECT_EQ(Names(apps), (std::vector<std::string>{"Gwenview", "Added", "My Eog", "GIMP"}));
    ASSERT_FALSE(apps.empty());
    EXPECT_TRUE(apps[0].isDefault);
    EXPECT_EQ(apps[0].id, "kde-gwenview.desktop");
    EXPECT_EQ(apps[0].icon, "gwenview");
    EXPECT_EQ(apps[0].desktopFile, system + "/applications/kde/gwenview.desktop");
    EXPECT_FALSE(apps[1].isDefault);
    EXPECT_EQ(apps[2].exec, "eog --new %F");
}

TEST_F(DesktopAppsTest, ParametersAndCaseOfTheTypeDoNotMatterAndUnknownTypesHaveNone)
{
    EXPECT_EQ(Names(AppsForMimeType("Image/GIF; charset=binary")), Names(AppsForMimeType("image/gif")));
    EXPECT_TRUE(AppsForMimeType("application/x-nothing-here").empty());
    EXPECT_TRUE(AppsForMimeType("").empty());
}

TEST_F(DesktopAppsTest, ProgramsOfTheBroaderTypeFollowTheTypesOwn)
{
    // text/html is a kind of text/plain.
    EXPECT_EQ(Names(AppsForMimeType("text/html")), (std::vector<std::string>{"Browser", "Text Editor"}));
}

TEST_F(DesktopAppsTest, AnEntryHiddenByTheUserHidesTheSystemsEntry)
{
    WriteFile(home + "/applications/gimp.desktop", "[Desktop Entry]\nType=Application\nName=GIMP\nExec=gimp\nHidden=true\n");
    EXPECT_EQ(Names(AppsForMimeType("image/gif")), (std::vector<std::string>{"Gwenview", "Added", "My Eog"}));
}

struct ExecCase {
    const char* exec;
    std::vector<std::string> command;
};

TEST(DesktopAppsLaunch, ExecLinesGiveOneArgumentForTheFile)
{
    const std::string path = "/tmp/case 42/logo[1].gif";
    const ExecCase cases[] = {
        {"gimp-2.10 %U", {"gimp-2.10", path}},
        {"eog", {"eog", path}},
        {"viewer --new %f --quiet", {"viewer", "--new", path, "--quiet"}},
        {"\"/opt/My App/bin/app\" %F", {"/opt/My App/bin/app", path}},
        {"app --file=%f", {"app", "--file=" + path}},
        {"app %i %c %k %% %d %m", {"app", "--icon", "pic", "Pic App", "/apps/pic.desktop", "%", path}},
        {"sh -c \"echo \\\"quoted\\\" \\$HOME\"", {"sh", "-c", "echo \"quoted\" $HOME", path}},
        {"app \"unclosed %f", {}},
        {"", {}},
        {"   ", {}},
    };
    for (const ExecCase& c : cases) {
        DesktopApp app;
        app.name = "Pic App";
        app.icon = "pic";
        app.desktopFile = "/apps/pic.desktop";
        app.exec = c.exec;
        EXPECT_EQ(LaunchCommand(app, path), c.command) << c.exec;
    }
}

TEST(DesktopAppsLaunch, StringEscapesOfTheEntryAreReadBeforeTheExecQuoting)
{
    TempDir dir;
    WriteFile(dir.file("a.desktop"),
              "# comment\n[Other Group]\nExec=wrong\n[Desktop Entry]\nType=Application\nName=A\\sB\n"
              "Exec=\"/opt/x\\\\y/app\" %f\n");
    const DesktopApp app = ReadDesktopEntry(dir.file("a.desktop"), "a.desktop");
    EXPECT_EQ(app.name, "A B");
    EXPECT_EQ(LaunchCommand(app, "/f"), (std::vector<std::string>{"/opt/x\\y/app", "/f"}));
    WriteFile(dir.file("b.desktop"), "[Desktop Entry]\nType=Application\nName=B\n");
    EXPECT_TRUE(ReadDesktopEntry(dir.file("b.desktop"), "b.desktop").id.empty());
    EXPECT_TRUE(ReadDesktopEntry(dir.file("none.desktop"), "none.desktop").id.empty());
}

} // namespace
