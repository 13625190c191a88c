#include "formats/EmbeddedBodyItem.h"

#include "app/StringTable.h"
#include "filters/BrotliDecoder.h"
#include "filters/ContentDecoders.h"
#include "model/Cache.h"
#include "model/MimeTypes.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <unistd.h>

namespace fs = std::filesystem;

namespace oriel {

namespace {

std::string UrlPathExtension(std::string_view path)
{
    if (size_t q = path.find_first_of("?#"); q != std::string_view::npos)
        path = path.substr(0, q);
    size_t slash = path.find_last_of("/\\");
    std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = base.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(base.substr(dot));
}

// Our own copies are removed by their exact name: a lookup without regard
// to case could find an examined file of a similar name.
bool RemoveExact(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

// Creates the file (never through a symbolic link) and writes every byte
// of `source` into it, a window at a time. A file this made but could not
// fill is removed again; what could not be opened (a link, say) is left
// alone.
bool CopyToNewFile(const std::string& path, const platform::ByteSource& source)
{
    int fd = platform::CreateNewFile(path);
    if (fd < 0)
        return false;
    constexpr size_t kChunk = size_t(1) << 20;
    bool ok = true;
    for (uint64_t at = 0; ok && at < source.Size();) {
        const ByteReader chunk = source.Read(at, size_t(std::min<uint64_t>(source.Size() - at, kChunk)));
        if (chunk.size() == 0)
            break; // the file shrank: what was there is kept
        std::string_view bytes = *chunk.bytes(0, chunk.size());
        at += bytes.size();
        while (ok && !bytes.empty()) {
            ssize_t n = ::write(fd, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            if (ok)
                bytes.remove_prefix(size_t(n));
        }
    }
    ::close(fd);
    if (!ok)
        RemoveExact(path);
    return ok;
}

bool IsRegularFile(const std::string& path)
{
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(path, ec));
}

uint64_t SizeOf(const std::string& path)
{
    std::error_code ec;
    uint64_t size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

} // namespace

CEmbeddedBodyItem::~CEmbeddedBodyItem()
{
    RemoveExtractedCopy();
    if (copy_ && !copy_->privateFolder.empty()) {
        std::error_code ec;
        fs::remove(copy_->privateFolder, ec);
    }
}

void CEmbeddedBodyItem::RemoveExtractedCopy()
{
    if (!copy_)
        return;
    if (copy_->extracted && copy_->path)
        RemoveExact(*copy_->path);
    copy_->extracted = false;
}

int32_t CEmbeddedBodyItem::GetDisplayCacheNameLength()
{
    const char* name = GetDisplayCacheName();
    return name ? int32_t(std::strlen(name)) : 0;
}

const char* CEmbeddedBodyItem::GetFilePath()
{
    return copy_ && copy_->path ? copy_->path->c_str() : nullptr;
}

int32_t CEmbeddedBodyItem::GetFilePathLength()
{
    return copy_ && copy_->path ? int32_t(copy_->path->size()) : 0;
}

const std::string& CEmbeddedBodyItem::ContainerFilePath()
{
    if (!containerFilePath_) {
        containerFilePath_ = std::make_unique<std::string>();
        const std::string name = ContainerFileName();
        if (owner_ && !name.empty())
            *containerFilePath_ = platform::ResolvePath(platform::MakePath(owner_->GetFolder(), name));
    }
    return *containerFilePath_;
}

bool CEmbeddedBodyItem::Exists()
{
    if (!exists_)
        return false;
    const std::string& container = ContainerFilePath();
    auto attributes = container.empty() ? std::nullopt : platform::GetFileAttributes(container);
    exists_ = attributes && attributes->isRegular;
    return exists_;
}

void CEmbeddedBodyItem::BuildExtractedPath()
{
    if (!owner_ || !cacheName_ || !platform::IsContainedRelativeName(*cacheName_))
        return;
    std::string ext;
    if (contentType_) {
        std::string registered;
        if (ExtensionForType(*Registry(), *contentType_, registered) > 0)
            ext = SafeExtension(registered);
    }
    if (ext.empty() && urlPath_)
        ext = SafeExtension(UrlPathExtension(*urlPath_));
    // A cache name with folders ("entries/0A1B...") gives the copy its last
    // part: the private folder has no sub-folders.
    const std::string name = platform::FileNameOf(*cacheName_) + ext;

    // Never beside the container: the examined tree is not written to.
    std::string path = platform::WorkingCopyPath(name);
    if (path.empty())
        return;
    if (!copy_)
        copy_ = std::make_unique<WorkingCopy>();
    copy_->privateFolder = platform::DirectoryOf(path);
    copy_->path = std::move(path);
}

bool CEmbeddedBodyItem::ExtractFile()
{
    if (!copy_ || !copy_->path) {
        Trace("Entry - " + std::string(TraceName()) + "::ExtractFile()");
        Trace("Exit - " + std::string(TraceName()) + "::ExtractFile()");
        return false;
    }
    // Written under a temporary name and renamed when whole: a viewer never
    // sees half a body.
    const std::string target = *copy_->path;
    const std::string partial = target + ".part";
    if (!ExtractBodyTo(partial))
        return false;
    if (!platform::CommitNewFile(partial, target)) {
        RemoveExact(partial);
        return false;
    }
    return true;
}

bool CEmbeddedBodyItem::ExtractBodyTo(const std::string& target)
{
    const std::string className = TraceName();
    Trace("Entry - " + className + "::ExtractFile()");
    const std::string& container = ContainerFilePath();
    if (container.empty()) {
        Trace("Exit - " + className + "::ExtractFile()");
        return false;
    }
    const std::optional<platform::FileRange> range = BodyRange();
    const std::unique_ptr<platform::ByteSource> source = range ? range->Open() : nullptr;
    if (!source) {
        Trace("Exit - " + className + "::ExtractFile() Source open had some errors.");
        return false;
    }
    // What the file holds of the range: a range that runs past its end
    // gives the bytes that are there. Encoded bodies are decoded from the
    // range a window at a time, never read whole.
    DecodeOutcome outcome;
    int result = 0;
    switch (contentEncoding_) {
    case kEncodingGzip:
        result = GunzipSource(*source, target, DecodedSizeCap(), Log(), &outcome);
        break;
    case kEncodingBrotli: {
        const ByteReader stored = source->Read(0, size_t(range->length));
        const std::string_view bytes = stored.size() ? *stored.bytes(0, stored.size()) : std::string_view("", 0);
        result = BrotliToFile(bytes.data(), bytes.size(), target, DecodedSizeCap(), Log());
        break;
    }
    case kEncodingCompress:
    case kEncodingDeflate:
        result = InflateSourceToFile(*source, target, true, DecodedSizeCap(), Log(), &outcome);
        break;
    default:
        // No encoding, or one that is not known: the bytes as stored.
        if (!CopyToNewFile(target, *source)) {
            Trace("Exit - " + className + "::ExtractFile() Target open had some errors.");
            return false;
        }
        break;
    }
    // Bytes that do not decode at all are given as stored, as a plain file
    // item is opened unchanged when its decoding fails.
    if (result != 0 && (!IsRegularFile(target) || SizeOf(target) == 0)) {
        Trace("     - not decodable, extracted as stored");
        // An empty file the decoder made is ours to replace.
        if (IsRegularFile(target) && SizeOf(target) == 0)
            RemoveExact(target);
        CopyToNewFile(target, *source);
        outcome.cut = false;
    }
    bodyCut_ = outcome.cut;
    if (bodyCut_)
        Trace("     " + className + "::ExtractFile - " + LoadString(IDS_BODY_CUT) + (url_ ? std::string(*url_) : container));
    Trace("Exit - " + className + "::ExtractFile()");
    return IsRegularFile(target);
}

std::optional<platform::FileRange> CEmbeddedBodyItem::BodyRange()
{
    const std::string& container = ContainerFilePath();
    const std::optional<StoredRange> range = StoredBytes();
    if (container.empty() || !range || range->offset < 0)
        return std::nullopt;
    return platform::FileRange{container, uint64_t(range->offset), uint64_t(range->length)};
}

bool CEmbeddedBodyItem::PrepareFile()
{
    const bool extracted = copy_ && copy_->extracted;
    if (extracted && copy_->path && IsRegularFile(*copy_->path))
        return true;
    if (!extracted)
        BuildExtractedPath();
    const bool made = ExtractFile();
    if (copy_)
        copy_->extracted = made;
    return made;
}

bool CEmbeddedBodyItem::DeleteCacheFile()
{
    if (!copy_)
        return true;
    if (copy_->extracted && copy_->path && !RemoveExact(*copy_->path) && IsRegularFile(*copy_->path))
        return false;
    copy_->extracted = false;
    copy_->path.reset();
    return true;
}

} // namespace oriel
