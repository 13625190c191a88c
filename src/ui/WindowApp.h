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

// After the QApplication exists: start-up, then either the "/EMPTY" run
// (the empty-cache dialog, no main window) or the main window's run.
int RunOriel(CCacheApp& app, const std::string& commandLine);

// The whole application; returns the process's exit status.
int RunWindowApp(int argc, char** argv);

} // namespace oriel
