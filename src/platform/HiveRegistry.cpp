#include "platform/HiveRegistry.h"

#include "platform/ContainedPath.h"
#include "platform/Text.h"

#include "platform/ByteReader.h"
#include "platform/CaseFold.h"

#include <QString>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <hivex.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace oriel::platform {

namespace {

// Base block (the first 4096 bytes of a hive):
//   0  "regf"
//   4  primary sequence number, 8 secondary sequence number
//   20 major version (1), 24 minor version
//   36 offset of the root key cell, relative to the first hive bin
//   40 size of all hive bins together, a multiple of 4096
//   508 checksum: XOR of the 127 dwords before it
constexpr size_t kBaseBlockSize = 0x1000;
constexpr size_t kHbinSize = 0x1000;

// Names above this many cached children make the lookup cache start over.
constexpr size_t kMaxCachedChildren = 1'000'000;

std::string ErrnoText(int err)
{
    return err ? std::string(std::strerror(err)) : std::string("unknown error");
}

void WarnUnreadable(std::string* problem, const std::string& path, const std::string& why)
{
    if (problem)
        *problem = "The registry hive \"" + path + "\" cannot be read (" + why + "); none of its keys or values are used.";
}

} // namespace

struct HiveRegistry::Impl {
    hive_h* hive = nullptr;
    hive_node_h rootNode = 0;
    mutable std::mutex mutex;
    // Children of the nodes looked at so far, by folded name (the first of
    // two names that fold alike wins, as in the subkey list's order).
    mutable std::unordered_map<hive_node_h, std::unordered_map<std::string, hive_node_h>> children;
    mutable size_t cachedChildren = 0;

    ~Impl()
    {
        if (hive)
            hivex_close(hive);
    }

    // Caller holds the mutex. 0 when there is no such child.
    hive_node_h Child(hive_node_h node, std::string_view name) const
    {
        auto it = children.find(node);
        if (it == children.end()) {
            if (cachedChildren > kMaxCachedChildren) {
                children.clear();
                cachedChildren = 0;
            }
            std::unordered_map<std::string, hive_node_h> map;
            if (hive_node_h* list = hivex_node_children(hive, node)) {
                for (size_t i = 0; list[i]; ++i) {
                    char* childName = hivex_node_name(hive, list[i]);
                    if (!childName)
                        continue;
                    map.emplace(FoldCase(childName), list[i]);
                    std::free(childName);
                }
                std::free(list);
            }
            cachedChildren += map.size();
            it = children.emplace(node, std::move(map)).first;
        }
        auto found = it->second.find(FoldCase(name));
        return found == it->second.end() ? 0 : found->second;
    }

    // Caller holds the mutex. 0 when the key does not exist.
    hive_node_h Node(std::string_view keyPath) const
    {
        hive_node_h node = rootNode;
        for (std::string_view part : SplitKeyPath(keyPath)) {
            node = Child(node, part);
            if (!node)
                return 0;
        }
        return node;
    }
};

std::string HiveRegistry::CheckHiveHeader(std::string_view bytes, uint64_t fileSize)
{
    ByteReader reader(bytes);
    if (fileSize < kBaseBlockSize + kHbinSize || !reader.has(0, kBaseBlockSize))
        return "the file is too small to be a hive";
    if (reader.bytes(0, 4) != std::string_view("regf"))
        return "the file does not start with \"regf\"";
    if (*reader.u32le(20) != 1)
        return "unknown hive format version";
    uint32_t sum = 0;
    for (size_t off = 0; off < 508; off += 4)
        sum ^= *reader.u32le(off);
    if (sum != *reader.u32le(508))
        return "the base block's checksum is wrong";
    uint32_t binsSize = *reader.u32le(40);
    uint32_t rootOffset = *reader.u32le(36);
    if (binsSize < kHbinSize || binsSize % kHbinSize != 0)
        return "the size of the hive bins is wrong";
    if (rootOffset >= binsSize)
        return "the root key lies outside the hive bins";
    if (kBaseBlockSize + uint64_t(binsSize) > fileSize)
        return "the file is truncated";
    return {};
}

std::shared_ptr<HiveRegistry> HiveRegistry::Open(const std::string& hivePath, RootKey root,
                                                 std::string_view mountPath, std::string* problem)
{
    // Opened as every examined file is (a link that leads out of the
    // examined tree is refused; a FIFO is never opened).
    std::string why;
    UniqueFd owned = OpenContained(hivePath, OpenAs::Read, &why);
    if (!owned) {
        WarnUnreadable(problem, hivePath, why.rfind(hivePath + ": ", 0) == 0 ? why.substr(hivePath.size() + 2) : why);
        return nullptr;
    }
    const int fd = owned.Get();
    struct stat st {};
    std::string header(kBaseBlockSize, '\0');
    ssize_t got = 0;
    if (::fstat(fd, &st) == 0) {
        size_t done = 0;
        while (done < header.size()) {
            ssize_t n = ::read(fd, header.data() + done, header.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += size_t(n);
        }
        got = ssize_t(done);
    }
    header.resize(size_t(got));

    // libhivex is robust against most damage, but a hive whose bins run
    // past the end of the file is refused here rather than half read.
    std::string damage = CheckHiveHeader(header, uint64_t(st.st_size));
    if (!damage.empty()) {
        WarnUnreadable(problem, hivePath, damage);
        return nullptr;
    }

    auto impl = std::make_unique<Impl>();
    errno = 0;
    // libhivex opens the file by name: it is given the descriptor's own
    // name, so that it reads the very file checked here.
    impl->hive = hivex_open(("/proc/self/fd/" + std::to_string(fd)).c_str(), 0);
    if (!impl->hive) {
        WarnUnreadable(problem, hivePath, "not a valid hive: " + ErrnoText(errno));
        return nullptr;
    }
    impl->rootNode = hivex_root(impl->hive);
    if (!impl->rootNode) {
        WarnUnreadable(problem, hivePath, "the root key is damaged");
        return nullptr;
    }
    return std::shared_ptr<HiveRegistry>(new HiveRegistry(hivePath, root, mountPath, std::move(impl)));
}

HiveRegistry::HiveRegistry(std::string path, RootKey root, std::string_view mountPath, std::unique_ptr<Impl> impl)
    : path_(std::move(path))
    , root_(root)
    , impl_(std::move(impl))
{
    for (std::string_view part : SplitKeyPath(mountPath))
        mount_.emplace_back(part);
}

HiveRegistry::~HiveRegistry() = default;

HiveRegistry::ValueKind HiveRegistry::LookupValue(std::string_view hiveKeyPath, std::string_view valueName,
                                                  std::string* text) const
{
    std::lock_guard lock(impl_->mutex);
    hive_node_h node = impl_->Node(hiveKeyPath);
    if (!node)
        return ValueKind::Missing;
    hive_value_h* values = hivex_node_values(impl_->hive, node);
    if (!values)
        return ValueKind::Missing;
    const std::string wanted = FoldCase(valueName);
    hive_value_h match = 0;
    for (size_t i = 0; values[i] && !match; ++i) {
        char* key = hivex_value_key(impl_->hive, values[i]);
        if (!key)
            continue;
        if (FoldCase(key) == wanted)
            match = values[i];
        std::free(key);
    }
    std::free(values);
    if (!match)
        return ValueKind::Missing;

    // libhivex stores the value's type number as it stands in the file, which
    // may lie outside hive_type: read it as a number, never as the enum.
    hive_type type{};
    size_t length = 0;
    if (hivex_value_type(impl_->hive, match, &type, &length) != 0)
        return ValueKind::Missing;
    uint32_t typeNumber = 0;
    static_assert(sizeof type == sizeof typeNumber);
    std::memcpy(&typeNumber, &type, sizeof typeNumber);
    if (typeNumber != hive_t_REG_SZ)
        return ValueKind::OtherType;
    char* data = hivex_value_value(impl_->hive, match, &type, &length);
    if (!data)
        return ValueKind::Missing;
    if (text)
        *text = Utf16LeToUtf8(Utf16LeUpToNul(std::string_view(data, length)));
    std::free(data);
    return ValueKind::String;
}

bool HiveRegistry::KeyExists(std::string_view hiveKeyPath) const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->Node(hiveKeyPath) != 0;
}

bool HiveRegistry::SubkeyNames(std::string_view hiveKeyPath, std::vector<std::string>& out) const
{
    std::lock_guard lock(impl_->mutex);
    hive_node_h node = impl_->Node(hiveKeyPath);
    if (!node)
        return false;
    if (hive_node_h* list = hivex_node_children(impl_->hive, node)) {
        for (size_t i = 0; list[i]; ++i) {
            if (char* name = hivex_node_name(impl_->hive, list[i])) {
                out.emplace_back(name);
                std::free(name);
            }
        }
        std::free(list);
    }
    return true;
}

bool HiveRegistry::ToHivePath(RootKey root, std::string_view keyPath, std::string& hivePath) const
{
    if (root != root_)
        return false;
    auto parts = SplitKeyPath(keyPath);
    if (parts.size() < mount_.size())
        return false;
    for (size_t i = 0; i < mount_.size(); ++i) {
        if (FoldCase(parts[i]) != FoldCase(mount_[i]))
            return false;
    }
    hivePath.clear();
    for (size_t i = mount_.size(); i < parts.size(); ++i) {
        if (!hivePath.empty())
            hivePath += '\\';
        hivePath += parts[i];
    }
    return true;
}

int HiveRegistry::QueryString(RootKey root, std::string_view keyPath, std::string_view valueName,
                              std::string& out) const
{
    std::string hivePath;
    if (!ToHivePath(root, keyPath, hivePath))
        return -1;
    std::string text;
    if (LookupValue(hivePath, valueName, &text) != ValueKind::String)
        return -1;
    out = std::move(text);
    return int(out.size() + 1);
}

bool HiveRegistry::EnumSubkeys(RootKey root, std::string_view keyPath, std::vector<std::string>& out) const
{
    std::string hivePath;
    if (ToHivePath(root, keyPath, hivePath))
        return SubkeyNames(hivePath, out);
    // A key above the mount point holds the next component of the mount path.
    if (root != root_)
        return false;
    auto parts = SplitKeyPath(keyPath);
    if (parts.size() >= mount_.size())
        return false;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (FoldCase(parts[i]) != FoldCase(mount_[i]))
            return false;
    }
    out.push_back(mount_[parts.size()]);
    return true;
}

} // namespace oriel::platform
