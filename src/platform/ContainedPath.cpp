#include "platform/ContainedPath.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace oriel::platform {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other)
        Reset(other.Release());
    return *this;
}

void UniqueFd::Reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

namespace {

// Links followed on one walk before it gives up (the kernel's own bound).
constexpr int kMaxLinkHops = 40;
constexpr std::string_view kRefused = "link not followed: ";

// Folders a walk has already verified, so that the next look-up in one of
// them costs a single call. Each descriptor was reached from the
// container's own descriptor one real folder at a time (no link, no
// ".."), and is keyed by those names ("" is the container itself).
//
// Why a kept descriptor cannot lead out: it names the folder the walk
// verified, not a path. Nothing is ever resolved again through the key's
// spelling, and only single names are looked up in the folder, with
// O_NOFOLLOW (a link there sends the look-up back to the full walk). A
// later swap of any folder on the key's path for a link therefore cannot
// redirect a look-up: it goes on into the verified folder (or finds
// nothing in a removed one, and the full walk then sees the link and
// judges it).
//
// The descriptors close when their container's registration ends (and any
// look-up still using one is done). A container keeps at most
// kFoldersPerContainer; all containers together at most kFoldersKept.
constexpr size_t kFoldersPerContainer = 64;
constexpr size_t kFoldersKept = 256;
std::atomic<size_t> g_foldersKept{0};

using SharedFd = std::shared_ptr<const UniqueFd>;

struct FolderCache {
    std::mutex mutex;
    SharedFd root;
    std::unordered_map<std::string, SharedFd> folders;

    FolderCache() = default;
    FolderCache(const FolderCache&) = delete;
    FolderCache& operator=(const FolderCache&) = delete;
    ~FolderCache() { g_foldersKept -= folders.size(); }

    SharedFd Find(const std::string& key)
    {
        std::lock_guard lock(mutex);
        if (key.empty())
            return root;
        auto it = folders.find(key);
        return it == folders.end() ? nullptr : it->second;
    }

    void Remember(const std::string& key, const SharedFd& fd)
    {
        std::lock_guard lock(mutex);
        auto it = folders.find(key);
        if (it != folders.end()) {
            it->second = fd;
            return;
        }
        if (folders.size() >= kFoldersPerContainer) {
            g_foldersKept -= folders.size();
            folders.clear();
        }
        if (g_foldersKept.load() >= kFoldersKept)
            return;
        ++g_foldersKept;
        folders.emplace(key, fd);
    }
};

struct Container {
    unsigned long id;
    std::string lexical; // absolute, as spelled, without a trailing separator ("/" for the root)
    std::string real;    // the same folder with its links resolved
    std::shared_ptr<FolderCache> cache = std::make_shared<FolderCache>();
};

using SharedContainer = std::shared_ptr<const Container>;

struct Registry {
    std::mutex mutex;
    std::vector<SharedContainer> containers;
    unsigned long nextId = 1;
    std::function<void(std::string_view)> trace;
};

// Never destroyed: registrations held by other statics end after it would.
Registry& Containers()
{
    static Registry* registry = new Registry;
    return *registry;
}

// An absolute spelling of `path`: the working folder before a relative
// one, empty and "." components dropped; ".." is kept (the walk takes it).
std::string Absolute(const std::string& path)
{
    std::string full;
    if (path.empty() || path[0] != '/') {
        std::string cwd(4096, '\0');
        if (::getcwd(cwd.data(), cwd.size()))
            full = cwd.c_str();
        full += '/';
    }
    full += path;
    std::string out;
    size_t pos = 0;
    while (pos <= full.size()) {
        size_t next = full.find('/', pos);
        if (next == std::string::npos)
            next = full.size();
        std::string_view component(full.data() + pos, next - pos);
        pos = next + 1;
        if (component.empty() || component == ".")
            continue;
        out += '/';
        out += component;
    }
    return out.empty() ? std::string("/") : out;
}

bool Holds(const std::string& container, const std::string& path)
{
    if (container == "/")
        return true;
    return path.size() >= container.size() && path.compare(0, container.size(), container) == 0 &&
           (path.size() == container.size() || path[container.size()] == '/');
}

bool UnderPseudoFileSystem(const std::string& path)
{
    for (const char* top : {"/proc", "/sys", "/dev"}) {
        if (Holds(top, path))
            return true;
    }
    return false;
}

std::vector<std::string> Split(std::string_view text)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t next = text.find('/', pos);
        if (next == std::string_view::npos)
            next = text.size();
        std::string_view component = text.substr(pos, next - pos);
        pos = next + 1;
        if (!component.empty() && component != ".")
            out.emplace_back(component);
    }
    return out;
}

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

void Refuse(std::string* problem, const std::string& text)
{
    std::string full = std::string(kRefused) + text;
    std::function<void(std::string_view)> trace;
    {
        std::lock_guard lock(Containers().mutex);
        trace = Containers().trace;
    }
    if (trace)
        trace(full);
    if (problem)
        *problem = std::move(full);
}

void Fail(std::string* problem, const std::string& path, const std::string& why)
{
    if (problem)
        *problem = path + ": " + why;
}

bool SameFile(int a, int b)
{
    struct stat sa {}, sb {};
    return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The final open of a walked object: `fd` is its O_PATH descriptor, reached
// as `name` in `parent`. The object is opened again without following a
// link and must be the one inspected (a swap in between fails).
UniqueFd Finish(UniqueFd fd, const struct stat& st, int parent, const std::string& name, OpenAs how,
                const std::string& path, std::string* problem)
{
    if (how == OpenAs::Inspect)
        return fd;
    int flags = (how == OpenAs::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW;
    if (how == OpenAs::Directory) {
        if (!S_ISDIR(st.st_mode)) {
            Fail(problem, path, ErrnoText(ENOTDIR));
            return {};
        }
        flags |= O_DIRECTORY;
    } else {
        if (!S_ISREG(st.st_mode)) {
            Fail(problem, path, "not a plain file");
            return {};
        }
        flags |= O_NONBLOCK;
    }
    UniqueFd opened(name.empty() ? ::openat(fd.Get(), ".", flags) : ::openat(parent, name.c_str(), flags));
    if (!opened) {
        Fail(problem, path, ErrnoText(errno));
        return {};
    }
    if (!SameFile(opened.Get(), fd.Get())) {
        Fail(problem, path, "changed while it was opened");
        return {};
    }
    return opened;
}

UniqueFd OpenOutside(const std::string& path, OpenAs how, std::string* problem)
{
    const std::string resolved = ResolvePath(path);
    int flags = O_CLOEXEC;
    if (how == OpenAs::Inspect)
        flags |= O_PATH;
    else if (how == OpenAs::Directory)
        flags |= O_RDONLY | O_DIRECTORY;
    else if (how == OpenAs::ReadWrite)
        flags |= O_RDWR | O_NONBLOCK;
    else
        flags |= O_RDONLY | O_NONBLOCK; // a FIFO must not block the open; it is refused below
    UniqueFd fd(::open(resolved.c_str(), flags));
    if (!fd) {
        Fail(problem, path, ErrnoText(errno));
        return {};
    }
    if (how == OpenAs::Read || how == OpenAs::ReadWrite) {
        struct stat st {};
        if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            Fail(problem, path, "not a plain file");
            return {};
        }
    }
    return fd;
}

} // namespace

ContainerRegistration::ContainerRegistration(const std::string& folder)
{
    Container c;
    c.lexical = Absolute(folder);
    char* real = ::realpath(c.lexical.c_str(), nullptr);
    c.real = real ? std::string(real) : c.lexical;
    std::free(real);
    std::lock_guard lock(Containers().mutex);
    c.id = id_ = Containers().nextId++;
    Containers().containers.push_back(std::make_shared<const Container>(std::move(c)));
}

ContainerRegistration::~ContainerRegistration()
{
    SharedContainer released; // its folders close outside the lock
    std::lock_guard lock(Containers().mutex);
    auto& list = Containers().containers;
    auto it = std::find_if(list.begin(), list.end(), [this](const SharedContainer& c) { return c->id == id_; });
    if (it != list.end()) {
        released = std::move(*it);
        list.erase(it);
    }
}

std::shared_ptr<ContainerRegistration> RegisterContainer(const std::string& folder)
{
    if (folder.empty())
        return nullptr;
    return std::make_shared<ContainerRegistration>(folder);
}

namespace {

SharedContainer Outermost(const std::string& absolute)
{
    std::lock_guard lock(Containers().mutex);
    const SharedContainer* best = nullptr;
    for (const SharedContainer& c : Containers().containers) {
        if (Holds(c->lexical, absolute) && (!best || c->lexical.size() < (*best)->lexical.size()))
            best = &c;
    }
    return best ? *best : nullptr;
}

// The container's own descriptor, opened on first use. The container was
// named by the examiner: its own links are followed as the host resolves
// them.
SharedFd RootOf(const Container& c, std::string* problem, const std::string& path)
{
    std::lock_guard lock(c.cache->mutex);
    if (!c.cache->root) {
        UniqueFd root(::open(c.lexical.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!root) {
            Fail(problem, path, ErrnoText(errno));
            return nullptr;
        }
        c.cache->root = std::make_shared<const UniqueFd>(std::move(root));
    }
    return c.cache->root;
}

// `absolute` below `c` as the folder's key and the final name, when it is
// spelled with plain names only (no ".."); false for the container itself.
bool SplitPlain(const Container& c, const std::string& absolute, std::string& key, std::string& name)
{
    const size_t start = c.lexical == "/" ? 1 : c.lexical.size() + 1;
    if (absolute.size() <= start)
        return false;
    const std::string_view rel = std::string_view(absolute).substr(start);
    for (size_t pos = 0; pos <= rel.size();) {
        size_t next = rel.find('/', pos);
        if (next == std::string_view::npos)
            next = rel.size();
        if (rel.substr(pos, next - pos) == "..")
            return false;
        pos = next + 1;
    }
    const size_t slash = rel.rfind('/');
    key = slash == std::string_view::npos ? std::string() : std::string(rel.substr(0, slash));
    name = std::string(slash == std::string_view::npos ? rel : rel.substr(slash + 1));
    return true;
}

std::string HostPathOf(const Container& c, const std::string& absolute)
{
    const size_t start = c.lexical == "/" ? 0 : c.lexical.size();
    return (c.real == "/" ? std::string() : c.real) + absolute.substr(start);
}

// The quick look-up: `absolute` exists exactly as spelled, its folder is
// one already verified and its final name is no link (nor under /proc,
// /sys or /dev). Fills `st` and gives the folder; null when the full walk
// must decide.
SharedFd QuickLook(const Container& c, const std::string& absolute, std::string& name, struct stat& st)
{
    std::string key;
    if (!SplitPlain(c, absolute, key, name))
        return nullptr;
    SharedFd folder = c.cache->Find(key);
    if (!folder)
        return nullptr;
    if (::fstatat(folder->Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(st.st_mode))
        return nullptr;
    if (UnderPseudoFileSystem(HostPathOf(c, absolute)))
        return nullptr;
    return folder;
}

} // namespace

std::optional<std::string> ContainerOf(const std::string& path)
{
    auto c = Outermost(Absolute(path));
    if (!c)
        return std::nullopt;
    return c->lexical;
}

QuickLookup QuickStatContained(const std::string& path, struct stat& st)
{
    const std::string absolute = Absolute(path);
    const SharedContainer container = Outermost(absolute);
    if (!container)
        return QuickLookup::Outside;
    std::string name;
    return QuickLook(*container, absolute, name, st) ? QuickLookup::Found : QuickLookup::Walk;
}

bool IsContainmentProblem(std::string_view problem)
{
    return problem.substr(0, kRefused.size()) == kRefused;
}

void SetContainmentTrace(std::function<void(std::string_view)> trace)
{
    std::lock_guard lock(Containers().mutex);
    Containers().trace = std::move(trace);
}

UniqueFd OpenContained(const std::string& path, OpenAs how, std::string* problem)
{
    const std::string absolute = Absolute(path);
    const SharedContainer container = Outermost(absolute);
    if (!container)
        return OpenOutside(path, how, problem);

    {
        std::string name;
        struct stat st {};
        if (SharedFd folder = QuickLook(*container, absolute, name, st)) {
            UniqueFd fd(::openat(folder->Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
            struct stat now {};
            // The name may have changed since the look; then the walk decides.
            if (fd && ::fstat(fd.Get(), &now) == 0 && !S_ISLNK(now.st_mode))
                return Finish(std::move(fd), now, folder->Get(), name, how, path, problem);
        }
    }

    SharedFd root = RootOf(*container, problem, path);
    if (!root)
        return {};
    const std::vector<std::string> initial =
        Split(std::string_view(absolute).substr(container->lexical == "/" ? 0 : container->lexical.size()));
    std::deque<std::string> pending(initial.begin(), initial.end());

    // The folders walked so far (the container first) and their names below it.
    std::vector<SharedFd> dirs;
    std::vector<std::string> names;
    dirs.push_back(std::move(root));
    auto key = [&]() {
        std::string out;
        for (const std::string& n : names)
            out += (out.empty() ? "" : "/") + n;
        return out;
    };
    auto hostPath = [&](const std::string& last) {
        std::string out = container->real == "/" ? std::string() : container->real;
        for (const std::string& n : names)
            out += "/" + n;
        if (!last.empty())
            out += "/" + last;
        return out.empty() ? std::string("/") : out;
    };
    auto spelledDir = [&]() {
        std::string out = container->lexical == "/" ? std::string() : container->lexical;
        for (const std::string& n : names)
            out += "/" + n;
        return out.empty() ? std::string("/") : out;
    };

    int hops = 0;
    while (!pending.empty()) {
        std::string name = std::move(pending.front());
        pending.pop_front();
        if (name == "..") {
            if (dirs.size() == 1) {
                Refuse(problem, path + " leads out of " + container->lexical);
                return {};
            }
            dirs.pop_back();
            names.pop_back();
            continue;
        }
        const int parent = dirs.back()->Get();
        UniqueFd fd(::openat(parent, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!fd && errno == ENOENT) {
            // Windows names ignore case; the index may spell the name otherwise.
            static FolderIndex folders(FolderIndex::Revalidate::OnEachLookup, 256);
            if (auto match = folders.Find(spelledDir(), name); match && *match != name) {
                name = *match;
                fd.Reset(::openat(parent, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
            }
        }
        if (!fd) {
            Fail(problem, path, ErrnoText(errno));
            return {};
        }
        struct stat st {};
        if (::fstat(fd.Get(), &st) != 0) {
            Fail(problem, path, ErrnoText(errno));
            return {};
        }
        if (S_ISLNK(st.st_mode)) {
            std::string target(4096, '\0');
            const ssize_t n = ::readlinkat(fd.Get(), "", target.data(), target.size());
            if (n <= 0 || size_t(n) >= target.size()) {
                Fail(problem, path, "a symbolic link that cannot be read");
                return {};
            }
            target.resize(size_t(n));
            const std::string link = spelledDir() + "/" + name;
            if (target[0] == '/') {
                Refuse(problem, "the symbolic link " + link + " is absolute (" + target + ")");
                return {};
            }
            if (++hops > kMaxLinkHops) {
                Refuse(problem, path + " passes through too many symbolic links");
                return {};
            }
            const std::vector<std::string> parts = Split(target);
            pending.insert(pending.begin(), parts.begin(), parts.end());
            continue;
        }
        if (UnderPseudoFileSystem(hostPath(name))) {
            Refuse(problem, path + " lies under /proc, /sys or /dev (" + hostPath(name) + ")");
            return {};
        }
        if (!pending.empty()) {
            if (!S_ISDIR(st.st_mode)) {
                Fail(problem, path, ErrnoText(ENOTDIR));
                return {};
            }
            dirs.push_back(std::make_shared<const UniqueFd>(std::move(fd)));
            names.push_back(name);
            // `names` spells the folder's real place below the container
            // (links already replaced by their targets, ".." taken).
            container->cache->Remember(key(), dirs.back());
            continue;
        }
        return Finish(std::move(fd), st, parent, name, how, path, problem);
    }
    // The path names a folder the walk stands in (the container, or one
    // reached by "..").
    if (UnderPseudoFileSystem(hostPath({}))) {
        Refuse(problem, path + " lies under /proc, /sys or /dev");
        return {};
    }
    struct stat st {};
    if (::fstat(dirs.back()->Get(), &st) != 0) {
        Fail(problem, path, ErrnoText(errno));
        return {};
    }
    UniqueFd here(::dup(dirs.back()->Get()));
    return Finish(std::move(here), st, -1, {}, how, path, problem);
}

bool RemoveContained(const std::string& path, std::string* problem)
{
    // The file as the walk finds it, then its folder by the same walk; the
    // name is removed there only while it is still what the walk found.
    UniqueFd file = OpenContained(path, OpenAs::Inspect, problem);
    if (!file)
        return false;
    struct stat found {};
    if (::fstat(file.Get(), &found) != 0) {
        Fail(problem, path, ErrnoText(errno));
        return false;
    }
    if (S_ISDIR(found.st_mode)) {
        Fail(problem, path, "a folder");
        return false;
    }
    // The name as it is spelled on disk (Windows names ignore case); the
    // walk below checks that spelling again.
    const std::string absolute = Absolute(ResolvePath(path));
    const size_t slash = absolute.rfind('/');
    const std::string name = absolute.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        Fail(problem, path, "not a file name");
        return false;
    }
    const std::string parent = slash == 0 ? std::string("/") : absolute.substr(0, slash);
    UniqueFd folder = OpenContained(parent, OpenAs::Directory, problem);
    if (!folder)
        return false;
    struct stat named {};
    if (::fstatat(folder.Get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
        Fail(problem, path, ErrnoText(errno));
        return false;
    }
    if (!S_ISLNK(named.st_mode) && (named.st_dev != found.st_dev || named.st_ino != found.st_ino)) {
        Fail(problem, path, "changed while it was removed");
        return false;
    }
    if (::unlinkat(folder.Get(), name.c_str(), 0) != 0) {
        Fail(problem, path, ErrnoText(errno));
        return false;
    }
    return true;
}

} // namespace oriel::platform
