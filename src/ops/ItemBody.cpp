#include "ops/ItemBody.h"

#include "model/CacheItem.h"
#include "platform/FileSystem.h"

#include <filesystem>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oriel {

namespace fs = std::filesystem;

std::string MakeScratchFolder(const char* prefix)
{
    std::string base = platform::PrivateTempFolder();
    if (base.empty())
        base = fs::temp_directory_path().string() + "/";
    std::string pattern = base + prefix + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return {};
    return pattern;
}

ItemBody::~ItemBody()
{
    fd_.Reset();
    if (!scratch_.empty()) {
        std::error_code ec;
        fs::remove_all(scratch_, ec);
    }
}

std::unique_ptr<ItemBody> ItemBody::Open(CCacheItem& item, std::string* why)
{
    auto fail = [why](std::string text) -> std::unique_ptr<ItemBody> {
        if (why)
            *why = std::move(text);
        return nullptr;
    };
    if (!item.Exists())
        return fail("the item's body is not in the cache");

    std::unique_ptr<ItemBody> body(new ItemBody);
    std::string source;
    auto* file = dynamic_cast<CFileCacheItem*>(&item);
    if (file) {
        const char* path = file->GetFilePath();
        std::optional<std::string> stored = file->GetBodyPath();
        if (!stored && path)
            stored = std::string(path);
        if (!stored)
            return fail("the item names no body file");
        source = *stored;
        body->stored_ = *stored;
        if (item.GetContentEncoding() != CCacheItem::kEncodingNone) {
            body->scratch_ = MakeScratchFolder("body");
            const std::string target = body->scratch_ + "/body";
            if (!body->scratch_.empty() && item.Decompress(*stored, target) == 0) {
                source = target;
                body->decoded_ = true;
            }
        }
    } else if (body->scratch_ = MakeScratchFolder("body");
               !body->scratch_.empty() && item.ExtractBodyTo(body->scratch_ + "/body")) {
        source = body->scratch_ + "/body";
        body->decoded_ = item.GetContentEncoding() != CCacheItem::kEncodingNone;
    } else {
        // The item's own working copy, which it makes in the private temp
        // folder.
        if (!item.PrepareFile() || !item.GetFilePath())
            return fail("the body cannot be extracted");
        source = item.GetFilePath();
        body->decoded_ = item.GetContentEncoding() != CCacheItem::kEncodingNone;
    }
    std::string problem;
    body->fd_ = platform::OpenContained(source, platform::OpenAs::Read, &problem);
    struct stat st {};
    if (!body->fd_ || ::fstat(body->fd_.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return fail("cannot read the body: " + problem);
    return body;
}

} // namespace oriel
