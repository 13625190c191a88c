#include "platform/LargeBuffer.h"

#include "platform/AddressSanitizer.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace oriel::platform {

namespace {
constexpr size_t kLargePage = size_t(2) << 20;
// The mappings now held, for ResidentBytes.
std::mutex g_mappingsMutex;
std::map<void*, size_t>& Mappings()
{
    static auto* mappings = new std::map<void*, size_t>;
    return *mappings;
}

// `size` bytes (whole large pages) of fresh memory that start on a large
// page: one large page more is mapped, so that an aligned start lies
// inside, and the slack on either side is handed back at once.
char* MapOnLargePages(size_t size, int flags)
{
    void* mapped = ::mmap(nullptr, size + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | flags,
                          -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const uintptr_t begin = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (begin + kLargePage - 1) & ~(kLargePage - 1);
    if (aligned > begin)
        ::munmap(mapped, aligned - begin);
    const uintptr_t end = begin + size + kLargePage;
    if (end > aligned + size)
        ::munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    return reinterpret_cast<char*>(aligned);
}

// Address room reserved at a time for slices; pages are only used once a
// slice in them is written.
constexpr size_t kSliceRegion = size_t(32) << 20;

class SliceStream {
public:
    char* Take()
    {
        std::lock_guard lock(mutex_);
        if (!given_.empty()) {
            char* slice = given_.back();
            given_.pop_back();
            return slice;
        }
        if (left_ < LargePageSlices::kSliceSize)
            Reserve();
        char* slice = next_;
        next_ += LargePageSlices::kSliceSize;
        left_ -= LargePageSlices::kSliceSize;
        return slice;
    }

    void ExpectMany(size_t bytes) noexcept
    {
        std::lock_guard lock(mutex_);
        if (taken_ == 0 && bytes > kLargePage)
            firstSmall_ = false;
    }

    void Give(char* slice) noexcept
    {
        std::lock_guard lock(mutex_);
        // Never fails for want of room: room for every slice ever taken is
        // kept ahead (see Reserve).
        given_.push_back(slice);
    }

private:
    void Reserve()
    {
        // Room in the list of given-back slices for every slice there will
        // be, now, so that Give never allocates.
        given_.reserve(taken_ + kSliceRegion / LargePageSlices::kSliceSize);
        char* region = MapOnLargePages(kSliceRegion, MAP_NORESERVE);
        // Only advice: where the kernel gives no large pages, small ones
        // serve. The process's first 2 MB stay small pages unless many
        // slices were expected.
        const size_t small = taken_ == 0 && firstSmall_ ? kLargePage : 0;
        ::madvise(region + small, kSliceRegion - small, MADV_HUGEPAGE);
        taken_ += kSliceRegion / LargePageSlices::kSliceSize;
        next_ = region;
        left_ = kSliceRegion;
    }

    std::mutex mutex_;
    char* next_ = nullptr;
    size_t left_ = 0;
    size_t taken_ = 0; // slices in the regions reserved so far
    bool firstSmall_ = true;
    std::vector<char*> given_;
};

// Never destroyed: slices of statics' items may outlive any other static.
SliceStream& TheSliceStream()
{
    static auto* stream = new SliceStream;
    return *stream;
}

} // namespace

char* LargePageSlices::Take()
{
    if (ORIEL_ADDRESS_SANITIZER)
        return static_cast<char*>(::operator new(kSliceSize));
    return TheSliceStream().Take();
}

void LargePageSlices::ExpectMany(size_t bytes) noexcept
{
    if (!ORIEL_ADDRESS_SANITIZER)
        TheSliceStream().ExpectMany(bytes);
}

void LargePageSlices::Give(char* slice) noexcept
{
    if (!slice)
        return;
    if (ORIEL_ADDRESS_SANITIZER) {
        ::operator delete(slice);
        return;
    }
    TheSliceStream().Give(slice);
}

size_t LargeBuffer::ResidentBytes()
{
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> pages;
    size_t resident = 0;
    std::lock_guard lock(g_mappingsMutex);
    for (const auto& [at, size] : Mappings()) {
        pages.assign((size + page - 1) / page, 0);
        if (::mincore(at, size, pages.data()) != 0)
            continue;
        for (unsigned char p : pages)
            resident += (p & 1) ? page : 0;
    }
    return resident;
}

LargeBuffer::LargeBuffer(size_t size)
    : size_(size)
{
    if (size < kMappedFrom) {
        data_ = new char[size ? size : 1];
        return;
    }
    const size_t rounded = (size + kLargePage - 1) & ~(kLargePage - 1);
    if (rounded < size || rounded + kLargePage < rounded)
        throw std::bad_alloc();
    data_ = MapOnLargePages(rounded, 0);
    mappedSize_ = rounded;
    {
        std::lock_guard lock(g_mappingsMutex);
        Mappings()[data_] = mappedSize_;
    }
    // Only advice: where the kernel gives no large pages, small ones serve.
    ::madvise(data_, mappedSize_, MADV_HUGEPAGE);
}

LargeBuffer::~LargeBuffer()
{
    Release();
}

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr))
    , size_(std::exchange(other.size_, 0))
    , mappedSize_(std::exchange(other.mappedSize_, 0))
{
}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept
{
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mappedSize_ = std::exchange(other.mappedSize_, 0);
    }
    return *this;
}

void LargeBuffer::Release()
{
    if (mappedSize_) {
        {
            std::lock_guard lock(g_mappingsMutex);
            Mappings().erase(data_);
        }
        ::munmap(data_, mappedSize_);
    } else {
        delete[] data_;
    }
    data_ = nullptr;
    size_ = 0;
    mappedSize_ = 0;
}

} // namespace oriel::platform
