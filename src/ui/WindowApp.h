// The window's side of start-up: the main frame over the document, shown
// as the stored window state says, the decode at start, and the run.
#pragma once

#include "ui/CacheFrame.h"

#include <memory>
#include <string>

namespace oriel {

class CCacheApp;

// Builds the main frame over the document and shows it with the stored
// "Window"/"State". `app`: the application whose options the window's
// dialogs edit (null for none).
std::unique_ptr<CCacheFrame> CreateCacheFrame(CCacheDocument& document, CCacheApp* app = nullptr);

// With "DecodeStartup" set, decodes the selected profile's cache as the
// Re-load Cache command does.
void DecodeAtStartup(CCacheFrame& frame);

// The window's command line: the folder to examine (an argument that names
// a folder, or a file in one, as a file manager or "oriel %f" passes it) and
// the rest, the switches such as "/EMPTY". The folder is kept out of the
// switches, so that a path like "/media/empty" is never taken for one.
//
// Beside them, as oriel-cli takes them: "--root DIR" (the examined Windows
// system's top folder, for this run), "--user NAME" (with --root), and
// "--help".
struct WindowArguments {
    std::string folder; // empty: none given
    std::string commandLine;
    std::string root;   // empty: the stored "System" options
    std::string user;
    bool help = false;
    std::string error;  // a bad argument: the run ends with it
};
WindowArguments ParseWindowArguments(int argc, char** argv);
// What "oriel --help" prints.
std::string WindowUsage();
// "--root DIR [--user NAME]": that system alone for this run, replacing the
// stored "System" options (they are not changed); a folder shown alone
// by the stored display choice gives way to every browser (RunOriel).
void ExamineGivenSystem(CCacheApp& app, const WindowArguments& arguments);

// Folder-only mode over one folder for this run. The stored "Netscape"/
// "Cache" and "UseProfiles" are put back when it goes (before the exit
// options are saved), unless the run itself chose other values.
class FolderOnlyRun {
public:
    FolderOnlyRun(CCacheApp& app, std::string folder);
    ~FolderOnlyRun();
    FolderOnlyRun(const FolderOnlyRun&) = delete;
    FolderOnlyRun& operator=(const FolderOnlyRun&) = delete;

private:
    CCacheApp& app_;
    std::string folder_;
    std::string storedFolder_;
    int storedMode_;
};

// After the QApplication exists: start-up, then either the "/EMPTY" run
// (the empty-cache dialog, no main window) or the main window's run.
// `folder`: examine that folder alone for the run (see FolderOnlyRun).
// `systemGiven`: the examined system came from the command line.
int RunOriel(CCacheApp& app, const std::string& commandLine, const std::string& folder = {},
             bool systemGiven = false);
// The same over the whole command line ("--root", "--user" too).
int RunOriel(CCacheApp& app, const WindowArguments& arguments);

// The whole application; returns the process's exit status.
int RunWindowApp(int argc, char** argv);

} // namespace oriel
