// The Windows system being examined: a mounted system drive, a mounted disk
// image or a copied tree, given as the host folder that holds the top level
// of the system drive ("Windows", "Users" or "Documents and Settings").
//
// Everything the browser loaders take from the registry, from the known
// folders (application data, the Windows folder, the temp folder) and from
// Windows paths written in registry values and profile files comes from
// that system. Without one the known folders do not exist, Windows paths do
// not map, and every loader that needs them finds nothing.
#pragma once

#include "platform/RegistryReader.h"
#include "platform/SystemRegistry.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oriel::platform {

class ContainerRegistration;

// What the "System" option section (or oriel-cli's flags) says.
struct SystemConfig {
    std::string root;                       // host folder of the system drive; empty: no system
    std::string user;                       // profile folder name; empty: detected
    std::vector<std::string> registryFiles; // .reg exports read over the hives
    std::map<char, std::string> drives;     // further drive letters ('D') to host folders

    // "D=/mnt/d;E=/media/e" ("D:=..." is accepted too). Empty entries are
    // skipped; a malformed one makes the result false, with `error` naming
    // it, and adds nothing for it.
    static bool ParseDrives(std::string_view text, std::map<char, std::string>& out, std::string* error = nullptr);
    // "a.reg;b.reg": the entries, trimmed, empty ones dropped (the drive
    // map is split into its entries the same way).
    static std::vector<std::string> ParseFileList(std::string_view text);
};

// Which standard folder layout a user profile follows.
enum class ProfileLayout {
    Xp,    // "Documents and Settings\<user>\Application Data", "...\Local Settings\..."
    Vista, // "Users\<user>\AppData\Roaming", "...\AppData\Local\..."
};

// The folders Windows programs ask the shell for (SHGetFolderPath's CSIDL
// values in brackets).
enum class KnownFolder {
    Profile,       // the user's profile folder (CSIDL_PROFILE)
    AppData,       // roaming application data (CSIDL_APPDATA)
    LocalAppData,  // local application data (CSIDL_LOCAL_APPDATA)
    InternetCache, // Temporary Internet Files (CSIDL_INTERNET_CACHE)
    Windows,       // GetWindowsDirectory
    Temp,          // GetTempPath for the user
};

struct UserProfile {
    std::string name;     // the folder's name as spelled on disk
    std::string parent;   // "Users" or "Documents and Settings", as spelled on disk
    std::string hostPath; // host path of the profile folder
    ProfileLayout layout = ProfileLayout::Vista;
};

class WindowsSystem {
public:
    // No Windows system.
    WindowsSystem();
    explicit WindowsSystem(SystemConfig config);

    const SystemConfig& Config() const { return config_; }
    // True when the root names an existing folder.
    bool HasSystem() const { return !root_.empty(); }
    // Host path of the system drive's top level (case-resolved, without a
    // trailing separator); empty without a system.
    const std::string& Root() const { return root_; }

    // Profile folders under "Users" and "Documents and Settings" that hold an
    // NTUSER.DAT, sorted by name without regard to case. The template and
    // service profiles that every installation has ("Default", "Default
    // User", "All Users", "Public", "LocalService", "NetworkService") are
    // left out: they are nobody's browser profile.
    const std::vector<UserProfile>& Users() const { return users_; }
    // The examined user: the configured one, else the only or the first of
    // Users(). Null when there is none.
    const UserProfile* User() const { return user_ ? &*user_ : nullptr; }
    // Why there is no user (empty when there is one, or no system at all).
    const std::string& UserProblem() const { return userProblem_; }

    // The hives under the root and the configured .reg files.
    RegistrySources GetRegistrySources() const;

    // The system drive's letter (upper case): from "SystemRoot" once
    // ReadSystemDrive has run, 'C' before.
    char SystemDrive() const { return systemDrive_; }
    void ReadSystemDrive(const RegistryReader& registry);

    // The host path of a Windows path ("C:\Documents and Settings\Jane\..."):
    // the system drive's letter maps to the root, other letters through the
    // drive map; each component is resolved without regard to case. "." and
    // ".." are taken as Windows takes them (".." at the top of a drive stays
    // there), so a mapped path never leaves its drive's folder. Relative,
    // drive-relative ("C:foo"), UNC and unmapped paths give nothing. Forward
    // slashes count as separators; trailing ones are dropped.
    std::optional<std::string> MapPath(std::string_view windowsPath) const;

    // A known folder of the examined user (or system) as the system names it
    // ("C:\Users\Jane\AppData\Roaming"), and as a host path. The registry's
    // "Shell Folders" values of the user and the system's "SystemRoot" are
    // used where they name a folder that exists; otherwise the standard
    // layout of the user's profile. Nothing without a system (and, for the
    // user's folders, without a user).
    std::optional<std::string> KnownFolderWindowsPath(KnownFolder folder, const RegistryReader& registry) const;
    std::optional<std::string> KnownFolderPath(KnownFolder folder, const RegistryReader& registry) const;

private:
    void FindUsers();
    std::optional<std::string> StandardWindowsPath(KnownFolder folder) const;

    SystemConfig config_;
    std::string root_;
    // The root and the drive folders, containers while the system lives.
    std::vector<std::shared_ptr<ContainerRegistration>> containers_;
    std::vector<UserProfile> users_;
    std::optional<UserProfile> user_;
    std::string userProblem_;
    char systemDrive_ = 'C';
};

// The examined system with its registry, as the faces open it and hand it
// to the core. Both are always set: a system-less WindowsSystem and a
// NullRegistryReader when nothing is examined.
struct ExaminedSystem {
    std::shared_ptr<const WindowsSystem> system = std::make_shared<const WindowsSystem>();
    std::shared_ptr<const RegistryReader> registry = std::make_shared<const NullRegistryReader>();
};

// Builds the system from `config` and opens its registry (hives and .reg
// files). Each registry source that cannot be used adds one text to
// `warnings` and is left out.
ExaminedSystem OpenExaminedSystem(const SystemConfig& config, std::vector<std::string>* warnings = nullptr);

// True for "X:\..." and "X:/..." (an absolute path with a drive letter).
bool IsWindowsAbsolutePath(std::string_view path);

} // namespace oriel::platform
