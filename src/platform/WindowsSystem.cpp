#include "platform/WindowsSystem.h"

#include "platform/CaseFold.h"
#include "platform/ContainedPath.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace fs = std::filesystem;

namespace oriel::platform {

namespace {

constexpr const char* kShellFoldersKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kCurrentVersionKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

// "a/b/" -> "a/b"; "/" stays.
std::string WithoutTrailingSeparator(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string JoinHost(const std::string& base, std::string_view name)
{
    if (base.empty() || base.back() == '/')
        return base + std::string(name);
    return base + "/" + std::string(name);
}

// Inside the examined tree a link that leads out counts as nothing there.
bool IsDirectory(const std::string& path)
{
    auto attributes = path.empty() ? std::nullopt : GetFileAttributes(path);
    return attributes && attributes->isDirectory;
}

bool IsRegularFile(const std::string& path)
{
    auto attributes = path.empty() ? std::nullopt : GetFileAttributes(path);
    return attributes && attributes->isRegular;
}

// An existing host folder given by the user, case-resolved; empty when it
// does not exist.
std::string ExistingFolder(const std::string& path)
{
    if (path.empty())
        return {};
    std::string resolved = WithoutTrailingSeparator(ResolvePath(path));
    return IsDirectory(resolved) ? resolved : std::string();
}

bool IsTemplateProfile(const std::string& name)
{
    static const char* const kNames[] = {"default",      "default user",  "all users",     "public",
                                         "localservice", "networkservice", "local service", "network service"};
    std::string folded = FoldCase(name);
    return std::any_of(std::begin(kNames), std::end(kNames), [&](const char* n) { return folded == n; });
}

bool LessByName(const UserProfile& a, const UserProfile& b)
{
    std::string fa = FoldCase(a.name), fb = FoldCase(b.name);
    return fa != fb ? fa < fb : a.name < b.name;
}

} // namespace

bool IsWindowsAbsolutePath(std::string_view path)
{
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
           (path[2] == '\\' || path[2] == '/');
}

bool SystemConfig::ParseDrives(std::string_view text, std::map<char, std::string>& out, std::string* error)
{
    bool ok = true;
    for (const std::string& item : ParseFileList(text)) {
        std::string_view entry = item;
        size_t eq = entry.find('=');
        std::string_view letter = eq == std::string_view::npos ? entry : Trim(entry.substr(0, eq));
        if (letter.size() == 2 && letter[1] == ':')
            letter.remove_suffix(1);
        std::string_view folder = eq == std::string_view::npos ? std::string_view() : Trim(entry.substr(eq + 1));
        if (letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(letter[0])) || folder.empty()) {
            if (error && ok)
                *error = "bad drive mapping '" + std::string(entry) + "' (expected D=/host/folder)";
            ok = false;
            continue;
        }
        out[char(std::toupper(static_cast<unsigned char>(letter[0])))] = std::string(folder);
    }
    return ok;
}

std::vector<std::string> SystemConfig::ParseFileList(std::string_view text)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(';', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view entry = Trim(text.substr(pos, end - pos));
        if (!entry.empty())
            out.emplace_back(entry);
        pos = end + 1;
    }
    return out;
}

WindowsSystem::WindowsSystem() = default;

WindowsSystem::WindowsSystem(SystemConfig config)
    : config_(std::move(config))
{
    root_ = ExistingFolder(config_.root);
    // The system drive's folder and the other drives' are the containers of
    // every file read from the system.
    containers_.push_back(RegisterContainer(root_));
    for (const auto& [letter, folder] : config_.drives)
        containers_.push_back(RegisterContainer(ExistingFolder(folder)));
    FindUsers();
}

void WindowsSystem::FindUsers()
{
    users_.clear();
    user_.reset();
    userProblem_.clear();
    if (root_.empty())
        return;

    // Every profile folder, with or without a hive, so that a configured
    // user is found even when its NTUSER.DAT is missing.
    std::vector<UserProfile> all;
    std::vector<std::string> seenParents;
    for (const auto& [parentName, layout] :
         {std::pair{"Users", ProfileLayout::Vista}, std::pair{"Documents and Settings", ProfileLayout::Xp}}) {
        std::string parent = ResolvePath(JoinHost(root_, parentName));
        if (!IsDirectory(parent))
            continue;
        // On Vista and later "Documents and Settings" is a junction to "Users".
        std::error_code ec;
        bool same = std::any_of(seenParents.begin(), seenParents.end(),
                                [&](const std::string& seen) { return fs::equivalent(seen, parent, ec); });
        if (same)
            continue;
        seenParents.push_back(parent);
        for (const FolderEntry& entry : ListFolder(parent).value_or(std::vector<FolderEntry>{})) {
            if (!IsDirectory(JoinHost(parent, entry.name)))
                continue;
            UserProfile profile;
            profile.name = entry.name;
            profile.parent = FileNameOf(parent);
            profile.hostPath = JoinHost(parent, profile.name);
            profile.layout = layout;
            bool known = std::any_of(all.begin(), all.end(),
                                     [&](const UserProfile& p) { return FoldCase(p.name) == FoldCase(profile.name); });
            if (!known)
                all.push_back(std::move(profile));
        }
    }
    std::sort(all.begin(), all.end(), LessByName);

    for (const UserProfile& profile : all) {
        if (!IsTemplateProfile(profile.name) && IsRegularFile(ResolvePath(JoinHost(profile.hostPath, "NTUSER.DAT"))))
            users_.push_back(profile);
    }

    if (!config_.user.empty()) {
        std::string wanted = FoldCase(config_.user);
        for (const UserProfile& profile : all) {
            if (FoldCase(profile.name) == wanted) {
                user_ = profile;
                return;
            }
        }
        userProblem_ = "no user profile named '" + config_.user + "' under " + root_;
        return;
    }
    if (!users_.empty())
        user_ = users_.front();
    else
        userProblem_ = "no user profile with an NTUSER.DAT under " + root_;
}

RegistrySources WindowsSystem::GetRegistrySources() const
{
    RegistrySources sources;
    if (!root_.empty()) {
        for (const char* windows : {"Windows", "WINNT"}) {
            std::string hive = ResolvePath(JoinHost(root_, std::string(windows) + "/System32/config/SOFTWARE"));
            if (IsRegularFile(hive)) {
                sources.softwareHive = hive;
                break;
            }
        }
    }
    if (user_) {
        std::string hive = ResolvePath(JoinHost(user_->hostPath, "NTUSER.DAT"));
        if (IsRegularFile(hive))
            sources.userHive = hive;
    }
    for (const std::string& file : config_.registryFiles)
        sources.regFiles.push_back(ResolvePath(file));
    return sources;
}

void WindowsSystem::ReadSystemDrive(const RegistryReader& registry)
{
    std::string systemRoot;
    if (registry.QueryString(RootKey::LocalMachine, kCurrentVersionKey, "SystemRoot", systemRoot) >= 0 &&
        IsWindowsAbsolutePath(systemRoot)) {
        systemDrive_ = char(std::toupper(static_cast<unsigned char>(systemRoot[0])));
    }
}

std::optional<std::string> WindowsSystem::MapPath(std::string_view path) const
{
    if (path.find('\0') != std::string_view::npos)
        return std::nullopt;
    // "\\?\C:\..." is a plain path with the length limit lifted;
    // "\\?\UNC\server\share" is a network path.
    if (path.size() >= 4 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') &&
        path[2] == '?' && (path[3] == '\\' || path[3] == '/')) {
        path.remove_prefix(4);
    }
    if (!IsWindowsAbsolutePath(path))
        return std::nullopt;

    char letter = char(std::toupper(static_cast<unsigned char>(path[0])));
    std::string base;
    if (letter == systemDrive_ && !root_.empty()) {
        base = root_;
    } else {
        auto it = config_.drives.find(letter);
        if (it == config_.drives.end())
            return std::nullopt;
        base = ExistingFolder(it->second);
        if (base.empty())
            base = WithoutTrailingSeparator(it->second);
    }
    if (base.empty())
        return std::nullopt;

    std::vector<std::string_view> components;
    size_t pos = 3;
    while (pos <= path.size()) {
        size_t next = path.find_first_of("\\/", pos);
        if (next == std::string_view::npos)
            next = path.size();
        std::string_view component = path.substr(pos, next - pos);
        pos = next + 1;
        if (component.empty() || component == ".")
            continue;
        if (component == "..") {
            if (!components.empty())
                components.pop_back();
            continue;
        }
        components.push_back(component);
    }
    std::string host = base;
    for (std::string_view component : components)
        host = JoinHost(host, component);
    return ResolvePath(host);
}

std::optional<std::string> WindowsSystem::StandardWindowsPath(KnownFolder folder) const
{
    std::string drive = std::string(1, systemDrive_) + ":\\";
    if (folder == KnownFolder::Windows) {
        // Windows 2000 and NT keep the system in "WINNT".
        bool winnt = !IsDirectory(ResolvePath(JoinHost(root_, "Windows"))) &&
                     IsDirectory(ResolvePath(JoinHost(root_, "WINNT")));
        return drive + (winnt ? "WINNT" : "Windows");
    }
    if (!user_)
        return std::nullopt;
    std::string profile = drive + user_->parent + "\\" + user_->name;
    bool xp = user_->layout == ProfileLayout::Xp;
    switch (folder) {
    case KnownFolder::Profile:
        return profile;
    case KnownFolder::AppData:
        return profile + (xp ? "\\Application Data" : "\\AppData\\Roaming");
    case KnownFolder::LocalAppData:
        return profile + (xp ? "\\Local Settings\\Application Data" : "\\AppData\\Local");
    case KnownFolder::InternetCache:
        return profile + (xp ? "\\Local Settings\\Temporary Internet Files"
                             : "\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files");
    case KnownFolder::Temp:
        return profile + (xp ? "\\Local Settings\\Temp" : "\\AppData\\Local\\Temp");
    case KnownFolder::Windows:
        break;
    }
    return std::nullopt;
}

std::optional<std::string> WindowsSystem::KnownFolderWindowsPath(KnownFolder folder,
                                                                 const RegistryReader& registry) const
{
    if (root_.empty())
        return std::nullopt;
    if (folder != KnownFolder::Windows && !user_)
        return std::nullopt;

    // Where the registry names the folder and that folder exists, it wins:
    // users move their folders, and localised systems name them otherwise.
    const char* value = nullptr;
    RootKey root = RootKey::CurrentUser;
    const char* key = kShellFoldersKey;
    switch (folder) {
    case KnownFolder::AppData:
        value = "AppData";
        break;
    case KnownFolder::LocalAppData:
        value = "Local AppData";
        break;
    case KnownFolder::InternetCache:
        value = "Cache";
        break;
    case KnownFolder::Windows:
        value = "SystemRoot";
        root = RootKey::LocalMachine;
        key = kCurrentVersionKey;
        break;
    case KnownFolder::Profile:
    case KnownFolder::Temp:
        break;
    }
    if (value) {
        std::string text;
        if (registry.QueryString(root, key, value, text) >= 0 && IsWindowsAbsolutePath(text)) {
            auto host = MapPath(text);
            if (host && IsDirectory(*host)) {
                while (text.size() > 3 && (text.back() == '\\' || text.back() == '/'))
                    text.pop_back();
                return text;
            }
        }
    }
    return StandardWindowsPath(folder);
}

std::optional<std::string> WindowsSystem::KnownFolderPath(KnownFolder folder, const RegistryReader& registry) const
{
    auto windowsPath = KnownFolderWindowsPath(folder, registry);
    if (!windowsPath)
        return std::nullopt;
    return MapPath(*windowsPath);
}

ExaminedSystem OpenExaminedSystem(const SystemConfig& config, std::vector<std::string>* warnings)
{
    auto system = std::make_shared<WindowsSystem>(config);
    ExaminedSystem examined;
    RegistrySources sources = system->GetRegistrySources();
    if (!sources.softwareHive.empty() || !sources.userHive.empty() || !sources.regFiles.empty())
        examined.registry = OpenSystemRegistry(sources, warnings);
    system->ReadSystemDrive(*examined.registry);
    examined.system = std::move(system);
    return examined;
}

} // namespace oriel::platform
