// Writer of synthetic Windows system trees: the top level of a system drive
// as a copied tree or a mounted image shows it, with the SOFTWARE hive,
// user profiles with their NTUSER.DAT, and Internet Explorer caches.
//
//   Windows XP:    WINDOWS\system32\config\software
//                  Documents and Settings\<user>\NTUSER.DAT
//                  ...\<user>\Local Settings\Temporary Internet Files\Content.IE5
//   Vista onward:  Windows\System32\config\SOFTWARE
//                  Users\<user>\NTUSER.DAT
//                  ...\<user>\AppData\Local\Microsoft\Windows\Temporary Internet Files\Content.IE5
//
// Beside the users it adds the template and service profiles every
// installation has ("Default User", "LocalService" or "Default", "Public"),
// so that user detection meets them.
//
//   WindowsTreeWriter t(WindowsTreeWriter::Layout::Xp);
//   t.addUser("Jane");
//   t.addIEEntry("Jane", {.url = "http://a/b.gif", .fileName = "b[1].gif", .headers = "HTTP/1.1 200 OK\r\n\r\n"});
//   t.write(root);
#pragma once

#include "support/HiveWriter.h"
#include "support/IndexDatWriter.h"
#include "support/SynthOptions.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oriel::test {

class WindowsTreeWriter {
public:
    enum class Layout { Xp, Vista };

    explicit WindowsTreeWriter(Layout layout);
    ~WindowsTreeWriter();

    Layout layout() const { return layout_; }

    // A user with a profile folder; without a hive the folder has no
    // NTUSER.DAT. The user's Internet Explorer cache has one sub-folder to
    // start with.
    WindowsTreeWriter& addUser(const std::string& name, bool withHive = true);

    // One entry of the user's Internet Explorer cache. `entryType` goes to
    // record offset 64 (WinINet's entry type bits) and `lastSync` (a Unix
    // time, 0 for none) to offset 80 as a FAT date and time. Returns the
    // record index in ieCache(user).
    size_t addIEEntry(const std::string& user, IndexDatUrl entry, uint32_t entryType = 1, int64_t lastSync = 0);
    // The user's index.dat writer, for records of other kinds.
    IndexDatWriter& ieCache(const std::string& user);
    // Fills the user's cache with the synthetic entries of oriel-synth's
    // index-dat format instead (every URL record stamped with a last-sync
    // time); entries added with addIEEntry are then not written.
    WindowsTreeWriter& synthesizeIECache(const std::string& user, const SynthOptions& options);

    // The hives, for values beyond those written by default.
    HiveWriter& software() { return *software_; }
    HiveWriter& userHive(const std::string& user);

    // Whether NTUSER.DAT names the user's folders in "Shell Folders"
    // (default: yes) and the SOFTWARE hive names the first user's cache
    // folder in ...\Internet Settings\Cache\Paths "Directory" (default: yes).
    WindowsTreeWriter& setShellFolders(bool on)
    {
        shellFolders_ = on;
        return *this;
    }
    WindowsTreeWriter& setCachePathsDirectory(bool on)
    {
        cachePathsDirectory_ = on;
        return *this;
    }
    // The system drive's letter in every Windows path the tree names (default 'C').
    WindowsTreeWriter& setSystemDrive(char letter)
    {
        drive_ = letter;
        return *this;
    }

    // A writer of further browser files (Firefox and Mozilla profiles), run
    // with the tree's root at the end of write.
    WindowsTreeWriter& addExtraWriter(std::function<void(const std::string& root)> writer)
    {
        extraWriters_.push_back(std::move(writer));
        return *this;
    }

    // Writes the tree under `root` (adding the default values to the hives).
    void write(const std::string& root);

    // Paths within the tree, relative to the root with '/' (host form) ...
    std::string profileFolder(const std::string& user) const;
    std::string contentFolder(const std::string& user) const; // the "Content.IE5" folder
    std::string softwareHivePath() const;
    // ... and as the examined system names them ("C:\Users\Jane\...").
    std::string windowsPath(const std::string& relative) const;
    // The host path under `root` of a Windows path on the tree's drive
    // ("C:\Users\Jane\" -> root + "/Users/Jane"); throws for another drive.
    std::string hostPath(const std::string& root, const std::string& windowsPath) const;

    static uint32_t FatDateTime(int64_t unixTime);

private:
    struct User {
        std::string name;
        bool withHive = true;
        std::unique_ptr<HiveWriter> hive;
        std::unique_ptr<IndexDatWriter> cache;
        std::map<size_t, std::pair<uint32_t, int64_t>> stamps; // record -> (entry type, last sync)
        std::optional<SynthOptions> synthetic;
    };
    User& user(const std::string& name);
    const User& user(const std::string& name) const;

    Layout layout_;
    char drive_ = 'C';
    bool shellFolders_ = true;
    bool cachePathsDirectory_ = true;
    std::unique_ptr<HiveWriter> software_;
    std::vector<std::unique_ptr<User>> users_;
    std::vector<std::function<void(const std::string&)>> extraWriters_;
};

// A plausible Windows tree for oriel-synth and the demo: users "Jane" and
// "Tom" (Tom without an Internet Explorer cache) in the given layout, Jane's
// cache with `options.entries` entries; Jane also has the Firefox and
// Mozilla profiles of AddSyntheticMozillaProfiles and the Netscape 4 and
// Opera profiles of AddSyntheticNetscapeOperaProfiles. Returns the path of
// Jane's index.dat.
std::string WriteSyntheticWindowsTree(const std::string& root, WindowsTreeWriter::Layout layout,
                                      const SynthOptions& options);
// The same in the layout that `options.layout` names ("xp", or "vista", the
// default), for oriel-synth.
std::string WriteSyntheticWindowsTree(const std::string& root, const SynthOptions& options);

} // namespace oriel::test
