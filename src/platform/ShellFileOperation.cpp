#include "platform/ShellFileOperation.h"

#include "platform/ContainedPath.h"

#include <functional>


#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace oriel {

namespace {

// Deeper trees than this are not walked (a hostile folder could nest
// without end and exhaust the stack).
constexpr int kMaxDepth = 128;

class Fd {
public:
    explicit Fd(int fd = -1)
        : fd_(fd)
    {
    }
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept
        : fd_(other.fd_)
    {
        other.fd_ = -1;
    }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            if (fd_ >= 0)
                ::close(fd_);
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

std::string StripTrailingSeparators(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string NormalizeAbsolute(const std::string& path)
{
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec)
        absolute = path;
    return StripTrailingSeparators(absolute.lexically_normal().string());
}

std::string Canonical(const std::string& path)
{
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec)
        return NormalizeAbsolute(path);
    return StripTrailingSeparators(canonical.lexically_normal().string());
}

std::vector<std::string> Components(std::string_view path)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t next = path.find('/', pos);
        if (next == std::string_view::npos)
            next = path.size();
        if (next > pos)
            out.emplace_back(path.substr(pos, next - pos));
        pos = next + 1;
    }
    return out;
}

bool HasParentComponent(std::string_view path)
{
    for (const std::string& c : Components(path)) {
        if (c == "..")
            return true;
    }
    return false;
}

bool IsPattern(std::string_view name)
{
    return name == "*.*" || name == "*";
}

std::vector<std::string> HomeFolders()
{
    std::vector<std::string> homes;
    if (const char* home = std::getenv("HOME"); home && *home)
        homes.push_back(Canonical(home));
    setpwent();
    while (struct passwd* entry = getpwent()) {
        if (entry->pw_dir && *entry->pw_dir)
            homes.push_back(Canonical(entry->pw_dir));
    }
    endpwent();
    return homes;
}

bool IsMountPoint(const std::string& canonicalFolder)
{
    struct stat self{}, parent{};
    if (::stat(canonicalFolder.c_str(), &self) != 0 || ::stat((canonicalFolder + "/..").c_str(), &parent) != 0)
        return false;
    return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

// Opens the scope folder and then each folder of `parts` below it without
// following a link. The scope is opened inside its container
// (platform/ContainedPath.h): a cache folder reached from the examined root
// through a link that leads out is refused, with the reason in `refused`;
// outside every container it is opened as the host resolves it (a folder
// the user chose).
Fd OpenFolder(const std::string& scope, const std::vector<std::string>& parts, int& error, std::string& refused)
{
    std::string problem;
    platform::UniqueFd top = platform::OpenContained(scope, platform::OpenAs::Directory, &problem);
    if (!top) {
        error = errno ? errno : ENOENT;
        if (platform::IsContainmentProblem(problem))
            refused = problem;
    }
    Fd dir(top.Release());
    int fd = -1;
    for (const std::string& part : parts) {
        if (!dir.ok())
            break;
        fd = ::openat(dir.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            error = errno;
        dir = Fd(fd);
    }
    return dir;
}

// The names in a folder, read before anything in it is removed.
std::vector<std::string> ListNames(int dirFd)
{
    std::vector<std::string> names;
    int copy = ::dup(dirFd);
    if (copy < 0)
        return names;
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return names;
    }
    while (struct dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

} // namespace

void ShellFileOperation::SetDeleteScope(const std::string& folder)
{
    scopes_.clear();
    AddDeleteScope(folder);
}

void ShellFileOperation::AddDeleteScope(const std::string& folder)
{
    if (folder.empty())
        return;
    scopes_.push_back({NormalizeAbsolute(folder), Canonical(folder), ProtectedFolderReason(folder)});
}

void ShellFileOperation::Reserve(List list, size_t bytes)
{
    (list == List::Source ? source_ : destination_).reserve(bytes);
}

void ShellFileOperation::AppendPath(List list, std::string_view path)
{
    std::string& buffer = list == List::Source ? source_ : destination_;
    if (!buffer.empty())
        buffer.pop_back(); // the list's closing NUL
    buffer.append(path);
    buffer.push_back('\0');
    buffer.push_back('\0');
}

std::vector<std::string> ShellFileOperation::Paths(List list) const
{
    const std::string& buffer = Buffer(list);
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < buffer.size() && buffer[pos] != '\0') {
        size_t end = buffer.find('\0', pos);
        out.push_back(buffer.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

std::string ShellFileOperation::ProtectedFolderReason(const std::string& folder)
{
    if (folder.empty())
        return "no cache folder";
    std::string canonical = Canonical(folder);
    if (canonical == "/")
        return "the file-system root";
    for (const std::string& home : HomeFolders()) {
        if (home == canonical)
            return "a home folder";
        if (home.size() > canonical.size() && home.compare(0, canonical.size(), canonical) == 0 &&
            home[canonical.size()] == '/')
            return "holds the home folder " + home;
    }
    return {};
}

const ShellFileOperation::Scope* ShellFileOperation::FindScope(const std::string& lexicalPath,
                                                               std::string& relative) const
{
    for (const Scope& scope : scopes_) {
        if (lexicalPath == scope.lexical) {
            relative.clear();
            return &scope;
        }
        std::string prefix = scope.lexical == "/" ? "/" : scope.lexical + "/";
        if (lexicalPath.compare(0, prefix.size(), prefix) == 0) {
            relative = lexicalPath.substr(prefix.size());
            return &scope;
        }
    }
    return nullptr;
}

void ShellFileOperation::Refuse(const std::string& path, const std::string& why)
{
    ++refused_;
    Trace("     ShellFileOperation::RunDelete - refused " + path + " (" + why + ")");
}

int ShellFileOperation::RunDelete()
{
    Trace("Entry - ShellFileOperation::RunDelete()");
    function_ = FO_DELETE;
    aborted_ = false;
    deleted_ = refused_ = failed_ = 0;
    for (const std::string& path : Paths(List::Source))
        DeleteOne(path);
    Trace("Exit  - ShellFileOperation::RunDelete() deleted " + std::to_string(deleted_) + ", refused " +
          std::to_string(refused_) + ", failed " + std::to_string(failed_));
    return refused_ == 0 && failed_ == 0 ? 0 : -1;
}

void ShellFileOperation::DeleteOne(const std::string& path)
{
    std::string name = path;
    bool pattern = false;
    if (size_t slash = path.find_last_of('/'); slash != std::string::npos && IsPattern(path.substr(slash + 1))) {
        pattern = true;
        name = path.substr(0, slash);
    } else if (IsPattern(path)) {
        pattern = true;
        name.clear();
    }
    if (name.empty() && pattern) {
        Refuse(path, "no folder");
        return;
    }
    if (HasParentComponent(name)) {
        Refuse(path, "name leaves its folder");
        return;
    }
    std::string relative;
    const Scope* scope = FindScope(NormalizeAbsolute(name), relative);
    if (!scope) {
        Refuse(path, "outside the cache folder");
        return;
    }
    if (!scope->protectedReason.empty()) {
        Refuse(path, scope->protectedReason);
        return;
    }
    if (pattern) {
        DeleteMatching(*scope, relative, (flags_ & FOF_FILESONLY) != 0);
        return;
    }

    std::vector<std::string> parts = Components(relative);
    if (parts.empty()) {
        Refuse(path, "the cache folder itself");
        return;
    }
    int error = 0;
    std::string refused;
    Fd dir = OpenFolder(scope->lexical, {parts.begin(), parts.end() - 1}, error, refused);
    if (!dir.ok()) {
        if (!refused.empty())
            Refuse(path, refused);
        else if (error == ELOOP || error == ENOTDIR)
            Refuse(path, "a symbolic link on the way");
        else
            ++failed_;
        return;
    }
    struct stat st{};
    if (::fstatat(dir.get(), parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        ++failed_;
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        Refuse(path, "a folder");
        return;
    }
    if (::unlinkat(dir.get(), parts.back().c_str(), 0) == 0) {
        ++deleted_;
        TraceDeleted(path);
    } else {
        ++failed_;
    }
}

void ShellFileOperation::TraceDeleted(const std::string& path) const
{
    // One line per removed file or folder, so that the user can see
    // afterwards what was removed from the examined disk.
    Trace("     ShellFileOperation::RunDelete - deleted " + path);
}

namespace {

// Removes `name` in `parentFd` and, for a folder, everything below it,
// never following a symbolic link and never leaving file system `device`.
// Returns false when something could not be removed.
// `path` is the name's full path, for `removed`, which hears of every
// file, link and folder removed.
bool RemoveTree(int parentFd, const std::string& name, const std::string& path, dev_t device, int depth, int& deleted,
                const std::function<void(const std::string&)>& removed)
{
    struct stat st{};
    if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) {
        if (::unlinkat(parentFd, name.c_str(), 0) != 0)
            return false;
        ++deleted;
        removed(path);
        return true;
    }
    if (st.st_dev != device || depth >= kMaxDepth)
        return false;
    Fd dir(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.ok())
        return false;
    bool ok = true;
    for (const std::string& child : ListNames(dir.get()))
        ok = RemoveTree(dir.get(), child, path + "/" + child, device, depth + 1, deleted, removed) && ok;
    if (!ok || ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0)
        return false;
    ++deleted;
    removed(path);
    return true;
}

} // namespace

void ShellFileOperation::DeleteMatching(const Scope& scope, const std::string& relative, bool filesOnly)
{
    std::string folder = relative.empty() ? scope.lexical : scope.lexical + "/" + relative;
    if (IsMountPoint(Canonical(folder))) {
        Refuse(folder + "/*.*", "the root of a file system");
        return;
    }
    int error = 0;
    std::string refused;
    Fd dir = OpenFolder(scope.lexical, Components(relative), error, refused);
    if (!dir.ok()) {
        if (!refused.empty())
            Refuse(folder + "/*.*", refused);
        else if (error == ELOOP || error == ENOTDIR)
            Refuse(folder + "/*.*", "a symbolic link on the way");
        else
            ++failed_;
        return;
    }
    struct stat self{};
    if (::fstat(dir.get(), &self) != 0) {
        ++failed_;
        return;
    }
    for (const std::string& name : ListNames(dir.get())) {
        struct stat st{};
        if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode) && filesOnly)
            continue;
        if (!RemoveTree(dir.get(), name, folder + "/" + name, self.st_dev, 0, deleted_,
                        [this](const std::string& path) { TraceDeleted(path); })) {
            ++failed_;
            Trace("     ShellFileOperation::RunDelete - could not remove all of " + folder + "/" + name);
        }
    }
}

} // namespace oriel
