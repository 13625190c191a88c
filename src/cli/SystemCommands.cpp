// The examined Windows system on oriel-cli's command line, and the commands
// over it:
//   --root DIR --user NAME --reg FILE (repeatable) --drive D=DIR (repeatable)
//   --mode all|ie|folder
//   oriel-cli profiles      the profile collection
//   oriel-cli users         the user profiles of the examined system
//   list/export --profile N|NAME, timeline/report --all
#include "cli/Cli.h"

#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "app/SystemSetup.h"
#include "model/BrowserSettings.h"
#include "catalog/FormatCatalog.h"
#include "platform/FileSystem.h"
#include "platform/WindowsSystem.h"

#include <QString>

#include <cstdlib>

namespace oriel::cli {

namespace {

constexpr const char* kSystemFlags[] = {"root", "user", "reg", "drive", "mode"};

bool SameText(const std::string& a, const std::string& b)
{
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

std::optional<int> ParseMode(const std::string& text)
{
    if (text == "all")
        return CBrowserSettings::kModeAllBrowsers;
    if (text == "ie")
        return CBrowserSettings::kModeIEOnly;
    if (text == "folder")
        return CBrowserSettings::kModeFolderOnly;
    return std::nullopt;
}

// Tabs and line breaks inside a field would split the line.
std::string Field(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
    return out;
}

// The short name of the format a profile's cache reads.
std::string FormatName(const BrowserProfile& profile)
{
    return profile.cache ? CacheFormatName(*profile.cache) : std::string("none");
}

std::unique_ptr<CBrowserSettings> MakeDocument(const AppContext& context)
{
    return std::make_unique<CBrowserSettings>(context, FormatCatalog());
}

} // namespace

const std::vector<std::string>& SystemFlags()
{
    static const std::vector<std::string> flags(std::begin(kSystemFlags), std::end(kSystemFlags));
    return flags;
}

int PrepareSystem(const Command& command, const Args& args, CCacheApp& app)
{
    bool given = false;
    for (const char* flag : kSystemFlags)
        given = given || args.has(flag);
    if (!given)
        return kExitOk;

    platform::SystemConfig config = ReadSystemOptions(app.Store(), app.Context().Messages());
    if (auto root = args.value("root")) {
        auto attributes = platform::GetFileAttributes(*root);
        if (!attributes || !attributes->isDirectory)
            return UsageError(command, "--root: no such folder: " + *root);
        config.root = *root;
    }
    if (auto user = args.value("user"))
        config.user = *user;
    if (args.has("reg"))
        config.registryFiles = args.values("reg");
    if (args.has("drive")) {
        config.drives.clear();
        for (const std::string& drive : args.values("drive")) {
            std::string error;
            if (!platform::SystemConfig::ParseDrives(drive, config.drives, &error))
                return UsageError(command, "--drive: " + error);
        }
    }
    if (auto mode = args.value("mode"); mode && !ParseMode(*mode))
        return UsageError(command, "--mode: expected all, ie or folder, not '" + *mode + "'");
    app.SetSystemConfig(std::move(config));
    return kExitOk;
}

int FinishSystem(const Args& args, CCacheApp& app)
{
    if (auto mode = args.value("mode"))
        app.Options().useProfiles = *ParseMode(*mode);
    // A user asked for by name that the system does not have: the start-up
    // has said so.
    auto system = app.Context().System();
    if (args.has("user") && system->HasSystem() && !system->User())
        return kExitFailure;
    return kExitOk;
}

namespace {

// The profile --profile N|NAME names: a slot number, else the display name
// as written, else a display or profile name without regard to case.
BrowserProfile* FindProfile(CBrowserSettings& document, const std::string& wanted)
{
    BrowserProfile* chosen = nullptr;
    char* end = nullptr;
    long number = std::strtol(wanted.c_str(), &end, 10);
    if (!wanted.empty() && *end == '\0') {
        chosen = document.GetProfile(int32_t(std::clamp<long>(number, -1, kMaxProfiles)));
    } else {
        for (int32_t i = 0; i < document.GetCount() && !chosen; ++i) {
            if (document.GetProfile(i)->displayName == wanted)
                chosen = document.GetProfile(i);
        }
        for (int32_t i = 0; i < document.GetCount() && !chosen; ++i) {
            if (SameText(document.GetProfile(i)->displayName, wanted) ||
                SameText(document.GetProfile(i)->profileName, wanted))
                chosen = document.GetProfile(i);
        }
    }
    return chosen;
}

// Decodes the chosen profile's cache and hands it over; empty, with the
// reason printed, when it has none or the decode fails.
std::optional<OpenedCache> TakeProfile(BrowserProfile& chosen, ItemHeaders headers)
{
    if (!chosen.cache) {
        PrintError(std::string(LoadString(IDS_DB_NOT_FOUND)) + chosen.cacheFolder);
        return std::nullopt;
    }
    if (!DecodeProfile(chosen, headers))
        return std::nullopt; // the decoder has said why

    OpenedCache opened;
    opened.formatName = FormatName(chosen);
    // The commands own their profile; the cache moves over to a copy, and
    // the document stays alive beside it for the profile the cache knows.
    opened.profile = std::make_unique<BrowserProfile>();
    opened.profile->profileName = chosen.profileName;
    opened.profile->displayName = chosen.displayName;
    opened.profile->cacheFolder = chosen.cacheFolder;
    opened.profile->cache = std::move(chosen.cache);
    return opened;
}

} // namespace

std::optional<OpenedCache> OpenFromArgs(const Args& args, const AppContext& context, ItemHeaders headers)
{
    auto wanted = args.value("profile");
    if (!wanted)
        return OpenAndDecode(args.positional().at(0), context, headers);

    auto document = MakeDocument(context);
    BrowserProfile* chosen = FindProfile(*document, *wanted);
    if (!chosen) {
        PrintError("no profile '" + *wanted + "' (oriel-cli profiles lists them)");
        return std::nullopt;
    }
    auto opened = TakeProfile(*chosen, headers);
    if (opened)
        opened->document = std::move(document);
    return opened;
}

std::vector<OpenedCache> OpenSelectionFromArgs(const Args& args, const AppContext& context, int& failures)
{
    std::vector<OpenedCache> out;
    failures = 0;
    if (!args.has("all")) {
        if (auto opened = OpenFromArgs(args, context))
            out.push_back(std::move(*opened));
        else
            ++failures;
        return out;
    }
    // Every profile with a cache, each cache folder once (two loaders may
    // find the same folder).
    std::shared_ptr<CBrowserSettings> document = MakeDocument(context);
    std::vector<std::string> seen;
    for (int32_t i = 0; i < document->GetCount(); ++i) {
        BrowserProfile& profile = *document->GetProfile(i);
        if (!profile.cache)
            continue;
        const std::string folder = profile.cache->GetFolder();
        if (std::find(seen.begin(), seen.end(), folder) != seen.end())
            continue;
        seen.push_back(folder);
        if (auto opened = TakeProfile(profile, ItemHeaders::Kept)) {
            opened->sharedDocument = document;
            out.push_back(std::move(*opened));
        } else {
            ++failures;
        }
    }
    if (seen.empty()) {
        PrintError("no profile with a cache (oriel-cli profiles lists them)");
        ++failures;
    }
    return out;
}

std::string BrowserName(const OpenedCache& opened)
{
    return FormatBrowserName(opened.formatName);
}

std::string IndexFilePath(const OpenedCache& opened)
{
    return FormatIndexFile(opened.formatName, opened.profile->cache->GetFolder());
}

int RunProfiles(const Args&, const AppContext& context)
{
    auto document = MakeDocument(context);
    std::string out;
    for (int32_t i = 0; i < document->GetCount(); ++i) {
        const BrowserProfile& p = *document->GetProfile(i);
        out += std::to_string(i) + '\t' + (&p == document->GetDefaultProfile() ? "*" : "") + '\t' +
               Field(p.displayName) + '\t' + Field(p.profileName) + '\t' + Field(p.cacheFolder) + '\t' +
               FormatName(p) + '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

int RunUsers(const Args&, const AppContext& context)
{
    auto system = context.System();
    if (!system->HasSystem()) {
        PrintError("no Windows system (give --root DIR, or set System/Root)");
        return kExitFailure;
    }
    const platform::UserProfile* examined = system->User();
    std::string out;
    for (const platform::UserProfile& user : system->Users()) {
        bool isExamined = examined && examined->hostPath == user.hostPath;
        out += std::string(isExamined ? "*" : "") + '\t' + Field(user.name) + '\t' + Field(user.hostPath) + '\n';
    }
    // A user given by name may have no hive of its own.
    if (examined && out.find(examined->hostPath) == std::string::npos)
        out += "*\t" + Field(examined->name) + '\t' + Field(examined->hostPath) + '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

} // namespace oriel::cli
