// Everything under a folder that a test can compare before and after an
// operation: each entry's relative path, kind, bytes, modification time and
// status change time (which a new link, a chmod or a rename changes).
// Folders are entries too, so that a file created and removed again still
// shows in the folder's time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace oriel::test {

struct FolderEntry {
    bool isFolder = false;
    std::string bytes; // files only
    std::filesystem::file_time_type modified;
    int64_t changedSeconds = 0; // st_ctim
    int64_t changedNanoseconds = 0;

    bool operator==(const FolderEntry&) const = default;
};

using FolderSnapshot = std::map<std::string, FolderEntry>;

// The folder itself is the entry "."; symbolic links are not followed.
FolderSnapshot SnapshotFolder(const std::string& folder);

} // namespace oriel::test
