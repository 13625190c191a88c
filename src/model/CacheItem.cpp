#include "model/CacheItem.h"

#include "app/StringTable.h"
#include "filters/BrotliDecoder.h"
#include "filters/ContentDecoders.h"
#include "model/Cache.h"
#include "model/MimeTypes.h"
#include "model/TextForms.h"
#include "platform/ContainedPath.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace oriel {

namespace {

// As atol: leading blanks, a sign, then digits; stops at the first other character.
int32_t ParseDecimal(std::string_view s)
{
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    int64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > INT32_MAX)
            value = INT32_MAX;
    }
    return int32_t(negative ? -value : value);
}

// The extension of the last component of `name` (with its dot), or empty.
std::string ExtensionOf(std::string_view name)
{
    size_t slash = name.find_last_of("/\\");
    std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
    size_t dot = base.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == base.size())
        return {};
    return std::string(base.substr(dot));
}

// The header lines an item reads.
enum class ContentHeader { Other, Length, Type, Encoding };

// Which of them a line is: 11 bytes or more that begin "Content-Len",
// "Content-Typ" or "Content-Enc", the letters in any case.
ContentHeader ContentHeaderOf(std::string_view line)
{
    if (line.size() < 11)
        return ContentHeader::Other;
    // One compare of eight bytes, the letters folded to lower case; the
    // constants are laid out as the bytes are, whatever the byte order.
    constexpr uint64_t kContentDash = std::bit_cast<uint64_t>(std::array<char, 8>{'c', 'o', 'n', 't', 'e', 'n', 't', '-'});
    constexpr uint64_t kLetters = std::bit_cast<uint64_t>(std::array<unsigned char, 8>{32, 32, 32, 32, 32, 32, 32, 0});
    uint64_t head;
    std::memcpy(&head, line.data(), sizeof head);
    if ((head | kLetters) != kContentDash)
        return ContentHeader::Other;
    const std::string_view kind = line.substr(8, 3);
    if (platform::EqualsNoCase(kind, "len"))
        return ContentHeader::Length;
    if (platform::EqualsNoCase(kind, "typ"))
        return ContentHeader::Type;
    if (platform::EqualsNoCase(kind, "enc"))
        return ContentHeader::Encoding;
    return ContentHeader::Other;
}

} // namespace


CCacheItem::CCacheItem(CCache* owner, int32_t recordKey)
    : owner_(owner)
    , recordKey_(recordKey)
{
}

CCacheItem::CCacheItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath, OptText cacheName,
                       OptText contentType, int32_t size, int64_t lastModified, int64_t downloaded,
                       int64_t expires)
    : owner_(owner)
    , lastModified_(lastModified)
    , downloaded_(downloaded)
    , expires_(expires)
    , recordKey_(recordKey)
    , size_(uint32_t(size))
{
    CopyTexts(url, urlPath, cacheName, contentType, std::nullopt);
}

CCacheItem::CCacheItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath, OptText cacheName,
                       int32_t size, int64_t lastModified, int64_t downloaded, int64_t expires, OptText headers)
    : owner_(owner)
    , lastModified_(lastModified)
    , downloaded_(downloaded)
    , expires_(expires)
    , recordKey_(recordKey)
    , size_(uint32_t(size))
{
    CopyTexts(url, urlPath, cacheName, std::nullopt, KeepsHeaders() ? headers : std::nullopt);
    if (headers)
        ParseHeaders(*headers);
}

CCacheItem::~CCacheItem() = default;

ItemArena& CCacheItem::Arena()
{
    if (owner_)
        return owner_->GetItemArena();
    Extras& extra = Extra();
    if (!extra.arena)
        extra.arena = std::make_unique<ItemArena>();
    return *extra.arena;
}

ItemText CCacheItem::Copy(OptText t)
{
    if (!t)
        return {};
    return Arena().Copy(*t);
}

void CCacheItem::CopyTexts(OptText url, OptText urlPath, OptText cacheName, OptText contentType, OptText headers)
{
    // The URL path is most often the URL's tail: then it is a view of it.
    const bool pathInUrl = url && urlPath && ItemText::FitsView(urlPath->size()) && url->ends_with(*urlPath);
    // A content type is one of few that many items share.
    if (contentType)
        contentType_ = Arena().Common(*contentType);
    size_t total = 0;
    for (const OptText& t : {url, cacheName, headers})
        total += t ? ItemText::RoomFor(t->size()) : 0;
    if (urlPath && !pathInUrl)
        total += ItemText::RoomFor(urlPath->size());
    if (total == 0)
        return;
    char* at = Arena().Allocate(total);
    auto place = [&at](const OptText& t) -> ItemText {
        if (!t)
            return {};
        ItemText text = ItemText::Place(at, *t);
        at += ItemText::RoomFor(t->size());
        return text;
    };
    url_ = place(url);
    if (pathInUrl)
        urlPath_ = ItemText::View(url_.c_str() + (url->size() - urlPath->size()), urlPath->size());
    else
        urlPath_ = place(urlPath);
    cacheName_ = place(cacheName);
    headers_ = place(headers);
}

void CCacheItem::SetURLPath(std::string_view text)
{
    if (url_ && ItemText::FitsView(text.size()) && url_.View().ends_with(text))
        urlPath_ = ItemText::View(url_.c_str() + (url_.size() - text.size()), text.size());
    else
        urlPath_ = Copy(text);
}

const std::string& CCacheItem::GetBodyProblem() const
{
    static const std::string kNone;
    return extras_ ? extras_->bodyProblem : kNone;
}

void CCacheItem::SetBodyProblem(const std::string& problem)
{
    if (!problem.empty() || extras_)
        Extra().bodyProblem = problem;
}

CCacheItem::Extras& CCacheItem::Extra()
{
    if (!extras_)
        extras_ = std::make_unique<Extras>();
    return *extras_;
}

const std::string& CCacheItem::GetSizeText()
{
    DisplayTexts& texts = Texts();
    if (!texts.size)
        texts.size = FormatSize(size_);
    return *texts.size;
}

const std::string& CCacheItem::GetLastModifiedText()
{
    DisplayTexts& texts = Texts();
    if (!texts.lastModified) {
        if (const auto stored = StoredLastModifiedText())
            texts.lastModified = std::string(*stored);
        else
            texts.lastModified = FormatDate(lastModified_);
    }
    return *texts.lastModified;
}

std::optional<std::string_view> CCacheItem::HeldLastModifiedText() const
{
    if (const DisplayTexts* kept = KeptTexts(); kept && kept->lastModified)
        return *kept->lastModified;
    return StoredLastModifiedText();
}

void CCacheItem::AppendLastModifiedText(std::string& out) const
{
    if (const auto held = HeldLastModifiedText())
        out += *held;
    else
        AppendDate(out, lastModified_);
}

int64_t CCacheItem::GetLastModifiedSortTime()
{
    if (const auto stored = StoredLastModifiedText())
        return ParseHttpDate(*stored).value_or(0);
    return lastModified_;
}

const std::string& CCacheItem::GetDownloadedText()
{
    DisplayTexts& texts = Texts();
    if (!texts.downloaded)
        texts.downloaded = FormatDate(downloaded_);
    return *texts.downloaded;
}

const std::string& CCacheItem::GetExpiresText()
{
    DisplayTexts& texts = Texts();
    if (!texts.expires)
        texts.expires = FormatDate(expires_);
    return *texts.expires;
}

void CCacheItem::SetSize(int32_t size)
{
    size_ = uint32_t(size);
    ForgetSizeText();
}

void CCacheItem::SetDownloaded(int64_t time)
{
    downloaded_ = time;
    if (extras_)
        extras_->texts.downloaded.reset();
}

void CCacheItem::SetExpires(int64_t time)
{
    expires_ = time;
    if (extras_)
        extras_->texts.expires.reset();
}

void CCacheItem::SetLastModifiedText(OptText text)
{
    if (!text)
        return;
    new (&lastModifiedText_) ItemText(Copy(*text));
    lastModifiedIsText_ = true;
    if (extras_)
        extras_->texts.lastModified.reset();
}

void CCacheItem::SetSharedHeaders(std::shared_ptr<const std::string> headers)
{
    headers_.reset();
    headersShared_ = false;
    if (!headers)
        return;
    ParseHeaders(*headers);
    if (!KeepsHeaders())
        return;
    // The arena keeps the shared text alive as long as the item's own texts.
    headersShared_ = true;
    headers_ = Arena().Share(std::move(headers));
}

void CCacheItem::SetHeaders(std::string_view text)
{
    headers_ = KeepsHeaders() ? Copy(text) : ItemText();
    headersShared_ = false;
}

bool CCacheItem::KeepsHeaders() const
{
    return !owner_ || owner_->KeepsHeaders();
}

size_t CCacheItem::HeldBytes() const
{
    auto length = [](const ItemText& s) { return s ? size_t(s.size()) + 1 : 0; };
    size_t bytes = sizeof(*this) + length(url_) + length(cacheName_) + length(contentType_);
    // A path inside the URL's text costs nothing of its own.
    if (urlPath_ && !(url_ && urlPath_.c_str() >= url_.c_str() && urlPath_.c_str() <= url_.c_str() + url_.size()))
        bytes += length(urlPath_);
    if (headers_ && !headersShared_)
        bytes += length(headers_);
    if (extras_)
        bytes += sizeof(Extras) + extras_->bodyProblem.capacity();
    return bytes;
}

void CCacheItem::ParseHeaders(std::string_view text)
{
    if (text.empty())
        return;
    // The text may carry its own terminating NUL; the walk ends there.
    if (const void* nul = std::memchr(text.data(), '\0', text.size()))
        text = text.substr(0, size_t(static_cast<const char*>(nul) - text.data()));
    bool haveLength = size_ > 0;
    bool haveType = contentType_.has_value();
    bool haveEncoding = false;

    // Every item's headers pass here: a line is found with one search for
    // its LF, and told "Content-..." or not with one compare.
    const char* line = text.data();
    const char* const end = line + text.size();
    for (const char* from = line; from < end;) {
        const char* lf = static_cast<const char*>(std::memchr(from, '\n', size_t(end - from)));
        if (!lf)
            break; // a last line without CR LF is never examined
        from = lf + 1;
        if (lf == line || lf[-1] != '\r')
            continue; // a bare LF is inside the line
        const std::string_view header(line, size_t(lf - 1 - line));
        const ContentHeader kind = ContentHeaderOf(header);
        line = from;
        if (kind == ContentHeader::Other)
            continue;

        if (!haveLength && kind == ContentHeader::Length) {
            size_ = uint32_t(header.size() > 16 ? ParseDecimal(header.substr(16)) : 0);
            ForgetSizeText();
            haveLength = true;
        } else if (!haveType && kind == ContentHeader::Type) {
            if (header.size() > 14) {
                std::string_view type = header.substr(14);
                if (size_t semi = type.find(';'); semi != std::string_view::npos)
                    type = type.substr(0, semi);
                contentType_ = Arena().Common(type);
                haveType = true;
            }
        } else if (!haveEncoding && kind == ContentHeader::Encoding) {
            std::string_view coding = header.size() > 18 ? header.substr(18) : std::string_view{};
            if (platform::StartsWithNoCase(coding, "gzip") || platform::StartsWithNoCase(coding, "x-gzip"))
                contentEncoding_ = kEncodingGzip;
            else if (platform::StartsWithNoCase(coding, "deflate"))
                contentEncoding_ = kEncodingDeflate;
            else if (platform::StartsWithNoCase(coding, "compress") || platform::StartsWithNoCase(coding, "x-compress"))
                contentEncoding_ = kEncodingCompress;
            else
                contentEncoding_ = kEncodingNone;
            haveEncoding = true;
        }
        if (haveLength && haveType && haveEncoding)
            break;
    }
}

std::vector<std::pair<std::string, std::string>> CCacheItem::GetFormatProperties() const
{
    return extras_ ? extras_->properties : std::vector<std::pair<std::string, std::string>>();
}

void CCacheItem::AddFormatProperty(std::string label, std::string text)
{
    Extra().properties.emplace_back(std::move(label), std::move(text));
}

std::vector<std::pair<std::string, std::string>> CCacheItem::GetProperties() const
{
    auto properties = GetFormatProperties();
    if (extras_ && !extras_->bodyProblem.empty())
        properties.emplace_back("Body problem", extras_->bodyProblem);
    return properties;
}

void CCacheItem::Trace(std::string_view text) const
{
    if (owner_)
        owner_->Context().Trace(text);
}

platform::LogSink* CCacheItem::Log() const
{
    return owner_ ? &owner_->Context().Log() : nullptr;
}

uint64_t CCacheItem::DecodedSizeCap() const
{
    return owner_ ? owner_->Context().Options().maxDecodedBytes : kMaxDecodedBytes;
}

std::shared_ptr<const platform::RegistryReader> CCacheItem::Registry() const
{
    if (owner_)
        return owner_->Context().Registry();
    return std::make_shared<const platform::NullRegistryReader>();
}

int CCacheItem::Decompress(const std::string& source, const std::string& destination)
{
    if (contentEncoding_ != kEncodingGzip && contentEncoding_ != kEncodingCompress &&
        contentEncoding_ != kEncodingDeflate && contentEncoding_ != kEncodingBrotli)
        return -1;
    // A file already at the destination is not ours to overwrite (it may be
    // part of the examined cache).
    std::error_code ec;
    if (std::filesystem::symlink_status(destination, ec).type() != std::filesystem::file_type::not_found) {
        Trace("     CCacheItem::Decompress - not overwriting " + destination);
        return -1;
    }
    // Bodies are read a window at a time: a body of gigabytes costs no
    // more memory than a small one.
    const int64_t length = size_ > 0 ? int64_t(size_) : 0;
    DecodeOutcome outcome;
    int result;
    if (contentEncoding_ == kEncodingGzip) {
        result = GunzipFile(source, length, destination, DecodedSizeCap(), Log(), &outcome);
    } else if (contentEncoding_ == kEncodingBrotli) {
        auto bytes = platform::ReadFile(source, size_ > 0 ? uint64_t(size_) : uint64_t(INT32_MAX));
        result = bytes ? BrotliToFile(bytes->data(), bytes->size(), destination, DecodedSizeCap(), Log()) : -1;
    } else {
        // deflate (and compress, which servers send as deflate): a zlib
        // stream, or raw deflate; data that is neither goes through the gz
        // reader, which decodes gzip data and passes anything else unchanged.
        result = InflateFile(source, length, destination, true, DecodedSizeCap(), Log(), &outcome);
        if (result != 0 && std::filesystem::file_size(destination, ec) == 0 && !ec) {
            ::unlink(destination.c_str());
            result = GzReadFile(source, length, destination, DecodedSizeCap(), Log(), &outcome);
        }
    }
    bodyCut_ = outcome.cut;
    if (bodyCut_)
        Trace("     CCacheItem::Decompress - " + std::string(LoadString(IDS_BODY_CUT)) +
              (url_ ? std::string(*url_) : source));
    if (result == 0)
        return 0;
    // A stream that broke part-way keeps what was decoded before the damage;
    // one that gave nothing leaves no file behind.
    uint64_t decoded = std::filesystem::file_size(destination, ec);
    if (!ec && decoded > 0) {
        Trace("     CCacheItem::Decompress - stream damaged, kept " + std::to_string(decoded) + " decoded bytes");
        return 0;
    }
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(destination, ec)))
        ::unlink(destination.c_str());
    return -1;
}

std::string CCacheItem::FindExtension(std::string_view bodyFileName)
{
    std::string ext = ExtensionOf(bodyFileName);
    if (ext.empty() && urlPath_) {
        // Ignore a query or fragment when taking the URL path's extension.
        std::string_view path = urlPath_.View();
        if (size_t q = path.find_first_of("?#"); q != std::string_view::npos)
            path = path.substr(0, q);
        ext = ExtensionOf(path);
    }
    if (ext.empty() && contentType_)
        ExtensionForType(*Registry(), *contentType_, ext);
    // Every source is examined data; the extension becomes part of a file name.
    return SafeExtension(ext);
}

int32_t CCacheItem::GetTypeIcon(TypeIconSource& icons)
{
    if (typeIcon_ != -1)
        return typeIcon_;
    const char* path = GetFilePath();
    std::string ext = FindExtension(path ? std::string_view(path) : std::string_view{});
    typeIcon_ = icons.GetIcon(ext, GetContentType());
    return typeIcon_;
}

// ---------------------------------------------------------------------------

CFileCacheItem::~CFileCacheItem()
{
    if (DeletesOnDestroy() && HasFilePath())
        RemoveWorkingCopy(*paths_->file);
}

CFileCacheItem::Paths& CFileCacheItem::PathsOf()
{
    if (!paths_)
        paths_ = std::make_unique<Paths>();
    return *paths_;
}

const std::optional<std::string>& CFileCacheItem::GetBodyPath() const
{
    static const std::optional<std::string> kNone;
    return paths_ ? paths_->body : kNone;
}

void CFileCacheItem::RemoveWorkingCopy(const std::string& copy)
{
    // The copy and the folder made for it, nothing else: the folder goes
    // only when empty.
    platform::DeleteExactFile(copy);
    ::rmdir(platform::DirectoryOf(copy).c_str());
}

std::optional<std::string> CFileCacheItem::SpelledBodyPath() const
{
    std::string path;
    if (!SpellBodyPathIn(path))
        return std::nullopt;
    return path;
}

bool CFileCacheItem::SpellBodyPathIn(std::string& out) const
{
    // A cache name that would leave the cache folder ("..", absolute)
    // names no body: such an index is hostile or corrupt.
    if (!cacheName_ || !owner_ || !platform::IsContainedRelativeName(*cacheName_))
        return false;
    platform::MakePathIn(out, owner_->GetFolder(), *cacheName_);
    return true;
}

const char* CFileCacheItem::GetFilePath()
{
    if (!HasFilePath()) {
        std::optional<std::string> spelled = SpelledBodyPath();
        if (!spelled)
            return nullptr;
        Paths& paths = PathsOf();
        paths.file = platform::ResolvePath(*spelled);
        paths.body = paths.file;
    }
    return paths_->file->c_str();
}

int32_t CFileCacheItem::GetFilePathLength()
{
    return GetFilePath() ? int32_t(paths_->file->size()) : 0;
}

bool CFileCacheItem::Exists()
{
    if (!exists_)
        return false;
    std::optional<platform::FileAttributes> attributes;
    // The list asks this of every item: the path is spelled in a buffer
    // kept between calls, and most often only the folder listing is asked.
    thread_local std::string spelled;
    if (!HasFilePath() && SpellBodyPathIn(spelled)) {
        if (owner_ && owner_->IsCertainlyMissing(spelled)) {
            exists_ = false;
            return false;
        }
        // The first check also settles the body's path, with one stat when
        // it exists as spelled (the list checks every item it shows).
        std::string resolved;
        std::string problem;
        attributes = platform::GetFileAttributes(spelled, resolved, &problem);
        // The path of a body that is not there is not kept: GetFilePath
        // would find the same one again, and a listing of many missing
        // bodies then costs no memory.
        if (attributes) {
            Paths& paths = PathsOf();
            paths.file = std::move(resolved);
            paths.body = paths.file;
        } else if (platform::IsContainmentProblem(problem)) {
            SetBodyProblem(problem);
        }
    } else if (HasFilePath()) {
        std::string resolved;
        std::string problem;
        attributes = platform::GetFileAttributes(*paths_->file, resolved, &problem);
        if (!attributes && platform::IsContainmentProblem(problem))
            SetBodyProblem(problem);
    }
    exists_ = attributes && attributes->isRegular;
    if (exists_ && size_ == 0) {
        size_ = uint32_t(attributes->size & 0xFFFFFFFFu);
        ForgetSizeText();
    }
    return exists_;
}

bool CFileCacheItem::PrepareFile()
{
    if (!Exists())
        return false;
    if (PathsOf().prepared)
        return true;
    paths_->prepared = true;

    // Working copies go to the private temp folder, never beside the body,
    // and are written under a temporary name, renamed when complete.
    const std::string body = *paths_->file;
    const std::string bodyName = platform::FileNameOf(body);
    if (contentEncoding_ != kEncodingNone) {
        std::string working = platform::WorkingCopyPath("uc_" + bodyName);
        if (working.empty())
            return true;
        const std::string partial = working + ".part";
        if (Decompress(body, partial) == 0) {
            if (platform::CommitNewFile(partial, working)) {
                paths_->file = working;
                paths_->deleteOnDestroy = true;
            } else {
                platform::DeleteExactFile(partial);
            }
        }
        return true;
    }
    std::string ext = FindExtension(bodyName);
    if (ext.empty())
        return true;
    std::string copy = platform::WorkingCopyPath(bodyName + ext);
    if (!copy.empty() && platform::CopyFile(body, copy)) {
        paths_->file = copy;
        paths_->deleteOnDestroy = true;
    }
    return true;
}

bool CFileCacheItem::DeleteCacheFile()
{
    if (!GetFilePath())
        return false;
    if (paths_->deleteOnDestroy && paths_->file != paths_->body) {
        RemoveWorkingCopy(*paths_->file);
        paths_->file = paths_->body;
        paths_->deleteOnDestroy = false;
    }
    return platform::DeleteFile(*paths_->body);
}

} // namespace oriel
