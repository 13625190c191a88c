// Hive files through HiveRegistry and libhivex. The harness mends the base
// block's checksum so that damaged hive bins reach libhivex instead of
// stopping at the header check.
#include "FuzzSupport.h"

#include "platform/HiveRegistry.h"
#include "support/HiveWriter.h"

#include <string>
#include <sys/mman.h>
#include <unistd.h>

using oriel::platform::HiveRegistry;
using oriel::platform::RootKey;
using oriel::test::HiveWriter;

namespace {

std::string Sample(int minor)
{
    HiveWriter h(minor);
    h.setString("Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths", "Directory",
                "C:\\Windows\\Temporary Internet Files")
        .setString("Software\\Classes\\.gif", "Content Type", "image/gif")
        .setString("Software\\Classes\\.gif", "", "giffile")
        .setString("Software\\Ünïcödé\\日本", "v", "値")
        .setExpandString("Software\\T", "v", "%SystemRoot%")
        .setMultiString("Software\\T", "m", {"a", "b"})
        .setDword("Software\\T", "d", 1)
        .setString("Software\\T", "x", "1")
        .setString("Software\\Long", "v", std::string(3000, 'L'));
    return h.bytes();
}

void WalkKey(const HiveRegistry& hive, const std::string& path, int depth, int& budget)
{
    std::string text;
    hive.LookupValue(path, "", &text);
    hive.LookupValue(path, "v", &text);
    std::vector<std::string> names;
    if (depth > 8 || !hive.SubkeyNames(path, names))
        return;
    for (const std::string& name : names) {
        if (--budget < 0)
            return;
        WalkKey(hive, path.empty() ? name : path + "\\" + name, depth + 1, budget);
    }
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    WriteSeed(dir, "v13.hive", Sample(3));
    WriteSeed(dir, "v15.hive", Sample(5));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.size() >= 512) {
        uint32_t sum = 0;
        for (size_t off = 0; off < 508; off += 4) {
            sum ^= uint32_t(uint8_t(bytes[off])) | uint32_t(uint8_t(bytes[off + 1])) << 8 |
                   uint32_t(uint8_t(bytes[off + 2])) << 16 | uint32_t(uint8_t(bytes[off + 3])) << 24;
        }
        for (int i = 0; i < 4; ++i)
            bytes[508 + size_t(i)] = char((sum >> (8 * i)) & 0xFF);
    }
    int fd = memfd_create("hive", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size())) {
        auto hive = HiveRegistry::Open("/proc/self/fd/" + std::to_string(fd), RootKey::CurrentUser, "");
        if (hive) {
            int budget = 2000;
            WalkKey(*hive, "", 0, budget);
        }
    }
    close(fd);
    return 0;
}
