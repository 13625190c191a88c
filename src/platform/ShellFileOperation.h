// One batch file operation over lists of host paths, after the shell's
// SHFileOperation: a source list and a destination list, each kept as
// NUL-terminated paths followed by one more NUL, the operation flags, and a
// run. The delete run is here; the copy and move runs come with the
// copy/move dialog.
//
// A delete run removes only what lies inside the folders it is given (the
// cache folder, and the process's private folder of working copies):
//  - a path whose name leaves the folder ("..") is refused;
//  - every folder on the way down is opened without following a symbolic
//    link, so a link inside the cache never leads the run outside it; a link
//    that is itself listed is removed, never its target;
//  - the pattern "FOLDER/*.*" (every file and sub-folder) is refused when
//    FOLDER is empty, the file-system root, a mount point, or a home
//    folder or one that holds a home folder; the walk does not cross into
//    another file system;
//  - an explicitly listed path that is a folder is refused (items are files).
// Refusals and failures are written to the trace log; no prompt is shown.
#pragma once

#include "platform/LogSink.h"
#include "platform/OwnerWindow.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace oriel {

// Operation flags, with the shell's values.
constexpr uint16_t FOF_MULTIDESTFILES = 0x0001;
constexpr uint16_t FOF_NOCONFIRMATION = 0x0010;
constexpr uint16_t FOF_FILESONLY = 0x0080;
constexpr uint16_t FOF_NOCONFIRMMKDIR = 0x0200;
constexpr uint16_t FOF_NOERRORUI = 0x0400;

// Operation codes, with the shell's values.
constexpr uint32_t FO_MOVE = 1;
constexpr uint32_t FO_COPY = 2;
constexpr uint32_t FO_DELETE = 3;

class ShellFileOperation {
public:
    enum class List { Source, Destination };

    ShellFileOperation() = default;

    void SetOwnerWindow(OwnerWindow owner) { owner_ = owner; }
    // Where refusals and failures are written; none by default.
    void SetLog(platform::LogSink* log) { log_ = log; }
    void SetFlags(uint16_t flags) { flags_ = flags; }
    uint16_t GetFlags() const { return flags_; }
    // The folder inside which the delete run may remove files; further
    // folders may be added (the private folder of working copies).
    void SetDeleteScope(const std::string& folder);
    void AddDeleteScope(const std::string& folder);

    // Reserves room for `bytes` bytes of paths in a list.
    void Reserve(List list, size_t bytes);
    void AppendPath(List list, std::string_view path);
    // The paths of a list, in order.
    std::vector<std::string> Paths(List list) const;
    // The list as the shell takes it: each path and its NUL, then one more NUL.
    const std::string& Buffer(List list) const { return list == List::Source ? source_ : destination_; }

    // Deletes every source path (or every entry matched by a "*.*"
    // pattern), within the delete scope, without prompts. Returns 0 when
    // the source list is empty or everything listed is gone; non-zero when
    // a path was refused or could not be deleted.
    int RunDelete();
    // int RunCopy(); int RunMove(); -- with the copy/move dialog.

    uint32_t GetFunction() const { return function_; }
    bool AnyOperationsAborted() const { return aborted_; }
    int DeletedCount() const { return deleted_; }
    int RefusedCount() const { return refused_; }
    int FailedCount() const { return failed_; }

    // Why a whole folder must never be emptied (empty path, file-system
    // root, mount point, a home folder or one holding a home folder), or
    // empty when it may be.
    static std::string ProtectedFolderReason(const std::string& folder);

private:
    struct Scope {
        std::string lexical;   // absolute, normalised, no trailing separator
        std::string canonical; // symbolic links resolved
        std::string protectedReason; // why nothing in it may be deleted, or empty
    };
    const Scope* FindScope(const std::string& lexicalPath, std::string& relative) const;
    void DeleteOne(const std::string& path);
    void DeleteMatching(const Scope& scope, const std::string& relativeFolder, bool filesOnly);
    void Refuse(const std::string& path, const std::string& why);
    void Trace(std::string_view text) const { platform::WriteLog(log_, text); }
    void TraceDeleted(const std::string& path) const;

    OwnerWindow owner_ = nullptr;
    platform::LogSink* log_ = nullptr;
    uint16_t flags_ = 0;
    uint32_t function_ = 0;
    std::string source_;
    std::string destination_;
    std::vector<Scope> scopes_;
    bool aborted_ = false;
    int deleted_ = 0;
    int refused_ = 0;
    int failed_ = 0;
};

} // namespace oriel
