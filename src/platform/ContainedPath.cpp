#include "platform/ContainedPath.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

struct Container {
    unsigned long id;
    std::string lexical; // absolute, as spelled, without a trailing separator ("/" for the root)
    std::string real;    // the same folder with its links resolved
};

struct Registry {
    std::mutex mutex;
    std::vector<Container> containers;
    unsigned long nextId = 1;
    std::function<void(std::string_view)> trace;
};

Registry& Containers()
{
    static Registry registry;
    return registry;
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
    int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW;
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
    else
        flags |= O_RDONLY | O_NONBLOCK; // a FIFO must not block the open; it is refused below
    UniqueFd fd(::open(resolved.c_str(), flags));
    if (!fd) {
        Fail(problem, path, ErrnoText(errno));
        return {};
    }
    if (how == OpenAs::Read) {
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
    Containers().containers.push_back(std::move(c));
}

ContainerRegistration::~ContainerRegistration()
{
    std::lock_guard lock(Containers().mutex);
    auto& list = Containers().containers;
    list.erase(std::remove_if(list.begin(), list.end(), [this](const Container& c) { return c.id == id_; }),
               list.end());
}

std::shared_ptr<ContainerRegistration> RegisterContainer(const std::string& folder)
{
    if (folder.empty())
        return nullptr;
    return std::make_shared<ContainerRegistration>(folder);
}

namespace {

std::optional<Container> Outermost(const std::string& absolute)
{
    std::lock_guard lock(Containers().mutex);
    const Container* best = nullptr;
    for (const Container& c : Containers().containers) {
        if (Holds(c.lexical, absolute) && (!best || c.lexical.size() < best->lexical.size()))
            best = &c;
    }
    if (!best)
        return std::nullopt;
    return *best;
}

} // namespace

std::optional<std::string> ContainerOf(const std::string& path)
{
    auto c = Outermost(Absolute(path));
    if (!c)
        return std::nullopt;
    return c->lexical;
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
    const std::optional<Container> container = Outermost(absolute);
    if (!container)
        return OpenOutside(path, how, problem);

    // The container itself was named by the examiner: its own links are
    // followed as the host resolves them.
    UniqueFd root(::open(container->lexical.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root) {
        Fail(problem, path, ErrnoText(errno));
        return {};
    }
    const std::vector<std::string> initial =
        Split(std::string_view(absolute).substr(container->lexical == "/" ? 0 : container->lexical.size()));
    std::deque<std::string> pending(initial.begin(), initial.end());

    // The folders walked so far (the container first) and their names below it.
    std::vector<UniqueFd> dirs;
    std::vector<std::string> names;
    dirs.push_back(std::move(root));
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
        const int parent = dirs.back().Get();
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
            dirs.push_back(std::move(fd));
            names.push_back(name);
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
    if (::fstat(dirs.back().Get(), &st) != 0) {
        Fail(problem, path, ErrnoText(errno));
        return {};
    }
    UniqueFd here(::dup(dirs.back().Get()));
    return Finish(std::move(here), st, -1, {}, how, path, problem);
}

} // namespace oriel::platform
