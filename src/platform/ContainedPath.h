// Examined files stay inside their container. A mounted image can hold
// symbolic links that point anywhere on the host (an absolute link names the
// host's root, not the image's), so every examined file is opened by a walk
// from its container's folder, one component at a time and never through a
// link the walk has not checked: a relative link whose target stays inside
// the container is followed; an absolute link, one that leaves the
// container, and anything under /proc, /sys or /dev count as missing.
//
// The containers are the examined system's root and drive folders and each
// cache folder while its cache is open; a path is walked from the outermost
// container that holds it (by its spelling). A path outside every container
// (an options file, a working copy, a folder the examiner names as a
// destination) is opened as the host resolves it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace oriel::platform {

// An owned file descriptor; -1 when none.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : fd_(fd)
    {
    }
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept
        : fd_(other.Release())
    {
    }
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// A folder is a container while a registration of it lives.
class ContainerRegistration {
public:
    explicit ContainerRegistration(const std::string& folder);
    ~ContainerRegistration();
    ContainerRegistration(const ContainerRegistration&) = delete;
    ContainerRegistration& operator=(const ContainerRegistration&) = delete;

private:
    unsigned long id_ = 0;
};

// Null for an empty folder name.
std::shared_ptr<ContainerRegistration> RegisterContainer(const std::string& folder);

// The outermost container that holds `path` (as spelled), or none.
std::optional<std::string> ContainerOf(const std::string& path);

enum class OpenAs {
    Read,      // a plain file, for reading (FIFOs and devices are never opened)
    Directory, // a folder, for listing
    Inspect,   // whatever is there, for fstat only (O_PATH)
    ReadWrite  // a plain file, for reading and writing in place (never created)
};

// Opens `path`: inside its container by the walk above, elsewhere as the
// host resolves it. Names missing as spelled are looked up without regard
// to case. An invalid descriptor when there is nothing usable; `problem`
// then says why (a refused link, a missing file, a FIFO).
UniqueFd OpenContained(const std::string& path, OpenAs how, std::string* problem = nullptr);

// Removes the file `path` names, found by the same walk: nothing is removed
// when the walk refuses the path (a link on the way or the name itself
// leads out) or when the name is a folder. A name that is a link whose
// target the walk allows is removed itself, never its target. False, with
// `problem` saying why, when nothing was removed.
bool RemoveContained(const std::string& path, std::string* problem = nullptr);

enum class QuickLookup {
    Outside, // `path` lies in no container
    Found,   // `st` is filled
    Walk     // only OpenContained can tell (a link, a missing name, a folder not yet walked)
};

// The cheap existence check: one call when `path` is spelled exactly as it
// exists, with no link in it, in a folder of its container that an earlier
// OpenContained has walked. Found means what OpenContained(path, Inspect)
// and fstat would give.
QuickLookup QuickStatContained(const std::string& path, struct stat& st);

// True when a problem text from OpenContained is a refused link rather
// than a plain absence.
bool IsContainmentProblem(std::string_view problem);

// Every refused link is also told here (the faces send it to the trace
// log); null stops it.
void SetContainmentTrace(std::function<void(std::string_view)> trace);

} // namespace oriel::platform
