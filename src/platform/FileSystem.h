// Our stand-ins for the Windows file calls the cache code relies on
// (GetFileAttributesExA, CopyFileA, DeleteFileA, _makepath, GetTempPathA).
//
// Windows file systems ignore case and real caches rely on it: an index may
// spell a body "067383acd01" while the file on disk is "067383ACd01". Every
// file lookup therefore goes through ResolvePath, which keeps a path that
// exists as spelled and otherwise looks each missing component up without
// regard to case.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oriel::platform {

struct FileAttributes {
    bool isDirectory = false;
    // A plain file: not a folder, FIFO, socket or device. Only such files
    // are read as indexes or bodies (a FIFO would block the reader).
    bool isRegular = false;
    uint64_t size = 0;
};

// Turns a name built the Windows way ("Content.IE5\ABCD1234\a[1].gif") into
// host separators.
std::string ToHostSeparators(std::string_view windowsName);

// The existing host path that `path` names when case is ignored, or `path`
// itself when nothing matches.
std::string ResolvePath(const std::string& path);

// One entry of a folder listing.
struct FolderEntry {
    std::string name;
    bool isLink = false;
    bool isDirectory = false; // as listed: a link is neither
    bool isRegular = false;
};

// The entries of a folder listing, sorted by name.
using FolderEntries = std::vector<FolderEntry>;

// Folder listings keyed by folded name, so that looking up many names of
// one folder without regard to case lists that folder once. ResolvePath
// keeps one for the process, revalidated by each folder's modification
// time; a decoder that walks one cache folder keeps its own for the walk.
class FolderIndex {
public:
    enum class Revalidate {
        Never,       // a folder is listed once for the index's life
        OnEachLookup // listed again when its modification time changed
    };
    // Past `maxFolders` listings the index starts afresh.
    explicit FolderIndex(Revalidate revalidate = Revalidate::Never, size_t maxFolders = SIZE_MAX);
    ~FolderIndex();
    FolderIndex(const FolderIndex&) = delete;
    FolderIndex& operator=(const FolderIndex&) = delete;

    // The name in `dir` that matches `name` without regard to case, as
    // spelled on disk (the first spelling listed when a case-sensitive
    // folder holds two); empty when there is none.
    std::optional<std::string> Find(const std::string& dir, std::string_view name);
    // The same for a relative name of '/'-separated components below
    // `folder`, each component looked up in turn: the relative name as
    // spelled on disk, or empty when a component is not there.
    std::optional<std::string> FindRelative(const std::string& folder, std::string_view relative);
    // The entries of `dir` as ListFolder gives them (the folder opened as
    // every examined file is), taken from this index's listing when that
    // listing is of the very folder the contained open finds, so that a
    // walk over folders already looked up in does not list them again;
    // listed now otherwise. Null when the folder cannot be opened.
    std::shared_ptr<const FolderEntries> ListContained(const std::string& dir);

private:
    struct State;
    Revalidate revalidate_;
    size_t maxFolders_;
    std::unique_ptr<State> state_;
};

// Stat of the (case-resolved) path; empty when it does not exist. Inside a
// container (platform/ContainedPath.h) a link that leads out counts as
// missing.
std::optional<FileAttributes> GetFileAttributes(const std::string& path);
// The same, and the path as found on disk (as ResolvePath gives it), with
// one stat when the path exists as spelled outside every container; and
// why there is nothing when `problem` is given.
std::optional<FileAttributes> GetFileAttributes(const std::string& path, std::string& resolvedPath,
                                                std::string* problem = nullptr);

// Opens `in` (binary) on `path` only when the path names a plain file; true
// when it is open. A FIFO or device of that name is never opened: it would
// block the reader, or never end.
bool OpenPlainFile(std::ifstream& in, const std::string& path);
bool FileExists(const std::string& path);

// Copies a regular file to the new file `to`: written under a temporary
// name beside it and renamed when complete, never over an existing file or
// through a link (false then).
bool CopyFile(const std::string& from, const std::string& to);

// Creates the new file `path` for writing (O_CREAT | O_EXCL | O_NOFOLLOW:
// never an existing file, never through a link); -1 when it cannot.
int CreateNewFile(const std::string& path, int mode = 0600);

// Gives the complete file `temporary` its final name, which must not exist
// (a hard link, then the temporary name goes); false when it cannot.
bool CommitNewFile(const std::string& temporary, const std::string& finalPath);

// A file written under a temporary name in the folder of its final name
// and given that name by Commit when complete, so that a reader never sees
// a partial copy. An uncommitted file is removed when the writer goes.
class NewFileWriter {
public:
    explicit NewFileWriter(std::string finalPath);
    ~NewFileWriter();
    NewFileWriter(const NewFileWriter&) = delete;
    NewFileWriter& operator=(const NewFileWriter&) = delete;

    // The temporary file, -1 when it could not be made.
    int Fd() const { return fd_; }
    const std::string& TemporaryPath() const { return temporary_; }
    // Closes the file and renames it to the final name, which must not exist.
    bool Commit();

private:
    std::string final_;
    std::string temporary_;
    int fd_ = -1;
};
// Deletes one regular file (never a folder).
bool DeleteFile(const std::string& path);
// Deletes exactly this path, without looking it up regardless of case: for
// working copies we made, so that a vanished copy never takes a similarly
// named examined file with it.
bool DeleteExactFile(const std::string& path);
// True when the folder exists and nothing in it can be removed: a
// read-only mount, or no write permission (IsDirectoryWritable's check,
// which tests replace).
bool FolderReadOnly(const std::string& path);

// Joins a folder and a file name (whose backslashes become host separators),
// adding a separator only where the folder lacks one; `ext` is appended
// as given ("" for none, ".gif" or "gif").
std::string MakePath(const std::string& dir, std::string_view fileName, std::string_view ext = {});
// The same path (no `ext`) made in `out`, whose room is reused: for checks
// that spell a path per item.
void MakePathIn(std::string& out, std::string_view dir, std::string_view fileName);

// True when `name` is a relative name that stays inside its folder: not
// absolute, no drive letter, no ".." component.
bool IsContainedRelativeName(std::string_view name);

// The host's temp folder, with a trailing separator.
std::string GetTempPath();

// A folder private to this process under the temp folder, created on first
// use and removed when the process ends (and, after a kill, by the next run:
// see RemoveStalePrivateFolders). Every working copy goes here.
std::string PrivateTempFolder();
// Removes the private folder now (a signal ends the process); safe to call
// from a signal handler once PrivateTempFolder has run.
void RemovePrivateTempFolderNow();
// Removes the private folders of earlier runs whose process is gone; the
// number removed.
int RemoveStalePrivateFolders();

bool IsDirectoryWritable(const std::string& dir);
// Replaces the writability check (tests stand in a read-only mount with it,
// which root cannot make with permissions alone); null restores it.
void SetWritableCheckForTesting(std::function<bool(const std::string&)> check);

// Where a working copy named `fileName` goes: a new sub-folder of the
// process's private temp folder, never the examined tree. Empty when there
// is no private folder.
std::string WorkingCopyPath(const std::string& fileName);

// Reads a whole regular file, at most maxBytes; empty optional when it
// cannot be read or is not a regular file (a FIFO, a device, a folder), or
// is a link that leads out of its container; `problem` then says why.
std::optional<std::string> ReadFile(const std::string& path, uint64_t maxBytes = UINT64_MAX,
                                    std::string* problem = nullptr);

// The entries of a folder (opened as every examined file is), sorted by
// name; empty optional when it cannot be listed.
std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path, std::string* problem = nullptr);

// Splits "dir/name.ext" helpers on host paths.
std::string FileNameOf(std::string_view path);
std::string DirectoryOf(std::string_view path);

} // namespace oriel::platform
