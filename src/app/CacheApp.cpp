#include "app/CacheApp.h"

#include "app/OptionStore.h"
#include "app/SystemSetup.h"
#include "app/TraceLog.h"
#include "platform/ContainedPath.h"
#include "platform/FileSystem.h"
#include "platform/RegistryReader.h"

#include <algorithm>
#include <cctype>

namespace oriel {

CCacheApp::CCacheApp(OptionStore& store)
    : store_(store)
    , context_(options_, store)
{
}

CCacheApp::~CCacheApp()
{
    if (saveAtExit_)
        SaveAtExit();
    platform::SetContainmentTrace(nullptr);
    context_.SetLog(nullptr);
}

void CCacheApp::Start()
{
    // The first line creates the log.
    if (!log_) {
        log_ = std::make_unique<CTraceLog>(store_, commandLineRun_ ? CTraceLog::Writing::Buffered
                                                                   : CTraceLog::Writing::LinePerOpen);
        context_.SetLog(log_.get());
    }
    context_.Trace(std::string("Oriel Log File - executable version ") + kVersionText);
    if (const std::string& refusal = store_.RefusalReason(); !refusal.empty()) {
        context_.Trace(refusal);
        context_.Messages().ShowMessage(refusal, MessageIcon::Exclamation);
    }
    // Every link refused inside the examined tree is traced.
    platform::SetContainmentTrace([this](std::string_view text) { context_.Trace(text); });
    // The working copies of runs that were killed.
    if (int stale = platform::RemoveStalePrivateFolders(); stale > 0)
        context_.Trace("Removed the private folders of " + std::to_string(stale) + " ended run(s)");
    // Before the options: their fallbacks come from the examined registry.
    SetUpExaminedSystem(systemConfig_ ? *systemConfig_ : ReadSystemOptions(store_, context_.Messages()), context_);
    GetAppGlobals();
    saveAtExit_ = !commandLineRun_;
}

bool CCacheApp::InitInstance(const std::string& commandLine)
{
    Start();
    // The empty-cache run builds its own document; no window opens.
    return !HasEmptySwitch(commandLine);
}

void CCacheApp::GetAppGlobals()
{
    using platform::RootKey;
    auto registry = context_.Registry();

    options_.cacheFolder = store_.ReadString("Netscape", "Cache", "");
    if (options_.cacheFolder.empty()) {
        registry->QueryString(RootKey::CurrentUser, "Software\\Netscape\\Netscape Navigator\\Cache", "Cache Dir",
                              options_.cacheFolder);
    }
    if (!options_.cacheFolder.empty() && options_.cacheFolder.back() == '\\')
        options_.cacheFolder.pop_back();

    options_.useProfiles = store_.ReadInt("Netscape", "UseProfiles", 0);
    options_.quickView = store_.ReadString("Options", "QuickView", "");
    options_.defaultFileName = store_.ReadString("Options", "DefaultFileName", "index");
    options_.usePathNames = store_.ReadInt("Options", "UsePathNames", 1);
    options_.extractNames = store_.ReadInt("Options", "ExtractNames", 1);
    options_.useServerInPath = store_.ReadInt("Options", "UseServerInPath", 1);
    options_.checkVersionOnStartup = store_.ReadInt("Options", "CheckVersionOnStartup", 1);
    options_.fastDelete = store_.ReadInt("Options", "FastDelete", 0);
    options_.removeDB = store_.ReadInt("Options", "RemoveDB", 0);
    options_.deleteOnlyDefault = store_.ReadInt("Options", "DeleteOnlyDefault", 0);
    options_.ignoreUnsupported = 0;
    options_.forceNetscapeVersion = store_.ReadString("Options", "ForceNetscapeVersion", "");

    std::string version = options_.forceNetscapeVersion;
    if (version.empty()) {
        for (const char* key : {"Software\\Mozilla\\Mozilla", "Software\\Netscape\\Netscape 6",
                                "Software\\Netscape\\Netscape Navigator\\"}) {
            registry->QueryString(RootKey::LocalMachine, key, "CurrentVersion", version);
            if (!version.empty())
                break;
        }
    }
    context_.Trace("       Netscape Version : " + version);
    if (version.empty())
        version = "999";
    options_.netscapeVersion = NetscapeVersionNumber(version);
    context_.Trace("Exit - CCacheApp::GetAppGlobals");
}

void CCacheApp::ExamineSystem(platform::SystemConfig config)
{
    context_.Trace("       Examined system: " + (config.root.empty() ? std::string("none") : config.root));
    SetUpExaminedSystem(config, context_);
    systemConfig_ = std::move(config);
    // What the registry gave at start-up comes from the new system; the
    // values of this run (a folder shown alone, the ignore choice) stay.
    const AppOptions kept = options_;
    GetAppGlobals();
    const int netscapeVersion = options_.netscapeVersion;
    const std::string registryFolder = options_.cacheFolder;
    options_ = kept;
    options_.netscapeVersion = netscapeVersion;
    // A folder that no option names came from the old system's registry.
    if (store_.ReadString("Netscape", "Cache", "").empty() && options_.useProfiles != 2)
        options_.cacheFolder = registryFolder;
}

void CCacheApp::SaveAtExit()
{
    store_.WriteString("Netscape", "Cache", options_.cacheFolder);
    store_.WriteString("Options", "DefaultFileName", options_.defaultFileName);
    store_.WriteInt("Options", "UsePathNames", options_.usePathNames);
    store_.WriteInt("Options", "ExtractNames", options_.extractNames);
    store_.WriteInt("Options", "UseServerInPath", options_.useServerInPath);
}

bool CCacheApp::HasEmptySwitch(const std::string& commandLine)
{
    std::string upper = commandLine;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return upper.find("/EMPTY") != std::string::npos;
}

int CCacheApp::NetscapeVersionNumber(const std::string& versionText)
{
    // Version texts shorter than three characters take 0 for what is missing.
    auto digit = [&](size_t i) { return i < versionText.size() ? int(versionText[i]) - int('0') : 0; };
    return 10 * digit(0) + digit(2);
}

} // namespace oriel
