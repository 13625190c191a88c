// The texts of a cache's items, kept together: one block after another
// instead of one heap string per field, all freed at once when the cache
// lets its items go. Decoders never see it; the item copies what it is given.
#pragma once

#include "platform/CopyBytes.h"
#include "platform/LargeBuffer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace oriel {

// A text an item holds: a view of NUL-terminated bytes (in the owner's
// arena or in a block the arena keeps), or none.
//
// Eight bytes, not sixteen: an item holds five texts and a cache may hold
// hundreds of thousands of items. Where user-space addresses fit in 48 bits
// (x86-64 and AArch64 give no higher address unless asked), the address
// takes the low 48 bits and the length the high 16. A text of kLongFrom
// bytes or more keeps its length in the four bytes just before it: only a
// text laid out by Place has them, so a view of a longer text is no
// ItemText (FitsView says so, and the item copies it instead).
class ItemText {
public:
    static constexpr size_t kLongFrom = 0xFFFF;

    ItemText() = default;
    // The room Place needs for a text of `size` bytes.
    static constexpr size_t RoomFor(size_t size) { return (size >= kLongFrom ? sizeof(uint32_t) : 0) + size + 1; }
    // Lays `text` out at `room` (RoomFor(text.size()) bytes), NUL after it.
    static ItemText Place(char* room, std::string_view text)
    {
        if (text.size() >= kLongFrom) {
            const uint32_t size = uint32_t(text.size());
            std::memcpy(room, &size, sizeof size);
            room += sizeof size;
        }
        platform::CopyBytes(room, text.data(), text.size());
        room[text.size()] = '\0';
        return ItemText(room, text.size());
    }
    // True when `size` bytes that someone else laid out (a tail of another
    // text, a shared block) can be held as a view.
    static constexpr bool FitsView(size_t size) { return size < kLongFrom; }
    // A view of `size` NUL-terminated bytes at `data`; FitsView(size).
    static ItemText View(const char* data, size_t size) { return ItemText(data, size); }

    explicit operator bool() const { return has_value(); }
    bool has_value() const { return c_str() != nullptr; }
    // The text; only when there is one.
    std::string_view operator*() const { return {c_str(), size_t(size())}; }
    std::string_view View() const { return has_value() ? **this : std::string_view(); }
    void reset() { *this = ItemText(); }

#if defined(__x86_64__) || defined(__aarch64__)
    const char* c_str() const { return reinterpret_cast<const char*>(bits_ & kAddressMask); }
    int32_t size() const
    {
        const uint64_t length = bits_ >> kLengthShift;
        if (length != kLongFrom)
            return int32_t(length);
        uint32_t size;
        std::memcpy(&size, c_str() - sizeof size, sizeof size);
        return int32_t(size);
    }

private:
    static constexpr int kLengthShift = 48;
    static constexpr uint64_t kAddressMask = (uint64_t(1) << kLengthShift) - 1;
    ItemText(const char* data, size_t size)
        : bits_(reinterpret_cast<uintptr_t>(data) | (uint64_t(std::min(size, kLongFrom)) << kLengthShift))
    {
    }
    uint64_t bits_ = 0;
#else
    const char* c_str() const { return data_; }
    int32_t size() const { return int32_t(size_); }

private:
    ItemText(const char* data, size_t size)
        : data_(data)
        , size_(uint32_t(size))
    {
    }
    const char* data_ = nullptr;
    uint32_t size_ = 0;
#endif
};

class ItemArena {
public:
    ItemArena() = default;
    ~ItemArena();
    ItemArena(const ItemArena&) = delete;
    ItemArena& operator=(const ItemArena&) = delete;

    // `size` bytes that stay put until Clear. Items of one cache may be made
    // on several threads at once (decoders that read entry files in
    // parallel), so taking room is locked; an item takes all the room for
    // its texts in one call.
    char* Allocate(size_t size);
    // A copy of `text` with a NUL after it.
    ItemText Copy(std::string_view text);
    // A text several items share, kept until Clear and viewed by each: the
    // block itself, or for a block too long for a view one copy of it,
    // made once however many items ask.
    ItemText Share(std::shared_ptr<const std::string> block);
    // A short text that many items hold alike (a content type): copied
    // once, and viewed by every item that asks for the same bytes. Up to
    // kCommonTexts different texts are held so; past them (a hostile index
    // may give each item its own type), and for longer texts, a copy.
    ItemText Common(std::string_view text);
    static constexpr size_t kCommonTexts = 256;
    static constexpr size_t kCommonLongest = 64;
    // Lets every text go. Only when no item that viewed them is left, and
    // no lane over the arena is open.
    void Clear();

    // While a lane over an arena is open on a thread, that thread's texts
    // in the arena take their room from a block of the lane's own, and its
    // common texts are first looked up in the lane's own table, all without
    // the arena's lock: for a decode that makes its items on two threads at
    // once. A lane goes on in the arena's current block, and hands the rest
    // of its own back when it closes.
    class Lane {
    public:
        explicit Lane(ItemArena& arena);
        ~Lane();
        Lane(const Lane&) = delete;
        Lane& operator=(const Lane&) = delete;

    private:
        friend class ItemArena;
        char* Allocate(size_t size);
        ItemText Common(std::string_view text);

        ItemArena& arena_;
        Lane* outer_;
        char* next_ = nullptr;
        size_t left_ = 0;
        // Views of the arena's copies, by the text.
        std::unordered_map<std::string_view, ItemText> common_;
    };
    // The bytes taken from the system (blocks, not what was asked for).
    size_t ReservedBytes() const;
    // Of those, the bytes in slices of large pages (the rest is general
    // heap), for the benchmarks.
    size_t SliceBytes() const;

private:
    // Blocks are slices of the process's large pages, which the items share
    // (platform::LargePageSlices): a decode of 100,000 items takes a few
    // page faults rather than thousands. A text longer than a quarter block
    // gets a block of its own.
    static constexpr size_t kBlockSize = platform::LargePageSlices::kSliceSize;

    char* AllocateLocked(size_t size);
    // `size` bytes cut from the block at `next` with `left` bytes left: the
    // arena's own, or a lane's. A new block (kept until Clear) when they do
    // not fit; a text longer than a quarter block gets a block of its own.
    char* CutLocked(char*& next, size_t& left, size_t size);
    // Common, through the arena's table under its lock.
    ItemText CommonInTable(std::string_view text);
    // The lane open on this thread over this arena, if any.
    Lane* CurrentLane();
    // Keeps `block` alive until Clear (a block that items view).
    void KeepLocked(std::shared_ptr<const void> block);

    mutable std::mutex mutex_;
    std::vector<char*> blocks_; // slices, given back at Clear
    std::vector<std::unique_ptr<char[]>> large_;
    char* next_ = nullptr;
    size_t left_ = 0;
    size_t reserved_ = 0;
    std::vector<std::shared_ptr<const void>> kept_;
    // The copies of shared blocks too long for a view, by block (each kept,
    // so that no other block can take its address).
    std::unordered_map<const std::string*, ItemText> longShared_;
    // The common texts, keyed by a view of their own copy.
    std::unordered_map<std::string_view, ItemText> common_;
};

} // namespace oriel
