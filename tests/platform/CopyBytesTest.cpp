#include "platform/CopyBytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace oriel::platform {
namespace {

// Every size a row or a text takes, from every alignment of source and
// destination: the bytes copied equal the source, and not one byte before
// or after the destination range changes (the tail moves overlap).
TEST(CopyBytes, CopiesExactlyTheRangeAtEverySizeAndAlignment)
{
    std::vector<unsigned char> source(600);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<unsigned char>(i * 7 + 1);
    constexpr unsigned char kGuard = 0xEE;
    constexpr size_t kTargetOffsets[] = {0, 1, 7, 9, 15};
    for (size_t size = 0; size <= 300; ++size) {
        for (size_t from = 0; from < 16; ++from) {
            for (size_t to : kTargetOffsets) {
                std::vector<unsigned char> target(size + 64, kGuard);
                const size_t at = 32 + to;
                CopyBytes(target.data() + at, source.data() + from, size);
                for (size_t i = 0; i < target.size(); ++i) {
                    const bool inside = i >= at && i < at + size;
                    const unsigned char want = inside ? source[from + i - at] : kGuard;
                    ASSERT_EQ(target[i], want) << "size " << size << " from " << from << " to " << to << " byte " << i;
                }
            }
        }
    }
}

} // namespace
} // namespace oriel::platform
