#include "platform/LargeBuffer.h"

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
} // namespace

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
    // One large page more than asked, so that an aligned start lies inside;
    // the slack is handed back at once.
    const size_t rounded = (size + kLargePage - 1) & ~(kLargePage - 1);
    if (rounded < size || rounded + kLargePage < rounded)
        throw std::bad_alloc();
    void* mapped = ::mmap(nullptr, rounded + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const uintptr_t begin = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (begin + kLargePage - 1) & ~(kLargePage - 1);
    if (aligned > begin)
        ::munmap(mapped, aligned - begin);
    const uintptr_t end = begin + rounded + kLargePage;
    if (end > aligned + rounded)
        ::munmap(reinterpret_cast<void*>(aligned + rounded), end - (aligned + rounded));
    data_ = reinterpret_cast<char*>(aligned);
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
