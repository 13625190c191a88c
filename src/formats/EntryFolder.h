// Reading a folder of one file per entry (Firefox cache2's "entries/", a
// Chromium simple cache) fast: the folder is listed once through its own
// entries (no stat of each file by path) and each file is opened relative
// to the open folder, never through a link, and read by offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace oriel {

// The names of the plain files in `folder`, sorted; links, sub-folders and
// special files are left out. Empty when the folder cannot be listed, or
// (unless `followFolderLink`) when `folder` itself is a link.
std::vector<std::string> ListPlainFiles(const std::string& folder, bool followFolderLink = false);

// Opens `name` in the open folder `folderFd` for reading: a plain file
// only, never through a link. -1 when it is not one; `st` then undefined.
int OpenPlainFileAt(int folderFd, const std::string& name, struct stat& st);

// Runs `work(i)` for every i below `count` on a few threads (one per core,
// at most 4; one for a short run) and returns when all have run. `work`
// must be safe to run on several threads at once.
void ForEachInParallel(size_t count, const std::function<void(size_t)>& work);

// Reads [offset, offset + length) of an open file into `out`; false when it
// could not all be read.
bool ReadRangeAt(int fd, uint64_t offset, size_t length, std::string& out);

} // namespace oriel
