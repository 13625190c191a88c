// An item whose body is a byte range of another file of the cache (a
// Mozilla block file, Opera's index). Its bytes are extracted, and decoded
// by the item's content encoding, to a file of their own on demand; the
// file that holds them is never changed.
#pragma once

#include "model/CacheItem.h"
#include "platform/ByteSource.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace oriel {

class CEmbeddedBodyItem : public CCacheItem {
public:
    using CCacheItem::CCacheItem;
    // Deletes the extracted copy, if this item made one.
    ~CEmbeddedBodyItem() override;

    // The length of the display name that the kind of item gives.
    int32_t GetDisplayCacheNameLength() override;
    // The extracted copy's path; null before PrepareFile has made it.
    const char* GetFilePath() override;
    int32_t GetFilePathLength() override;
    // Whether the file holding the body is there (checked until it is found
    // missing).
    bool Exists() override;
    // Extracts the body, decoding it by its content encoding, unless this
    // item's copy is still there. True when the copy exists afterwards.
    bool PrepareFile() override;
    // Deletes the extracted copy (never the file holding the body); true
    // when no copy is left.
    bool DeleteCacheFile() override;

    // Writes the body to the extracted path; true when the file was made.
    bool ExtractFile();
    // Writes the body, decoded, to `target` (a new file); the cache folder
    // is not touched.
    bool ExtractBodyTo(const std::string& target) override;

    // The bytes of the body as stored: a range of the file that holds
    // them, opened only when the body is extracted. Empty when the item
    // names no such file or no range to read.
    std::optional<platform::FileRange> BodyRange();

protected:
    // Where the stored bytes lie in the file that holds them.
    struct StoredRange {
        int64_t offset = 0;
        size_t length = 0;
    };

    // Host path of the file that holds the body, found once; empty when the
    // item names none.
    const std::string& ContainerFilePath();

    // The name of the file in the cache folder that holds the body; empty
    // when the item names none.
    virtual std::string ContainerFileName() const = 0;
    // The bytes to extract; none when the record gives no range to read.
    virtual std::optional<StoredRange> StoredBytes() const = 0;
    // The class name that the trace lines give.
    virtual const char* TraceName() const = 0;

private:
    // Picks the extracted copy's path: a new folder of the process's
    // private temp folder (never the cache folder), the cache name and the
    // extension of the content type (or of the URL path).
    void BuildExtractedPath();
    void RemoveExtractedCopy();

    // First, to fill what the base leaves of its last eight bytes.
    bool exists_ = true;
    // Found when first asked for.
    std::unique_ptr<std::string> containerFilePath_;
    // Made when the body is first prepared: a listing or an export of many
    // items never needs one.
    struct WorkingCopy {
        std::optional<std::string> path;
        std::string privateFolder; // the folder this item made for its copy, if any
        bool extracted = false;    // the copy at `path` is this item's own
    };
    std::unique_ptr<WorkingCopy> copy_;
};

} // namespace oriel
