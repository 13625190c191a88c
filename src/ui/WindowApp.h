// The window's side of start-up: the main frame over the document, shown
// as the stored window state says, the decode at start, and the run.
#pragma once

#include "ui/CacheFrame.h"

#include <memory>
#include <string>

namespace oriel {

class CCacheApp;

// Builds the main frame over the document and shows it with the stored
// "Window"/"State".
std::unique_ptr<CCacheFrame> CreateCacheFrame(CCacheDocument& document);

// With "DecodeStartup" set, decodes the selected profile's cache as the
// Re-load Cache command does.
void DecodeAtStartup(CCacheFrame& frame);

// The window's command line: the folder to examine (an argument that names
// a folder, or a file in one, as a file manager or "oriel %f" passes it) and
// the rest, the switches such as "/EMPTY". The folder is kept out of the
// switches, so that a path like "/media/empty" is never taken for one.
struct WindowArguments {
    std::string folder; // empty: none given
    std::string commandLine;
};
WindowArguments ParseWindowArguments(int argc, char** argv);

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
int RunOriel(CCacheApp& app, const std::string& commandLine, const std::string& folder = {});

// The whole application; returns the process's exit status.
int RunWindowApp(int argc, char** argv);

} // namespace oriel
