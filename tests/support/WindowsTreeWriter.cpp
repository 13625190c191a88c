#include "support/WindowsTreeWriter.h"

#include "formats/IndexDatFile.h"
#include "support/MozillaProfileWriter.h"
#include "support/Netscape4OperaProfileWriter.h"
#include "support/TestEnvironment.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace oriel::test {

namespace {

constexpr const char* kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kCachePaths = "Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths";
constexpr const char* kCurrentVersion = "Microsoft\\Windows NT\\CurrentVersion";
constexpr size_t kEntryTypeOffset = 64;
constexpr size_t kLastSyncOffset = 80;

// Stamps every allocated URL record of an index file with an entry type
// (normal) and a last-sync time (its last-access time).
void StampUrlRecords(const std::string& indexPath)
{
    std::string bytes = ReadWholeFile(indexPath);
    IndexDatFile file(bytes);
    if (!file.ParseHeader())
        throw std::runtime_error("cannot stamp " + indexPath);
    size_t cursor = file.FirstRecordOffset();
    while (auto record = file.NextRecord(cursor)) {
        if (record->signature != IndexDatFile::kSigUrl)
            continue;
        uint64_t access = record->bytes.u64le(16).value_or(0);
        int64_t unix = access ? int64_t(access / 10000000ULL) - 11644473600LL : 0;
        PutU32(bytes, record->offset + kEntryTypeOffset, 1);
        PutU32(bytes, record->offset + kLastSyncOffset, unix ? WindowsTreeWriter::FatDateTime(unix) : 0);
    }
    WriteFile(indexPath, bytes);
}

} // namespace

uint32_t WindowsTreeWriter::FatDateTime(int64_t unixTime)
{
    return uint32_t(FatDateFromUnix(unixTime)) | uint32_t(FatTimeFromUnix(unixTime)) << 16;
}

WindowsTreeWriter::WindowsTreeWriter(Layout layout)
    : layout_(layout)
    , software_(std::make_unique<HiveWriter>(layout == Layout::Xp ? 3 : 5))
{
}

WindowsTreeWriter::~WindowsTreeWriter() = default;

WindowsTreeWriter& WindowsTreeWriter::addUser(const std::string& name, bool withHive)
{
    auto u = std::make_unique<User>();
    u->name = name;
    u->withHive = withHive;
    u->hive = std::make_unique<HiveWriter>(layout_ == Layout::Xp ? 3 : 5);
    u->cache = std::make_unique<IndexDatWriter>();
    // A sub-folder name of eight characters, as Internet Explorer makes them.
    std::string dir = "Q" + std::to_string(10000000 + users_.size() * 7919).substr(1);
    u->cache->addDirectory(dir);
    users_.push_back(std::move(u));
    return *this;
}

WindowsTreeWriter::User& WindowsTreeWriter::user(const std::string& name)
{
    for (auto& u : users_) {
        if (u->name == name)
            return *u;
    }
    throw std::runtime_error("no user " + name + " in the tree");
}

const WindowsTreeWriter::User& WindowsTreeWriter::user(const std::string& name) const
{
    return const_cast<WindowsTreeWriter*>(this)->user(name);
}

size_t WindowsTreeWriter::addIEEntry(const std::string& name, IndexDatUrl entry, uint32_t entryType,
                                     int64_t lastSync)
{
    User& u = user(name);
    size_t index = u.cache->addUrl(std::move(entry));
    u.stamps[index] = {entryType, lastSync};
    return index;
}

IndexDatWriter& WindowsTreeWriter::ieCache(const std::string& name)
{
    return *user(name).cache;
}

WindowsTreeWriter& WindowsTreeWriter::synthesizeIECache(const std::string& name, const SynthOptions& options)
{
    user(name).synthetic = options;
    return *this;
}

HiveWriter& WindowsTreeWriter::userHive(const std::string& name)
{
    return *user(name).hive;
}

std::string WindowsTreeWriter::profileFolder(const std::string& name) const
{
    return (layout_ == Layout::Xp ? "Documents and Settings/" : "Users/") + name;
}

std::string WindowsTreeWriter::contentFolder(const std::string& name) const
{
    return profileFolder(name) + (layout_ == Layout::Xp
                                      ? "/Local Settings/Temporary Internet Files/Content.IE5"
                                      : "/AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5");
}

std::string WindowsTreeWriter::softwareHivePath() const
{
    // XP spells the folders in capitals and lower case; Vista as words.
    return layout_ == Layout::Xp ? "WINDOWS/system32/config/software" : "Windows/System32/config/SOFTWARE";
}

std::string WindowsTreeWriter::hostPath(const std::string& root, const std::string& windowsPath) const
{
    if (windowsPath.size() < 3 || std::toupper(static_cast<unsigned char>(windowsPath[0])) != drive_ ||
        windowsPath[1] != ':')
        throw std::invalid_argument("not a path on the tree's drive: " + windowsPath);
    std::string rest = windowsPath.substr(3);
    std::replace(rest.begin(), rest.end(), '\\', '/');
    while (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    return root + "/" + rest;
}

std::string WindowsTreeWriter::windowsPath(const std::string& relative) const
{
    std::string out = std::string(1, drive_) + ":\\" + relative;
    for (char& c : out) {
        if (c == '/')
            c = '\\';
    }
    return out;
}

void WindowsTreeWriter::write(const std::string& root)
{
    const bool xp = layout_ == Layout::Xp;
    const int minor = xp ? 3 : 5;
    fs::create_directories(root);

    // SOFTWARE, with the values every installation has.
    HiveWriter& sw = *software_;
    sw.setString(kCurrentVersion, "SystemRoot", windowsPath(xp ? "WINDOWS" : "Windows"));
    sw.setString(kCurrentVersion, "CurrentVersion", xp ? "5.1" : "6.1");
    sw.setString(kCurrentVersion, "ProductName", xp ? "Microsoft Windows XP" : "Windows 7 Professional");
    for (const auto& [type, ext] : {std::pair{"text/html", ".htm"}, std::pair{"image/gif", ".gif"},
                                    std::pair{"image/png", ".png"}, std::pair{"text/css", ".css"},
                                    std::pair{"application/x-javascript", ".js"}}) {
        sw.setString(std::string("Classes\\MIME\\Database\\Content Type\\") + type, "Extension", ext);
    }
    if (cachePathsDirectory_ && !users_.empty())
        sw.setString(kCachePaths, "Directory", windowsPath(contentFolder(users_.front()->name)));
    sw.writeTo(root + "/" + softwareHivePath());

    // The template and service profiles.
    std::string parent = root + "/" + (xp ? "Documents and Settings" : "Users");
    fs::create_directories(parent);
    for (const char* name : xp ? std::vector<const char*>{"Default User", "LocalService", "NetworkService"}
                               : std::vector<const char*>{"Default"}) {
        HiveWriter(minor).addKey("Software").writeTo(parent + "/" + name + "/NTUSER.DAT");
    }
    fs::create_directories(parent + "/" + (xp ? "All Users" : "Public"));
    if (!xp) {
        // Vista keeps "Documents and Settings" as a junction to "Users".
        std::error_code ec;
        fs::create_directory_symlink("Users", root + "/Documents and Settings", ec);
    }

    for (const auto& u : users_) {
        std::string profile = root + "/" + profileFolder(u->name);
        std::string appData = profileFolder(u->name) + (xp ? "/Application Data" : "/AppData/Roaming");
        std::string localAppData =
            profileFolder(u->name) + (xp ? "/Local Settings/Application Data" : "/AppData/Local");
        std::string content = contentFolder(u->name);
        std::string cache = content.substr(0, content.rfind('/'));
        for (const std::string& folder : {appData, localAppData, cache})
            fs::create_directories(root + "/" + folder);

        if (u->withHive) {
            HiveWriter& hive = *u->hive;
            hive.addKey("Software\\Microsoft\\Internet Explorer\\Main");
            if (shellFolders_) {
                hive.setString(kShellFolders, "AppData", windowsPath(appData));
                hive.setString(kShellFolders, "Local AppData", windowsPath(localAppData));
                hive.setString(kShellFolders, "Cache", windowsPath(cache));
            }
            hive.writeTo(profile + "/NTUSER.DAT");
        }

        if (u->synthetic) {
            std::string index = WriteSyntheticIndexDatCache(root + "/" + content, *u->synthetic);
            StampUrlRecords(index);
        } else if (u->cache->recordCount() > 0) {
            std::string index = u->cache->writeCache(root + "/" + content);
            std::string bytes = ReadWholeFile(index);
            for (const auto& [record, stamp] : u->stamps) {
                uint32_t at = u->cache->recordOffset(record);
                PutU32(bytes, at + kEntryTypeOffset, stamp.first);
                PutU32(bytes, at + kLastSyncOffset, stamp.second ? FatDateTime(stamp.second) : 0);
            }
            WriteFile(index, bytes);
        }
    }
    for (const auto& writer : extraWriters_)
        writer(root);
}

std::string WriteSyntheticWindowsTree(const std::string& root, const SynthOptions& options)
{
    if (!options.layout.empty() && options.layout != "xp" && options.layout != "vista")
        throw std::runtime_error("unknown layout '" + options.layout + "' (xp or vista)");
    return WriteSyntheticWindowsTree(
        root, options.layout == "xp" ? WindowsTreeWriter::Layout::Xp : WindowsTreeWriter::Layout::Vista, options);
}

std::string WriteSyntheticWindowsTree(const std::string& root, WindowsTreeWriter::Layout layout,
                                      const SynthOptions& options)
{
    WindowsTreeWriter tree(layout);
    tree.addUser("Jane");
    tree.addUser("Tom");
    tree.synthesizeIECache("Jane", options);
    // The layout named the tree's; the other browsers' files take their own default.
    SynthOptions others = options;
    others.layout.clear();
    AddSyntheticMozillaProfiles(tree, "Jane", others);
    AddSyntheticNetscapeOperaProfiles(tree, "Jane", others);
    tree.write(root);
    return root + "/" + tree.contentFolder("Jane") + "/index.dat";
}

} // namespace oriel::test
