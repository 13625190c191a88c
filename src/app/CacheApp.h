// The application's option values and their life: loaded once at start-up by
// GetAppGlobals, changed in memory by the options dialog, and partly saved
// again at exit; and the context (options, examined system, messages, trace
// log) that the core is given. Both faces (the window and oriel-cli) hold one
// CCacheApp and build their own document over its context.
#pragma once

#include "app/AppContext.h"
#include "app/AppOptions.h"
#include "app/TraceLog.h"
#include "platform/WindowsSystem.h"

#include <memory>
#include <optional>
#include <string>

namespace oriel {

class OptionStore;

class CCacheApp {
public:
    static constexpr const char* kVersionText = "2.8.03";

    explicit CCacheApp(OptionStore& store);
    ~CCacheApp(); // saves the exit options, then closes the trace log
    CCacheApp(const CCacheApp&) = delete;
    CCacheApp& operator=(const CCacheApp&) = delete;

    // Writes the first trace line (which creates the log), sets up the
    // examined Windows system and its registry (from the "System" options, or
    // the configuration given to SetSystemConfig) and loads the options; the
    // start-up steps that both faces share.
    void Start();
    // A command-line run: the trace log is written buffered and closed at
    // exit, and the option store is left as it is (no exit save). Before
    // Start.
    void SetCommandLineRun() { commandLineRun_ = true; }
    // Replaces the "System" options for this run (oriel-cli's flags).
    void SetSystemConfig(platform::SystemConfig config) { systemConfig_ = std::move(config); }

    // Start-up up to the window: Start, then false for an empty-only run
    // ("/EMPTY" on the command line): the caller empties the caches and ends
    // instead of opening the window over its document.
    bool InitInstance(const std::string& commandLine);

    // What the core is given: options, store, examined system, messages and
    // the trace log (open from Start on).
    AppContext& Context() { return context_; }
    const AppContext& Context() const { return context_; }

    void GetAppGlobals();
    void SaveAtExit();

    // Another system to examine, while the application runs: it is opened
    // as at start-up, and the options taken from its registry (the
    // Netscape version, the folder's fallback) are derived again. The
    // caller then rebuilds the profiles. The options otherwise keep their
    // values of this run.
    void ExamineSystem(platform::SystemConfig config);

    AppOptions& Options() { return options_; }
    const AppOptions& Options() const { return options_; }
    OptionStore& Store() { return store_; }

    // "/EMPTY" anywhere in the upper-cased command line.
    static bool HasEmptySwitch(const std::string& commandLine);
    // Ten times the first character's digit value plus the third's.
    static int NetscapeVersionNumber(const std::string& versionText);

private:
    OptionStore& store_;
    AppOptions options_;
    bool saveAtExit_ = false;
    bool commandLineRun_ = false;
    std::optional<platform::SystemConfig> systemConfig_;
    std::unique_ptr<CTraceLog> log_;
    AppContext context_;
};

} // namespace oriel
