#include "platform/FileSystem.h"

#include "platform/CaseFold.h"

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

struct FolderIndex::State {
    struct Listing {
        fs::file_time_type mtime;
        std::unordered_map<std::string, std::string> names;
    };
    std::mutex mutex;
    std::unordered_map<std::string, Listing> folders;
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
        State::Listing listing;
        listing.mtime = mtime;
        for (fs::directory_iterator d(dir, ec), end; !ec && d != end; d.increment(ec)) {
            std::string entry = d->path().filename().string();
            // First spelling wins when a case-sensitive folder holds two.
            listing.names.emplace(FoldCase(entry), entry);
        }
        it = folders.insert_or_assign(dir, std::move(listing)).first;
    }
    auto hit = it->second.names.find(FoldCase(name));
    if (hit == it->second.names.end())
        return std::nullopt;
    return hit->second;
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

std::optional<FileAttributes> GetFileAttributes(const std::string& path, std::string& resolvedPath)
{
    // One stat when the path exists as spelled, which is the common case
    // (the item list asks this of every item it shows).
    struct stat st {};
    resolvedPath = path;
    if (path.empty())
        return std::nullopt;
    if (::stat(path.c_str(), &st) != 0) {
        resolvedPath = ResolvePath(path);
        if (resolvedPath == path || ::stat(resolvedPath.c_str(), &st) != 0)
            return std::nullopt;
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
    auto attributes = GetFileAttributes(path);
    if (!attributes || !attributes->isRegular)
        return false;
    in.open(path, std::ios::binary);
    return in.is_open();
}

bool FileExists(const std::string& path)
{
    return GetFileAttributes(path).has_value();
}

bool CopyFile(const std::string& from, const std::string& to, bool failIfExists)
{
    std::error_code ec;
    std::string source = ResolvePath(from);
    if (!fs::is_regular_file(source, ec))
        return false;
    auto options = failIfExists ? fs::copy_options::none : fs::copy_options::overwrite_existing;
    return fs::copy_file(source, to, options, ec) && !ec;
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
    std::string out = dir;
    if (!out.empty() && out.back() != '/' && out.back() != '\\')
        out += '/';
    out += ToHostSeparators(fileName);
    if (!ext.empty()) {
        if (ext.front() != '.')
            out += '.';
        out += ext;
    }
    return out;
}

bool IsContainedRelativeName(std::string_view name)
{
    if (name.empty())
        return false;
    if (name.front() == '/' || name.front() == '\\')
        return false;
    if (name.size() >= 2 && name[1] == ':')
        return false;
    size_t pos = 0;
    while (pos <= name.size()) {
        size_t next = name.find_first_of("/\\", pos);
        if (next == std::string_view::npos)
            next = name.size();
        if (name.substr(pos, next - pos) == "..")
            return false;
        pos = next + 1;
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

} // namespace

std::string PrivateTempFolder()
{
    static std::mutex mutex;
    static PrivateFolder folder;
    std::lock_guard lock(mutex);
    if (folder.path.empty()) {
        std::string templ = GetTempPath() + "oriel-XXXXXX";
        if (mkdtemp(templ.data()))
            folder.path = templ + "/";
    }
    return folder.path;
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

std::string WorkingCopyPath(const std::string& bodyPath, const std::string& fileName)
{
    std::string dir = DirectoryOf(bodyPath);
    // Beside the body only when that overwrites nothing: a file of that name
    // (in any case) may be another cached body.
    if (IsDirectoryWritable(dir)) {
        std::string beside = MakePath(dir, fileName);
        if (!FileExists(beside))
            return beside;
    }
    std::string privateDir = PrivateTempFolder();
    if (privateDir.empty())
        return {};
    // Distinct bodies may share a file name; keep each copy apart.
    static std::mutex mutex;
    static unsigned counter = 0;
    std::lock_guard lock(mutex);
    std::string sub = privateDir + std::to_string(++counter);
    std::error_code ec;
    fs::create_directory(sub, ec);
    return MakePath(sub, fileName);
}

std::optional<std::string> ReadFile(const std::string& path, uint64_t maxBytes)
{
    // Regular files only: a FIFO or device planted under an index's name
    // would block the reader or never end.
    const std::string resolved = ResolvePath(path);
    int fd = ::open(resolved.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
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
    ::close(fd);
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
