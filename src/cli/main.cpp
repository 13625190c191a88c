// oriel-cli: list, export and extract what browser caches hold.
#include "cli/Cli.h"

#include "app/CacheApp.h"
#include "app/Messages.h"
#include "app/OptionStore.h"
#include "platform/FileSystem.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <zlib.h>

#include <algorithm>
#include <csignal>
#include <cstring>

namespace {

using namespace oriel::cli;

const Command kCommands[] = {
    {"list", "list [--json] [--recovered] FOLDER | --profile N|NAME",
     "one line per cached item (tab-separated, or JSON Lines with --json); --recovered: only the entries recovered "
     "from outside the live index",
     {"profile"}, {"json", "recovered"}, &RunList},
    {"export", "export [--output FILE] FOLDER | --profile N|NAME", "the cache's index as CSV, to stdout or FILE",
     {"output", "profile"}, {}, &RunExport},
    {"profiles", "profiles", "the browser profiles found (slot, default, names, cache folder, format)", {}, {},
     &RunProfiles},
    {"users", "users", "the user profiles of the examined Windows system (* the examined one)", {}, {}, &RunUsers},
    {"cat", "cat FOLDER URL | cat --key N FOLDER", "one item's body (extracted and decoded) to stdout",
     {"key", "profile"}, {}, &RunCat},
    {"copy", "copy --to DIR [--move] [--server HOST] [--names url|cache] [--paths] [--server-dirs] FOLDER | --profile N|NAME",
     "the bodies (extracted, decoded) under names from their URLs, with DIR/manifest.csv",
     {"to", "server", "names", "profile"}, {"move", "paths", "server-dirs"}, &RunCopy},
    {"timeline", "timeline [--format csv|jsonl] [--recovered] FOLDER | --profile N|NAME | --all",
     "one event per time an item carries, sorted by time (Timesketch CSV or JSON Lines)", {"format", "profile"},
     {"recovered", "all"}, &RunTimeline},
    {"report", "report --to DIR [--recovered] FOLDER | --profile N|NAME | --all",
     "a self-contained HTML report (summary, items, body hashes, pictures) into DIR", {"to", "profile"},
     {"recovered", "all"}, &RunReport},
};

// Messages go to stderr as "oriel-cli: TEXT"; questions are answered no, and
// printed, so that the tool never waits for input.
class CliMessageSink : public oriel::MessageSink {
public:
    // The window's exclamation icon is the warning sign.
    void ShowMessage(const std::string& text, oriel::MessageIcon icon) override
    {
        PrintError(icon == oriel::MessageIcon::Exclamation ? "warning: " + text : text);
    }
    bool AskYesNo(const std::string& text, oriel::MessageIcon) override
    {
        PrintError("warning: " + text + " (answered no)");
        return false;
    }
};

int PrintUsage(FILE* to)
{
    std::fprintf(to, "usage: oriel-cli COMMAND [ARGS]\n\ncommands:\n");
    for (const Command& c : kCommands)
        std::fprintf(to, "  %-40s %s\n", c.usage, c.summary);
    std::fprintf(to, "\noptions of every command:\n  %-40s %s\n", "--ignore-unsupported",
                 "skip unsupported cache entry versions without asking");
    std::fprintf(to, "  %-40s %s\n", "--root DIR [--user NAME]", "the Windows system drive to examine, and its user");
    std::fprintf(to, "  %-40s %s\n", "--reg FILE, --drive D=DIR", ".reg exports to read; further drive letters");
    std::fprintf(to, "  %-40s %s\n", "--mode all|ie|folder", "which profiles to list");
    std::fprintf(to, "\n  %-40s %s\n", "--version", "the version of oriel-cli and of its libraries");
    return to == stdout ? kExitOk : kExitUsage;
}

// libhivex has no version call; its version is the one built against.
#ifndef ORIEL_HIVEX_VERSION
#error "ORIEL_HIVEX_VERSION is defined by the build from pkg-config"
#endif

int PrintVersion()
{
    std::printf("oriel-cli %s\n", oriel::CCacheApp::kVersionText);
    std::printf("Qt %s (built with %s)\n", qVersion(), QT_VERSION_STR);
    std::printf("zlib %s\n", zlibVersion());
    std::printf("libhivex %s\n", ORIEL_HIVEX_VERSION);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

// A run ended by a signal (a reader that stopped early, Ctrl-C, kill)
// takes its working copies with it, then ends as the signal would.
void RemoveWorkingCopiesAndDie(int signal)
{
    oriel::platform::RemovePrivateTempFolderNow();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void CleanUpOnSignals()
{
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, &RemoveWorkingCopiesAndDie);
}

} // namespace

int main(int argc, char** argv)
{
    CleanUpOnSignals();
    QCoreApplication qapp(argc, argv); // for the MIME database and the option store
    if (argc < 2)
        return PrintUsage(stderr);
    std::string word = argv[1];
    if (word == "--help" || word == "-h" || word == "help")
        return PrintUsage(stdout);
    if (word == "--version")
        return PrintVersion();
    const Command* command = nullptr;
    for (const Command& c : kCommands) {
        if (word == c.name)
            command = &c;
    }
    if (!command) {
        PrintError("unknown command '" + word + "'");
        return PrintUsage(stderr);
    }

    std::vector<std::string> valueFlags = command->valueFlags;
    valueFlags.insert(valueFlags.end(), SystemFlags().begin(), SystemFlags().end());
    Args args(argc, argv, 2, valueFlags);
    if (!args.ok())
        return UsageError(*command, args.error());
    for (const std::string& flag : args.flagNames()) {
        bool known = std::find(valueFlags.begin(), valueFlags.end(), flag) != valueFlags.end() ||
                     std::find(command->switches.begin(), command->switches.end(), flag) != command->switches.end() ||
                     flag == "ignore-unsupported";
        if (flag == "help")
            return UsageError(*command, "");
        if (!known)
            return UsageError(*command, "unknown option --" + flag);
    }
    // A folder, or a profile of the examined system, or all of them;
    // "profiles" and "users" take none.
    if (args.has("all") && args.has("profile"))
        return UsageError(*command, "--all and --profile exclude each other");
    size_t folders =
        command->run == &RunProfiles || command->run == &RunUsers || args.has("profile") || args.has("all") ? 0 : 1;
    if (command->run == &RunCat && !args.has("key"))
        ++folders; // and the URL
    if (args.positional().size() != folders)
        return UsageError(*command, args.positional().size() < folders ? "missing FOLDER" : "too many arguments");

    CliMessageSink messages;
    oriel::CCacheApp app(oriel::OptionStore::Instance());
    app.Context().SetMessages(&messages);
    // Every command only reads: the option store is never written back.
    app.SetCommandLineRun();
    if (int status = PrepareSystem(*command, args, app); status != kExitOk)
        return status;
    app.Start();
    if (int status = FinishSystem(args, app); status != kExitOk)
        return status;
    // Answers the unsupported-version question yes for the whole decode.
    if (args.has("ignore-unsupported"))
        app.Options().ignoreUnsupported = 1;
    return command->run(args, app.Context());
}
