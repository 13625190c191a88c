#include "support/FolderSnapshot.h"

#include "support/TestEnvironment.h"

#include <sys/stat.h>

namespace oriel::test {

namespace fs = std::filesystem;

FolderSnapshot SnapshotFolder(const std::string& folder)
{
    FolderSnapshot snapshot;
    auto add = [&snapshot, &folder](const fs::path& path) {
        FolderEntry entry;
        fs::file_status status = fs::symlink_status(path);
        entry.isFolder = fs::is_directory(status);
        if (fs::is_regular_file(status))
            entry.bytes = ReadWholeFile(path.string());
        if (!fs::is_symlink(status))
            entry.modified = fs::last_write_time(path);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            entry.changedSeconds = int64_t(st.st_ctim.tv_sec);
            entry.changedNanoseconds = int64_t(st.st_ctim.tv_nsec);
        }
        snapshot[fs::relative(path, folder).lexically_normal().string()] = std::move(entry);
    };
    add(folder);
    for (const auto& item : fs::recursive_directory_iterator(folder))
        add(item.path());
    return snapshot;
}

} // namespace oriel::test
