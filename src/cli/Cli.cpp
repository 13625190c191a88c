#include "cli/Cli.h"

#include "app/Messages.h"
#include "app/StringTable.h"
#include "catalog/FormatCatalog.h"
#include "model/DecodeJob.h"
#include "model/Progress.h"

#include <algorithm>
#include <chrono>
#include <unistd.h>

namespace oriel::cli {

Args::Args(int argc, char** argv, int first, const std::vector<std::string>& valueFlags)
{
    bool onlyPositional = false;
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        if (onlyPositional || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            if (arg == "--") {
                onlyPositional = true;
                continue;
            }
            positional_.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> inlineValue;
        if (size_t eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        bool takesValue = std::find(valueFlags.begin(), valueFlags.end(), name) != valueFlags.end();
        if (takesValue) {
            if (!inlineValue) {
                if (i + 1 >= argc) {
                    error_ = "--" + name + " needs a value";
                    return;
                }
                inlineValue = argv[++i];
            }
            flags_.emplace(name, *inlineValue);
        } else {
            if (inlineValue) {
                error_ = "--" + name + " takes no value";
                return;
            }
            flags_.emplace(name, "");
        }
    }
}

std::optional<std::string> Args::value(const std::string& flag) const
{
    auto range = flags_.equal_range(flag);
    if (range.first == range.second)
        return std::nullopt;
    return std::prev(range.second)->second; // the last one given wins
}

std::vector<std::string> Args::values(const std::string& flag) const
{
    std::vector<std::string> out;
    auto range = flags_.equal_range(flag);
    for (auto it = range.first; it != range.second; ++it)
        out.push_back(it->second);
    return out;
}

std::vector<std::string> Args::flagNames() const
{
    std::vector<std::string> out;
    for (const auto& [name, value] : flags_)
        out.push_back(name);
    return out;
}

void PrintError(const std::string& text)
{
    std::string line;
    for (char c : text)
        line += c == '\n' ? ' ' : c;
    std::fprintf(stderr, "oriel-cli: %s\n", line.c_str());
}

int UsageError(const Command& command, const std::string& problem)
{
    if (!problem.empty())
        PrintError(problem);
    std::fprintf(stderr, "usage: oriel-cli %s\n", command.usage);
    return kExitUsage;
}

namespace {

// "\rDecoding... 1234/40000" on a terminal, redrawn at most 10 times a second.
class TerminalProgress : public Progress {
public:
    explicit TerminalProgress(std::string label)
        : label_(std::move(label))
    {
    }
    ~TerminalProgress() override
    {
        if (drawn_)
            std::fprintf(stderr, "\r\033[K");
    }
    void SetRange(int lower, int upper) override
    {
        lower_ = lower;
        upper_ = upper;
        Draw(true);
    }
    void SetPos(int position) override
    {
        pos_ = position;
        Draw(false);
    }
    void OffsetPos(int delta) override { SetPos(pos_ + delta); }
    void StepIt() override { SetPos(pos_ + 1); }

private:
    void Draw(bool force)
    {
        auto now = std::chrono::steady_clock::now();
        if (!force && now - last_ < std::chrono::milliseconds(100))
            return;
        last_ = now;
        drawn_ = true;
        if (upper_ > lower_)
            std::fprintf(stderr, "\r%s %d/%d", label_.c_str(), pos_ - lower_, upper_ - lower_);
        else
            std::fprintf(stderr, "\r%s %d", label_.c_str(), pos_);
        std::fflush(stderr);
    }

    std::string label_;
    int lower_ = 0, upper_ = 0, pos_ = 0;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};

} // namespace

std::unique_ptr<Progress> MakeTerminalProgress(const std::string& label)
{
    if (!::isatty(STDERR_FILENO))
        return nullptr;
    return std::make_unique<TerminalProgress>(label);
}

OpenedCache::~OpenedCache()
{
    if (!document && !sharedDocument && !profile)
        return;
    // Never freed: reachable to the end, so not a leak to the sanitizers.
    static auto* left = new std::vector<OpenedCache>;
    OpenedCache kept;
    kept.document = std::move(document);
    kept.sharedDocument = std::move(sharedDocument);
    kept.profile = std::move(profile);
    left->push_back(std::move(kept));
}

bool DecodeProfile(BrowserProfile& profile, ItemHeaders headers)
{
    if (!profile.cache)
        return false;
    profile.cache->SetKeepsHeaders(headers == ItemHeaders::Kept);
    std::unique_ptr<TerminalProgress> progress;
    if (::isatty(STDERR_FILENO))
        progress = std::make_unique<TerminalProgress>(LoadString(IDS_DECODING));
    DecodeJob job(*profile.cache, progress.get(), true);
    return job.Run().Succeeded();
}

std::optional<OpenedCache> OpenAndDecode(const std::string& folder, const AppContext& context, ItemHeaders headers)
{
    OpenedCache opened;
    opened.profile = std::make_unique<BrowserProfile>();
    opened.profile->profileName = folder;
    opened.profile->displayName = folder;
    opened.profile->cacheFolder = folder;
    const CacheFormat* format = nullptr;
    opened.profile->cache = CreateCacheForFolder(context, opened.profile.get(), folder, &format);
    if (!opened.profile->cache) {
        PrintError(std::string(LoadString(IDS_DB_NOT_FOUND)) + folder);
        return std::nullopt;
    }
    opened.formatName = format->name;
    if (!DecodeProfile(*opened.profile, headers))
        return std::nullopt; // the decoder has said why
    return opened;
}

} // namespace oriel::cli
