// oriel-cli: the command-line face of the core, for scripts and batch work.
// Each command lives in its own file and is listed in the command table of
// main.cpp.
#pragma once

#include "model/BrowserProfile.h"
#include "model/BrowserSettings.h"

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oriel {
class AppContext;
class Progress;
class CCacheApp;
} // namespace oriel

namespace oriel::cli {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1; // no recognised cache, invalid index, missing item
constexpr int kExitUsage = 2;

// The command line after the command word: flags and positional arguments.
class Args {
public:
    // `valueFlags` take a value ("--output FILE" or "--output=FILE"); every
    // other "--name" is a switch. Repeated value flags keep every value.
    Args(int argc, char** argv, int first, const std::vector<std::string>& valueFlags);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::vector<std::string>& positional() const { return positional_; }
    bool has(const std::string& flag) const { return flags_.count(flag) != 0; }
    std::optional<std::string> value(const std::string& flag) const;
    std::vector<std::string> values(const std::string& flag) const;
    // Names of every flag given, for rejecting unknown ones.
    std::vector<std::string> flagNames() const;

private:
    std::vector<std::string> positional_;
    std::multimap<std::string, std::string> flags_;
    std::string error_;
};

struct Command {
    const char* name;
    const char* usage;    // "list [--json] FOLDER"
    const char* summary;  // one line
    std::vector<std::string> valueFlags;
    std::vector<std::string> switches;
    int (*run)(const Args& args, const AppContext& context);
};

// Prints "oriel-cli: TEXT" on stderr.
void PrintError(const std::string& text);
// Prints the usage of one command on stderr and returns kExitUsage.
int UsageError(const Command& command, const std::string& problem);

// A decoded cache of one folder, wrapped in a profile named after the folder.
struct OpenedCache {
    OpenedCache() = default;
    OpenedCache(OpenedCache&&) = default;
    OpenedCache& operator=(OpenedCache&&) = default;
    // The decoded cache is not taken apart item by item (for a large one a
    // tenth of the run): it is left to the end of the process, which
    // follows the command at once. Working copies go with the private
    // temporary folder then.
    ~OpenedCache();

    std::unique_ptr<CBrowserSettings> document; // the collection a --profile was chosen from
    std::shared_ptr<CBrowserSettings> sharedDocument; // the collection --all took every profile from
    std::unique_ptr<BrowserProfile> profile;
    std::string formatName;
};

// Recognises the folder's cache format and decodes it, with a progress line
// on stderr when stderr is a terminal. Prints the reason and returns empty
// when the folder holds no recognised cache or its index is invalid.
//
// A command that never shows the items' stored HTTP headers decodes with
// ItemHeaders::NotKept: they are read for the fields they give and then
// let go, which saves the memory (and the copy) of them.
enum class ItemHeaders { Kept, NotKept };
std::optional<OpenedCache> OpenAndDecode(const std::string& folder, const AppContext& context,
                                         ItemHeaders headers = ItemHeaders::Kept);

// A "LABEL n/m" line redrawn on stderr when stderr is a terminal; null
// otherwise.
std::unique_ptr<Progress> MakeTerminalProgress(const std::string& label);

// Decodes an existing profile's cache (for commands that pick a profile).
bool DecodeProfile(BrowserProfile& profile, ItemHeaders headers = ItemHeaders::Kept);

// Calls `visit` for every item of the cache, group by group, in order.
template <typename Visit>
void ForEachItem(CCache& cache, Visit visit)
{
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
        CNamedCacheItemArray* group = cache.GetGroup(g);
        for (int32_t i = 0; i < group->GetCount(); ++i) {
            if (CCacheItem* item = group->ItemAt(i))
                visit(*group, *item);
        }
    }
}

int RunList(const Args& args, const AppContext& context);
int RunExport(const Args& args, const AppContext& context);
// One item's prepared body to stdout (CatCommand.cpp).
int RunCat(const Args& args, const AppContext& context);
// The bodies written out under their destination names (CopyCommand.cpp).
int RunCopy(const Args& args, const AppContext& context);
// One event per time an item carries, sorted by time (TimelineCommand.cpp).
int RunTimeline(const Args& args, const AppContext& context);
// A self-contained HTML report into a folder (ReportCommand.cpp).
int RunReport(const Args& args, const AppContext& context);

// The examined system (SystemCommands.cpp). Value flags every command takes:
// --root, --user, --reg, --drive, --mode.
const std::vector<std::string>& SystemFlags();
// Before the start-up: the system flags over the "System" options.
int PrepareSystem(const Command& command, const Args& args, CCacheApp& app);
// After the start-up: the display mode, and a failure for a missing user.
int FinishSystem(const Args& args, CCacheApp& app);
// The cache of FOLDER, or of the profile that --profile N|NAME picks, decoded.
std::optional<OpenedCache> OpenFromArgs(const Args& args, const AppContext& context,
                                        ItemHeaders headers = ItemHeaders::Kept);
// The caches of FOLDER, of --profile N|NAME, or with --all of every profile
// of the examined system that has a cache (each cache folder once),
// decoded. A cache that cannot be opened or decoded is told on stderr and
// counted in `failures`; the others are still returned.
std::vector<OpenedCache> OpenSelectionFromArgs(const Args& args, const AppContext& context, int& failures);
// The browser family of an opened cache's format ("Internet Explorer").
std::string BrowserName(const OpenedCache& opened);
// The index file of an opened cache's format in its folder; empty for the
// formats that keep each record in a file of its own.
std::string IndexFilePath(const OpenedCache& opened);
int RunProfiles(const Args& args, const AppContext& context);
int RunUsers(const Args& args, const AppContext& context);

} // namespace oriel::cli
