// oriel-cli: list, export and extract what browser caches hold.
#include "cli/Cli.h"

#include "app/CacheApp.h"
#include "app/Messages.h"
#include "app/OptionStore.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstring>

namespace {

using namespace oriel::cli;

const Command kCommands[] = {
    {"list", "list [--json] FOLDER",
     "one line per cached item (tab-separated, or JSON Lines with --json)", {}, {"json"}, &RunList},
    {"export", "export [--output FILE] FOLDER", "the cache's index as CSV, to stdout or FILE", {"output"}, {},
     &RunExport},
};

// Messages go to stderr as "oriel-cli: TEXT"; questions are answered no, and
// printed, so that the tool never waits for input.
class CliMessageSink : public oriel::MessageSink {
public:
    void ShowMessage(const std::string& text, oriel::MessageIcon) override { PrintError(text); }
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
    return to == stdout ? kExitOk : kExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication qapp(argc, argv); // for the MIME database and the option store
    if (argc < 2)
        return PrintUsage(stderr);
    std::string word = argv[1];
    if (word == "--help" || word == "-h" || word == "help")
        return PrintUsage(stdout);
    const Command* command = nullptr;
    for (const Command& c : kCommands) {
        if (word == c.name)
            command = &c;
    }
    if (!command) {
        PrintError("unknown command '" + word + "'");
        return PrintUsage(stderr);
    }

    Args args(argc, argv, 2, command->valueFlags);
    if (!args.ok())
        return UsageError(*command, args.error());
    for (const std::string& flag : args.flagNames()) {
        bool known = std::find(command->valueFlags.begin(), command->valueFlags.end(), flag) !=
                         command->valueFlags.end() ||
                     std::find(command->switches.begin(), command->switches.end(), flag) != command->switches.end();
        if (flag == "help")
            return UsageError(*command, "");
        if (!known)
            return UsageError(*command, "unknown option --" + flag);
    }
    if (args.positional().size() != 1)
        return UsageError(*command, args.positional().empty() ? "missing FOLDER" : "too many arguments");

    oriel::SetMessageSink(std::make_shared<CliMessageSink>());
    oriel::CCacheApp app(oriel::OptionStore::Instance());
    app.Start();
    return command->run(args);
}
