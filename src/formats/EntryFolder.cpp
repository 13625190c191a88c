#include "formats/EntryFolder.h"

#include "platform/ContainedPath.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace oriel {

std::vector<std::string> ListPlainFiles(const std::string& folder, bool followFolderLink)
{
    std::vector<std::string> names;
    // Opened by the contained walk: a folder link is followed only while it
    // stays inside the examined tree.
    const int fd = followFolderLink ? platform::OpenContained(folder, platform::OpenAs::Directory).Release()
                                    : ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return names;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN) {
            // A file system that does not give the type: asked of the file
            // itself, without following a link.
            struct stat st {};
            regular = ::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
        }
        if (regular)
            names.emplace_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

int OpenPlainFileAt(int folderFd, const std::string& name, struct stat& st)
{
    const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void ForEachInParallel(size_t count, const std::function<void(size_t)>& work)
{
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t threads = std::min<size_t>({cores, 4, count / 64 + 1});
    std::atomic<size_t> next{0};
    auto run = [&] {
        // Small runs of indexes a thread: few atomic steps, even shares.
        constexpr size_t kStep = 16;
        for (size_t start = next.fetch_add(kStep); start < count; start = next.fetch_add(kStep)) {
            for (size_t i = start; i < std::min(count, start + kStep); ++i)
                work(i);
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    for (size_t t = 1; t < threads; ++t)
        helpers.emplace_back(run);
    run();
    for (std::thread& helper : helpers)
        helper.join();
}

bool ReadRangeAt(int fd, uint64_t offset, size_t length, std::string& out)
{
    out.resize(length);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(fd, out.data() + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

} // namespace oriel
