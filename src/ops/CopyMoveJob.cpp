#include "ops/CopyMoveJob.h"

#include "model/Cache.h"
#include "model/CacheItem.h"
#include "ops/DestName.h"
#include "ops/ItemBody.h"
#include "platform/ContainedPath.h"
#include "platform/FileSystem.h"
#include "platform/ShellFileOperation.h"

#include <QCryptographicHash>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oriel {

namespace {

namespace fs = std::filesystem;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    int release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    bool ok() const { return fd_ >= 0; }
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

std::string Why(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

struct Digest {
    int64_t size = 0;
    std::string sha256;
    std::string md5;
};

// Copies `in` to `out`, hashing what passes; false on a read or write error.
bool CopyAndHash(int in, int out, Digest& digest)
{
    QCryptographicHash sha(QCryptographicHash::Sha256);
    QCryptographicHash md5(QCryptographicHash::Md5);
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        sha.addData(QByteArrayView(buffer, n));
        md5.addData(QByteArrayView(buffer, n));
        digest.size += n;
        for (ssize_t done = 0; out >= 0 && done < n;) {
            ssize_t w = ::write(out, buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            done += w;
        }
    }
    digest.sha256 = sha.result().toHex().toStdString();
    digest.md5 = md5.result().toHex().toStdString();
    return true;
}

std::vector<std::string> Split(const std::string& relative)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos)
            end = relative.size();
        if (end > start)
            parts.push_back(relative.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

} // namespace

CopyMoveJob::CopyMoveJob(std::vector<CopyRequest> requests, std::string destFolder, bool move, Progress* progress)
    : FileJob(progress)
    , requests_(std::move(requests))
    , destFolder_(std::move(destFolder))
    , move_(move)
{
    while (destFolder_.size() > 1 && destFolder_.back() == '/')
        destFolder_.pop_back();
}

CopyMoveJob::~CopyMoveJob()
{
    StopAndWait();
}

int CopyMoveJob::DoRun()
{
    ProgressSetRange(int(requests_.size()));
    std::error_code ec;
    fs::create_directories(destFolder_, ec);
    bool allDone = true;
    for (const CopyRequest& request : requests_) {
        if (!request.item)
            continue;
        const char* url = request.item->GetURL();
        std::string name = url ? url : (request.item->GetCacheName() ? request.item->GetCacheName() : "");
        if (StopRequested() || cancelled_) {
            Record(name, FileOutcome::Skipped, cancelled_ ? "cancelled" : "stopped");
            allDone = false;
            continue;
        }
        if (!CopyOne(request))
            allDone = false;
        ProgressStep();
    }
    return allDone ? 0 : -1;
}

bool CopyMoveJob::CopyOne(const CopyRequest& request)
{
    CCacheItem& item = *request.item;
    const std::string name = item.GetURL() ? item.GetURL() : (item.GetCacheName() ? item.GetCacheName() : "");
    if (!item.Exists()) {
        Record(name, FileOutcome::Skipped, "the item's body is not in the cache");
        return false;
    }

    // The bytes to write: a plain body read in place (inside its container,
    // so a link that leads out of the examined tree is never copied), an
    // encoded one decoded and an embedded one extracted into a scratch
    // folder of our own.
    std::string why;
    std::unique_ptr<ItemBody> body = ItemBody::Open(item, &why);
    if (!body) {
        Record(name, FileOutcome::Failed, why);
        return false;
    }
    const bool decoded = body->Decoded();

    // Down the destination's folders, never through a symbolic link.
    std::vector<std::string> parts = Split(SafeRelativePath(request.destName, "index.htm"));
    Fd dir(::open(destFolder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.ok()) {
        Record(name, FileOutcome::Failed, Why("cannot open the destination folder " + destFolder_));
        return false;
    }
    std::string destPath = destFolder_;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (::mkdirat(dir.get(), parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
            Record(name, FileOutcome::Failed, Why("cannot create the folder " + destPath + "/" + parts[i]));
            return false;
        }
        Fd next(::openat(dir.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.ok()) {
            Record(name, FileOutcome::Refused,
                   Why(destPath + "/" + parts[i] + " is not a folder (a symbolic link or a file)"));
            return false;
        }
        dir = std::move(next);
        destPath += "/" + parts[i];
    }

    // The file itself: created exclusively; a taken name is numbered, or
    // replaced by a rename when the user says so.
    std::string fileName = parts.back();
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    Fd out(::openat(dir.get(), fileName.c_str(), flags, 0666));
    std::string replaceName; // the entry a fresh file is renamed over
    if (!out.ok() && errno == EEXIST) {
        if (question_) {
            OverwriteAnswer answer = overwriteAll_ ? OverwriteAnswer::Yes : question_(destPath + "/" + fileName);
            if (answer == OverwriteAnswer::YesToAll)
                overwriteAll_ = true;
            if (answer == OverwriteAnswer::Cancel) {
                cancelled_ = true;
                Record(name, FileOutcome::Skipped, "cancelled");
                return false;
            }
            if (answer == OverwriteAnswer::No) {
                Record(name, FileOutcome::Skipped, "the destination exists");
                return false;
            }
            replaceName = fileName;
            for (int n = 0; !out.ok() && n < 1000; ++n) {
                std::string temp = ".oriel-" + std::to_string(::getpid()) + "-" + std::to_string(n) + ".part";
                out = Fd(::openat(dir.get(), temp.c_str(), flags, 0666));
                if (out.ok())
                    fileName = temp;
                else if (errno != EEXIST)
                    break;
            }
        } else {
            const std::string base = fileName;
            for (int n = 2; !out.ok() && errno == EEXIST && n < 100000; ++n) {
                fileName = NumberedName(base, n);
                out = Fd(::openat(dir.get(), fileName.c_str(), flags, 0666));
            }
        }
    }
    if (!out.ok()) {
        Record(name, FileOutcome::Failed, Why("cannot create " + destPath + "/" + fileName));
        return false;
    }
    Digest digest;
    bool copied = CopyAndHash(body->Fd(), out.get(), digest);
    int closeStatus = ::close(out.release());
    if (!copied || closeStatus != 0) {
        Record(name, FileOutcome::Failed, Why("cannot write " + destPath + "/" + fileName));
        ::unlinkat(dir.get(), fileName.c_str(), 0);
        return false;
    }
    if (!replaceName.empty()) {
        if (::renameat(dir.get(), fileName.c_str(), dir.get(), replaceName.c_str()) != 0) {
            Record(name, FileOutcome::Failed, Why("cannot replace " + destPath + "/" + replaceName));
            ::unlinkat(dir.get(), fileName.c_str(), 0);
            return false;
        }
        fileName = replaceName;
    }
    destPath += "/" + fileName;

    CopiedFile copy;
    copy.item = &item;
    copy.url = item.GetURL() ? item.GetURL() : "";
    copy.destination = destPath;
    copy.cacheName = item.GetCacheName() ? item.GetCacheName() : "";
    copy.size = digest.size;
    copy.sha256 = digest.sha256;
    copy.md5 = digest.md5;
    copy.decoded = decoded;
    copy.cut = item.IsBodyCut();

    if (!move_) {
        copies_.push_back(copy);
        Record(name, FileOutcome::Done);
        return true;
    }

    // A move removes the body only once the copy reads back the same.
    Fd back(::openat(dir.get(), fileName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    Digest check;
    if (!back.ok() || !CopyAndHash(back.get(), -1, check) || check.size != digest.size ||
        check.sha256 != digest.sha256) {
        copies_.push_back(copy);
        ++notMoved_;
        Record(name, FileOutcome::Failed, "copied, but the copy does not read back the same; the body is kept");
        return false;
    }
    if (body->StoredPath().empty() || !item.GetOwner()) {
        copies_.push_back(copy);
        ++notMoved_;
        Record(name, FileOutcome::Refused, "copied; the body lies inside a file the cache shares, so it stays");
        return false;
    }
    ShellFileOperation remove;
    remove.SetDeleteScope(item.GetOwner()->GetFolder());
    remove.AppendPath(ShellFileOperation::List::Source, body->StoredPath());
    std::error_code ec;
    if (remove.RunDelete() != 0 || fs::exists(fs::symlink_status(body->StoredPath(), ec))) {
        copies_.push_back(copy);
        ++notMoved_;
        Record(name, FileOutcome::Failed, "copied, but the body could not be removed from the cache");
        return false;
    }
    copy.removed = true;
    copies_.push_back(copy);
    item.Exists(); // settles the item as missing
    Record(name, FileOutcome::Done);
    return true;
}

} // namespace oriel
