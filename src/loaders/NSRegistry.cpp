#include "loaders/NSRegistry.h"

#include "platform/ByteReader.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <unordered_set>

namespace oriel {

namespace {

// "Users\Common\" -> {"Users", "Common"}; a trailing name without a
// backslash after it is not part of the path.
std::vector<std::string_view> SplitKeyPath(std::string_view path)
{
    std::vector<std::string_view> segments;
    size_t start = 0;
    for (size_t slash = path.find('\\'); slash != std::string_view::npos; slash = path.find('\\', start)) {
        segments.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return segments;
}

} // namespace

CNSRegistry::~CNSRegistry()
{
    Reset();
}

void CNSRegistry::Reset()
{
    if (file_.is_open())
        file_.close();
    file_.clear();
    open_ = false;
    fileSize_ = 0;
    root_ = {};
    matched_ = {};
}

bool CNSRegistry::Open(const std::string& path)
{
    Trace("Entry - CNSRegistry::Open()");
    Reset();
    bool ok = false;
    if (!platform::OpenPlainFile(file_, path)) {
        Trace("         CFile.Open() fails for " + path);
    } else {
        file_.seekg(0, std::ios::end);
        std::streamoff end = file_.tellg();
        fileSize_ = end > 0 ? uint64_t(end) : 0;
        open_ = true;
        if (auto root = ReadDescriptor(kRootOffset)) {
            root_ = *root;
            ok = true;
        } else {
            // 130 bytes or fewer, or cut inside the root descriptor: no
            // root key to read.
            Reset();
        }
    }
    Trace("Exit - CNSRegistry::Open()");
    return ok;
}

void CNSRegistry::Close()
{
    Trace("Entry - CNSRegistry::Close()");
    Reset();
    Trace("Exit - CNSRegistry::Close()");
}

bool CNSRegistry::ReadAt(uint64_t offset, size_t length, std::string& out)
{
    if (!open_ || offset > fileSize_ || length > fileSize_ - offset)
        return false;
    out.resize(length);
    file_.clear();
    file_.seekg(std::streamoff(offset));
    file_.read(out.data(), std::streamsize(length));
    return file_.gcount() == std::streamsize(length);
}

std::optional<CNSRegistry::Descriptor> CNSRegistry::ReadDescriptor(uint32_t offset)
{
    std::string bytes;
    if (!ReadAt(offset, kDescriptorSize, bytes))
        return std::nullopt;
    ByteReader reader(bytes);
    Descriptor d;
    d.nameOffset = reader.u32le(4).value_or(0);
    d.nameLength = reader.u16le(8).value_or(0);
    d.type = reader.u16le(10).value_or(0);
    d.next = reader.u32le(12).value_or(0);
    d.down = reader.u32le(16).value_or(0);
    d.value = reader.u32le(20).value_or(0);
    return d;
}

std::optional<std::string> CNSRegistry::ReadName(const Descriptor& descriptor)
{
    std::string bytes;
    if (!ReadAt(descriptor.nameOffset, descriptor.nameLength, bytes))
        return std::nullopt;
    ByteReader reader(bytes);
    return std::string(reader.cstring(0, bytes.size()).value_or(std::string_view()));
}

std::optional<CNSRegistry::Descriptor> CNSRegistry::WalkChain(
    uint32_t offset, const std::function<bool(const std::string&)>& visit)
{
    std::unordered_set<uint32_t> seen;
    while (offset != 0 && seen.insert(offset).second) {
        auto record = ReadDescriptor(offset);
        if (!record)
            return std::nullopt;
        if (record->nameOffset != 0) {
            auto name = ReadName(*record);
            if (!name)
                return std::nullopt;
            if (visit(*name))
                return record;
        }
        offset = record->next;
    }
    return std::nullopt;
}

bool CNSRegistry::FindKey(std::string_view keyPath)
{
    if (!open_)
        return false;
    std::vector<std::string_view> segments = SplitKeyPath(keyPath);
    if (segments.empty())
        return false;
    uint32_t offset = root_.down;
    for (std::string_view segment : segments) {
        auto key = WalkChain(offset, [segment](const std::string& name) { return name == segment; });
        if (!key)
            return false;
        matched_ = *key;
        offset = key->down;
    }
    return true;
}

bool CNSRegistry::GetSubkeys(std::string_view keyPath, std::vector<std::string>& out)
{
    if (!FindKey(keyPath))
        return false;
    WalkChain(matched_.down, [&out](const std::string& name) {
        out.push_back(name);
        return false;
    });
    return true;
}

bool CNSRegistry::GetValue(std::string_view keyPath, std::string_view name, std::string& out)
{
    if (!FindKey(keyPath))
        return false;
    auto entry = WalkChain(matched_.value, [name](const std::string& entryName) { return entryName == name; });
    if (!entry || entry->value == 0 || entry->value >= fileSize_)
        return false;
    // A buffer that runs past the end of a cut file still gives its text
    // when the text's NUL is in the file; a text cut short is no value.
    uint64_t available = fileSize_ - entry->value;
    size_t length = size_t(std::min<uint64_t>(entry->down, available));
    std::string bytes;
    if (!ReadAt(entry->value, length, bytes))
        return false;
    size_t nul = bytes.find('\0');
    if (nul == std::string::npos && length < entry->down)
        return false;
    out = bytes.substr(0, nul);
    return true;
}

} // namespace oriel
