// The texts of a cache's items, kept together: one block after another
// instead of one heap string per field, all freed at once when the cache
// lets its items go. Decoders never see it; the item copies what it is given.
#pragma once

#include "platform/LargeBuffer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace oriel {

class ItemArena {
public:
    ItemArena() = default;
    ItemArena(const ItemArena&) = delete;
    ItemArena& operator=(const ItemArena&) = delete;

    // `size` bytes that stay put until Clear. Items of one cache may be made
    // on several threads at once (decoders that read entry files in
    // parallel), so taking room is locked; an item takes all the room for
    // its texts in one call.
    char* Allocate(size_t size);
    // A copy of `text` with a NUL after it.
    const char* Copy(std::string_view text);
    // Keeps `block` alive until Clear: texts that items view inside a block
    // several of them share.
    void Keep(std::shared_ptr<const void> block);
    // Lets every text go. Only when no item that viewed them is left.
    void Clear();
    // The bytes taken from the system (blocks, not what was asked for).
    size_t ReservedBytes() const;

private:
    // Small blocks while the cache is small; once it holds megabytes of
    // texts, blocks of large pages, so that a decode of 100,000 items takes
    // a few page faults rather than thousands. A text longer than a quarter
    // small block gets a block of its own.
    static constexpr size_t kBlockSize = 64 * 1024;
    static constexpr size_t kLargeBlockSize = platform::LargeBuffer::kMappedFrom;
    static constexpr size_t kSmallBlocksUpTo = 1 << 20;

    mutable std::mutex mutex_;
    std::vector<platform::LargeBuffer> blocks_;
    std::vector<std::unique_ptr<char[]>> large_;
    char* next_ = nullptr;
    size_t left_ = 0;
    size_t reserved_ = 0;
    std::vector<std::shared_ptr<const void>> kept_;
};

// A text an item holds: a view of NUL-terminated bytes (in the owner's
// arena or in a block the arena keeps), or none.
class ItemText {
public:
    ItemText() = default;
    ItemText(const char* data, size_t size)
        : data_(data)
        , size_(uint32_t(size))
    {
    }
    explicit operator bool() const { return data_ != nullptr; }
    bool has_value() const { return data_ != nullptr; }
    // The text; only when there is one.
    std::string_view operator*() const { return {data_, size_}; }
    std::string_view View() const { return data_ ? std::string_view(data_, size_) : std::string_view(); }
    const char* c_str() const { return data_; }
    int32_t size() const { return int32_t(size_); }
    void reset()
    {
        data_ = nullptr;
        size_ = 0;
    }

private:
    const char* data_ = nullptr;
    uint32_t size_ = 0;
};

} // namespace oriel
