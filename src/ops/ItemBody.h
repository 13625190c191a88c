// The body of a cached item as a program would read it (extracted from its
// block file, decoded by its content encoding), opened for reading without
// writing anything into the examined tree: a plain body is read in place,
// inside its container (a link out of the examined tree is refused); an
// encoded or embedded one is decoded or extracted into a scratch folder of
// our own under the private temp folder, removed with this object.
#pragma once

#include "platform/ContainedPath.h"

#include <memory>
#include <string>

namespace oriel {

class CCacheItem;

class ItemBody {
public:
    ~ItemBody();
    ItemBody(const ItemBody&) = delete;
    ItemBody& operator=(const ItemBody&) = delete;

    // The body opened for reading; null with `why` set when the item has
    // no body to read (missing, refused, not extractable).
    static std::unique_ptr<ItemBody> Open(CCacheItem& item, std::string* why = nullptr);

    int Fd() const { return fd_.Get(); }
    // True when the bytes are the stored body decoded.
    bool Decoded() const { return decoded_; }
    // The body's own file in the cache for an item whose body is a plain
    // file (what a move removes); empty for a body inside a shared file.
    const std::string& StoredPath() const { return stored_; }

private:
    ItemBody() = default;

    platform::UniqueFd fd_;
    bool decoded_ = false;
    std::string stored_;
    std::string scratch_;
};

// A folder of our own for scratch files, outside every cache; empty when it
// cannot be made.
std::string MakeScratchFolder(const char* prefix);

} // namespace oriel
