#include "platform/FileSystem.h"

#include "platform/CaseFold.h"
#include "platform/ContainedPath.h"
#include "platform/CopyBytes.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <unordered_map>

namespace fs = std::filesystem;

namespace oriel::platform {

namespace {

FolderIndex& Folders()
{
    // Revalidated: the process-wide index outlives any one decode.
    static FolderIndex index(FolderIndex::Revalidate::OnEachLookup, 256);
    return index;
}

bool ExistsAsSpelled(const std::string& path)
{
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

// Asks for large pages under a big buffer that is about to be filled:
// an index of megabytes then costs a few page faults instead of thousands.
// Only advice; nothing changes where the kernel does not take it.
void AdviseLargePages(char* data, size_t size)
{
    constexpr uintptr_t kLargePage = 2 << 20;
    if (size < 2 * kLargePage)
        return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kLargePage - 1) & ~(kLargePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kLargePage - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

} // namespace

namespace {

// The entries of an open folder in the order it gives them; closes `dir`.
FolderEntries ReadEntries(DIR* dir)
{
    FolderEntries entries;
    while (struct dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0)
            continue;
        FolderEntry entry;
        entry.name = d->d_name;
        unsigned char type = d->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        entry.isLink = type == DT_LNK;
        entry.isDirectory = type == DT_DIR;
        entry.isRegular = type == DT_REG;
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return entries;
}

bool ByName(const FolderEntry& a, const FolderEntry& b)
{
    return a.name < b.name;
}

// Which folder a listing was made of, and when it last changed then: a
// contained open that finds the same folder, unchanged, may use the listing.
struct FolderIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    struct timespec modified {};

    static FolderIdentity Of(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_mtim}; }
    bool operator==(const FolderIdentity& other) const
    {
        return device == other.device && inode == other.inode && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

} // namespace

struct FolderIndex::State {
    struct Listing {
        fs::file_time_type mtime;
        // Empty when the folder could not be opened.
        std::optional<FolderIdentity> identity;
        std::shared_ptr<const FolderEntries> entries; // sorted by name
        // Folded name to its entry: the first spelling the folder gave.
        std::unordered_map<std::string, size_t> names;
    };
    std::mutex mutex;
    std::unordered_map<std::string, Listing> folders;

    // Lists `dir` as the host resolves it (the index serves lookups of
    // names; what is read is opened inside its container apart).
    static Listing List(const std::string& dir, fs::file_time_type mtime)
    {
        Listing listing;
        listing.mtime = mtime;
        FolderEntries listed;
        if (DIR* d = ::opendir(dir.c_str())) {
            struct stat st {};
            if (::fstat(::dirfd(d), &st) == 0)
                listing.identity = FolderIdentity::Of(st);
            listed = ReadEntries(d);
        }
        // Sorted for walks; the folded names keep the folder's own order,
        // so that the first spelling listed wins when a case-sensitive
        // folder holds two.
        std::vector<size_t> order(listed.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return ByName(listed[a], listed[b]); });
        std::vector<size_t> position(listed.size());
        for (size_t i = 0; i < order.size(); ++i)
            position[order[i]] = i;
        listing.names.reserve(listed.size());
        for (size_t i = 0; i < listed.size(); ++i)
            listing.names.emplace(FoldCase(listed[i].name), position[i]);
        FolderEntries sorted;
        sorted.reserve(listed.size());
        for (size_t i : order)
            sorted.push_back(std::move(listed[i]));
        listing.entries = std::make_shared<const FolderEntries>(std::move(sorted));
        return listing;
    }
};

FolderIndex::FolderIndex(Revalidate revalidate, size_t maxFolders)
    : revalidate_(revalidate)
    , maxFolders_(maxFolders)
    , state_(std::make_unique<State>())
{
}

FolderIndex::~FolderIndex() = default;

std::optional<std::string> FolderIndex::Find(const std::string& dir, std::string_view name)
{
    fs::file_time_type mtime{};
    std::error_code ec;
    if (revalidate_ == Revalidate::OnEachLookup) {
        mtime = fs::last_write_time(dir, ec);
        if (ec)
            return std::nullopt;
    }
    std::lock_guard lock(state_->mutex);
    auto& folders = state_->folders;
    auto it = folders.find(dir);
    if (it == folders.end() || (revalidate_ == Revalidate::OnEachLookup && it->second.mtime != mtime)) {
        if (folders.size() > maxFolders_)
            folders.clear();
        it = folders.insert_or_assign(dir, State::List(dir, mtime)).first;
    }
    auto hit = it->second.names.find(FoldCase(name));
    if (hit == it->second.names.end())
        return std::nullopt;
    return (*it->second.entries)[hit->second].name;
}

std::shared_ptr<const FolderEntries> FolderIndex::ListContained(const std::string& dir)
{
    UniqueFd fd = OpenContained(dir, OpenAs::Directory);
    if (!fd)
        return nullptr;
    struct stat st {};
    if (::fstat(fd.Get(), &st) == 0) {
        std::lock_guard lock(state_->mutex);
        auto it = state_->folders.find(dir);
        if (it != state_->folders.end() && it->second.identity == FolderIdentity::Of(st))
            return it->second.entries;
    }
    DIR* d = ::fdopendir(fd.Get());
    if (!d)
        return nullptr;
    fd.Release();
    FolderEntries entries = ReadEntries(d);
    std::sort(entries.begin(), entries.end(), ByName);
    return std::make_shared<const FolderEntries>(std::move(entries));
}

std::optional<std::string> FolderIndex::FindRelative(const std::string& folder, std::string_view relative)
{
    std::string actual;
    size_t pos = 0;
    while (pos < relative.size()) {
        size_t slash = relative.find('/', pos);
        if (slash == std::string_view::npos)
            slash = relative.size();
        const std::string dir =
            actual.empty() ? (folder.empty() ? std::string(".") : folder) : MakePath(folder, actual);
        auto hit = Find(dir, relative.substr(pos, slash - pos));
        if (!hit)
            return std::nullopt;
        actual = actual.empty() ? *hit : actual + "/" + *hit;
        pos = slash + 1;
    }
    if (actual.empty())
        return std::nullopt;
    return actual;
}

std::string ToHostSeparators(std::string_view windowsName)
{
    std::string out(windowsName);
    for (char& c : out) {
        if (c == '\\')
            c = '/';
    }
    return out;
}

std::string ResolvePath(const std::string& path)
{
    if (path.empty() || ExistsAsSpelled(path))
        return path;
    // Walk the components; keep those that exist as spelled and look the
    // others up in their parent without regard to case.
    std::string resolved;
    size_t pos = 0;
    if (path[0] == '/') {
        resolved = "/";
        pos = 1;
    }
    bool found = true;
    while (pos <= path.size()) {
        size_t next = path.find('/', pos);
        if (next == std::string::npos)
            next = path.size();
        std::string_view component(path.data() + pos, next - pos);
        pos = next + 1;
        if (component.empty() || component == ".")
            continue;
        std::string candidate = resolved;
        if (!candidate.empty() && candidate.back() != '/')
            candidate += '/';
        if (found) {
            std::string spelled = candidate + std::string(component);
            if (component == ".." || ExistsAsSpelled(spelled)) {
                resolved = spelled;
                continue;
            }
            auto match = Folders().Find(resolved.empty() ? "." : resolved, component);
            if (match) {
                resolved = candidate + *match;
                continue;
            }
            found = false;
        }
        resolved = candidate + std::string(component);
    }
    return found ? resolved : path;
}

std::optional<FileAttributes> GetFileAttributes(const std::string& path, std::string& resolvedPath,
                                                std::string* problem)
{
    struct stat st {};
    resolvedPath = path;
    if (path.empty())
        return std::nullopt;
    const QuickLookup quick = QuickStatContained(path, st);
    if (quick == QuickLookup::Found) {
        // One call for a name in a folder already walked (the item list
        // asks this of every item it shows).
    } else if (quick == QuickLookup::Walk) {
        // Inside a container every component is checked by the walk.
        if (!ExistsAsSpelled(path))
            resolvedPath = ResolvePath(path);
        UniqueFd fd = OpenContained(resolvedPath, OpenAs::Inspect, problem);
        if (!fd || ::fstat(fd.Get(), &st) != 0)
            return std::nullopt;
    } else if (::stat(path.c_str(), &st) != 0) {
        // One stat when the path exists as spelled, which is the common case
        // (the item list asks this of every item it shows).
        resolvedPath = ResolvePath(path);
        if (resolvedPath == path || ::stat(resolvedPath.c_str(), &st) != 0) {
            if (problem)
                *problem = path + ": " + std::strerror(errno);
            return std::nullopt;
        }
    }
    FileAttributes attributes;
    attributes.isDirectory = S_ISDIR(st.st_mode);
    attributes.isRegular = S_ISREG(st.st_mode);
    if (attributes.isRegular)
        attributes.size = uint64_t(st.st_size);
    return attributes;
}

std::optional<FileAttributes> GetFileAttributes(const std::string& path)
{
    std::string resolved;
    return GetFileAttributes(path, resolved);
}

bool OpenPlainFile(std::ifstream& in, const std::string& path)
{
    UniqueFd fd = OpenContained(path, OpenAs::Read);
    if (!fd)
        return false;
    // The stream opens the very file the walk checked, through its
    // descriptor, not the name again.
    in.open("/proc/self/fd/" + std::to_string(fd.Get()), std::ios::binary);
    return in.is_open();
}

bool FileExists(const std::string& path)
{
    return GetFileAttributes(path).has_value();
}

int CreateNewFile(const std::string& path, int mode)
{
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

NewFileWriter::NewFileWriter(std::string finalPath)
    : final_(std::move(finalPath))
{
    static std::atomic<unsigned> counter{0};
    const std::string dir = DirectoryOf(final_);
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temporary_ = MakePath(dir.empty() ? std::string(".") : dir,
                             ".oriel-part-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        fd_ = CreateNewFile(temporary_);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
    if (fd_ < 0)
        temporary_.clear();
}

NewFileWriter::~NewFileWriter()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
}

bool NewFileWriter::Commit()
{
    if (fd_ < 0)
        return false;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!closed || !CommitNewFile(temporary_, final_))
        return false;
    temporary_.clear();
    return true;
}

bool CommitNewFile(const std::string& temporary, const std::string& finalPath)
{
    // A hard link gives the final name only when nothing has it.
    if (::link(temporary.c_str(), finalPath.c_str()) != 0)
        return false;
    ::unlink(temporary.c_str());
    return true;
}

bool CopyFile(const std::string& from, const std::string& to)
{
    UniqueFd in = OpenContained(from, OpenAs::Read);
    if (!in)
        return false;
    NewFileWriter out(to);
    if (out.Fd() < 0)
        return false;
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(in.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out.Fd(), buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            done += w;
        }
    }
    return out.Commit();
}

bool DeleteFile(const std::string& path)
{
    std::error_code ec;
    std::string target = ResolvePath(path);
    auto st = fs::symlink_status(target, ec);
    if (ec || fs::is_directory(st))
        return false;
    return fs::remove(target, ec) && !ec;
}

bool FolderReadOnly(const std::string& path)
{
    if (path.empty())
        return false;
    const std::string target = ResolvePath(path);
    struct stat st{};
    if (::stat(target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    // access() also answers EROFS for a read-only mount.
    return !IsDirectoryWritable(target);
}

bool DeleteExactFile(const std::string& path)
{
    std::error_code ec;
    auto st = fs::symlink_status(path, ec);
    if (ec || fs::is_directory(st))
        return false;
    return fs::remove(path, ec) && !ec;
}

std::string MakePath(const std::string& dir, std::string_view fileName, std::string_view ext)
{
    std::string out;
    out.reserve(dir.size() + 1 + fileName.size() + 1 + ext.size());
    MakePathIn(out, dir, fileName);
    if (!ext.empty()) {
        if (ext.front() != '.')
            out += '.';
        out += ext;
    }
    return out;
}

void MakePathIn(std::string& out, std::string_view dir, std::string_view fileName)
{
    const bool separator = !dir.empty() && dir.back() != '/' && dir.back() != '\\';
    const size_t at = dir.size() + (separator ? 1 : 0);
    out.resize(at + fileName.size());
    char* p = out.data();
    CopyBytes(p, dir.data(), dir.size());
    if (separator)
        p[dir.size()] = '/';
    CopyBytes(p + at, fileName.data(), fileName.size());
    std::replace(p + at, p + out.size(), '\\', '/');
}

bool IsContainedRelativeName(std::string_view name)
{
    if (name.empty())
        return false;
    if (name.front() == '/' || name.front() == '\\')
        return false;
    if (name.size() >= 2 && name[1] == ':')
        return false;
    // Most names hold no ".." at all: one search settles them.
    if (name.find("..") == std::string_view::npos)
        return true;
    // One pass over the name: no part between separators may be "..".
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != '/' && name[i] != '\\')
            continue;
        if (i - start == 2 && name[start] == '.' && name[start + 1] == '.')
            return false;
        start = i + 1;
    }
    return true;
}

std::string GetTempPath()
{
    std::error_code ec;
    std::string tmp = fs::temp_directory_path(ec).string();
    if (ec || tmp.empty())
        tmp = "/tmp";
    if (tmp.back() != '/')
        tmp += '/';
    return tmp;
}

namespace {

constexpr std::string_view kPrivatePrefix = "oriel-";
// The private folder's name ends in its process id: "oriel-<pid>-XXXXXX".
std::string PrivateFolderTemplate()
{
    return GetTempPath() + std::string(kPrivatePrefix) + std::to_string(::getpid()) + "-XXXXXX";
}

// The private folder's path for the signal handler: plain static storage,
// nothing to construct or allocate there.
char g_privateFolderPath[4096];

struct PrivateFolder {
    std::string path;
    ~PrivateFolder()
    {
        if (!path.empty()) {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    }
};

PrivateFolder& ThePrivateFolder()
{
    static PrivateFolder folder;
    return folder;
}

// Removes a folder tree without following links, with calls a signal
// handler may make (no allocation).
void RemoveTreeAt(int parent, const char* name, int depth)
{
    if (depth > 64)
        return;
    int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        alignas(8) char buffer[4096];
        for (;;) {
            const ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t pos = 0; pos < n;) {
                auto* entry = reinterpret_cast<struct dirent64*>(buffer + pos);
                pos += entry->d_reclen;
                const char* child = entry->d_name;
                if (std::strcmp(child, ".") == 0 || std::strcmp(child, "..") == 0)
                    continue;
                if (::unlinkat(fd, child, 0) != 0)
                    RemoveTreeAt(fd, child, depth + 1);
            }
        }
        ::close(fd);
    }
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

} // namespace

std::string PrivateTempFolder()
{
    static std::mutex mutex;
    PrivateFolder& folder = ThePrivateFolder();
    std::lock_guard lock(mutex);
    if (folder.path.empty()) {
        std::string templ = PrivateFolderTemplate();
        if (mkdtemp(templ.data()) && templ.size() < sizeof g_privateFolderPath) {
            std::memcpy(g_privateFolderPath, templ.c_str(), templ.size() + 1);
            folder.path = templ + "/";
        }
    }
    return folder.path;
}

void RemovePrivateTempFolderNow()
{
    if (g_privateFolderPath[0] == '/')
        RemoveTreeAt(AT_FDCWD, g_privateFolderPath, 0);
}

int RemoveStalePrivateFolders()
{
    int removed = 0;
    const std::string tmp = GetTempPath();
    std::error_code ec;
    for (fs::directory_iterator it(tmp, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kPrivatePrefix, 0) != 0)
            continue;
        // "oriel-<pid>-XXXXXX"; folders of another shape are not ours.
        const std::string_view rest = std::string_view(name).substr(kPrivatePrefix.size());
        const size_t dash = rest.find('-');
        if (dash == 0 || dash == std::string_view::npos || rest.size() - dash - 1 != 6)
            continue;
        long pid = 0;
        bool digits = true;
        for (char c : rest.substr(0, dash)) {
            digits = digits && c >= '0' && c <= '9';
            pid = pid * 10 + (c - '0');
            if (pid > 1 << 30)
                digits = false;
        }
        if (!digits || pid <= 0 || pid == ::getpid())
            continue;
        // Only our own folders, and only when their process is gone.
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        RemoveTreeAt(AT_FDCWD, it->path().c_str(), 0);
        ++removed;
    }
    return removed;
}

namespace {
std::function<bool(const std::string&)> g_writableCheck;
} // namespace

void SetWritableCheckForTesting(std::function<bool(const std::string&)> check)
{
    g_writableCheck = std::move(check);
}

bool IsDirectoryWritable(const std::string& dir)
{
    if (g_writableCheck)
        return g_writableCheck(dir);
    return ::access(dir.empty() ? "." : dir.c_str(), W_OK) == 0;
}

std::string WorkingCopyPath(const std::string& fileName)
{
    std::string privateDir = PrivateTempFolder();
    if (privateDir.empty())
        return {};
    // Distinct bodies may share a file name; keep each copy apart.
    static std::mutex mutex;
    static unsigned counter = 0;
    std::lock_guard lock(mutex);
    std::string sub = privateDir + std::to_string(++counter);
    if (::mkdir(sub.c_str(), 0700) != 0)
        return {};
    return MakePath(sub, fileName);
}

std::optional<std::string> ReadFile(const std::string& path, uint64_t maxBytes, std::string* problem)
{
    // Regular files only: a FIFO or device planted under an index's name
    // would block the reader or never end.
    UniqueFd owned = OpenContained(path, OpenAs::Read, problem);
    if (!owned)
        return std::nullopt;
    const int fd = owned.Get();
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    // Read straight into the result; a file that grows meanwhile is read
    // on up to the limit, one that shrinks gives what is there.
    const size_t expected = size_t(std::min<uint64_t>(uint64_t(st.st_size), maxBytes));
    std::string data;
    data.reserve(expected);
    AdviseLargePages(data.data(), data.capacity());
    data.resize(expected);
    size_t filled = 0;
    bool ok = true;
    for (;;) {
        if (filled == data.size()) {
            if (data.size() >= maxBytes)
                break;
            data.resize(size_t(std::min<uint64_t>(maxBytes, uint64_t(data.size()) + (1 << 16))));
        }
        ssize_t n = ::read(fd, data.data() + filled, data.size() - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        filled += size_t(n);
    }
    if (!ok)
        return std::nullopt;
    data.resize(filled);
    return data;
}

std::string FileNameOf(std::string_view path)
{
    size_t slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string DirectoryOf(std::string_view path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string_view::npos)
        return {};
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

} // namespace oriel::platform

namespace oriel::platform {

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path, std::string* problem)
{
    UniqueFd fd = OpenContained(path, OpenAs::Directory, problem);
    if (!fd)
        return std::nullopt;
    DIR* dir = ::fdopendir(fd.Get());
    if (!dir)
        return std::nullopt;
    fd.Release();
    FolderEntries entries = ReadEntries(dir);
    std::sort(entries.begin(), entries.end(), ByName);
    return entries;
}

} // namespace oriel::platform
