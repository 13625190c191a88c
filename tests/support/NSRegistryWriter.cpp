#include "support/NSRegistryWriter.h"

#include "support/TestEnvironment.h"

#include <functional>
#include <stdexcept>

namespace oriel::test {

namespace {

constexpr uint32_t kMagic = 0x76644441; // "ADdv"
constexpr uint32_t kHeaderSize = 128;

void PutLE16(std::string& bytes, size_t offset, uint16_t value)
{
    if (bytes.size() < offset + 2)
        bytes.resize(offset + 2, '\0');
    bytes[offset] = char(value);
    bytes[offset + 1] = char(value >> 8);
}

std::vector<std::string> SplitPath(const std::string& path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('\\', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start)
            parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

} // namespace

void PutLE32(std::string& bytes, size_t offset, uint32_t value)
{
    if (bytes.size() < offset + 4)
        bytes.resize(offset + 4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[offset + size_t(i)] = char(value >> (8 * i));
}

NSRegistryWriter::NSRegistryWriter()
    : root_(std::make_unique<Key>())
{
    root_->name.push_back('/');
}

NSRegistryWriter::~NSRegistryWriter() = default;
NSRegistryWriter::NSRegistryWriter(NSRegistryWriter&&) noexcept = default;
NSRegistryWriter& NSRegistryWriter::operator=(NSRegistryWriter&&) noexcept = default;

NSRegistryWriter::Key& NSRegistryWriter::find(const std::string& path)
{
    Key* key = root_.get();
    for (const std::string& part : SplitPath(path)) {
        Key* next = nullptr;
        for (auto& child : key->children) {
            if (child->name == part)
                next = child.get();
        }
        if (!next) {
            key->children.push_back(std::make_unique<Key>());
            next = key->children.back().get();
            next->name = part;
        }
        key = next;
    }
    return *key;
}

NSRegistryWriter& NSRegistryWriter::addKey(const std::string& path)
{
    find(path);
    return *this;
}

NSRegistryWriter& NSRegistryWriter::setString(const std::string& keyPath, const std::string& name,
                                              const std::string& value, uint32_t bufferSize)
{
    Key& key = find(keyPath);
    for (Entry& entry : key.entries) {
        if (entry.name == name) {
            entry.value = value;
            entry.bufferSize = bufferSize;
            return *this;
        }
    }
    key.entries.push_back({name, value, bufferSize});
    return *this;
}

std::string NSRegistryWriter::build()
{
    keyOffsets_.clear();
    entryOffsets_.clear();
    std::string out(kHeaderSize, '\0');

    // Names, values and descriptors are laid out first, then linked.
    std::map<const Key*, uint32_t> keyAt;
    std::map<const Entry*, uint32_t> entryAt;
    auto appendName = [&](const std::string& name) {
        uint32_t at = uint32_t(out.size());
        out += name;
        out += '\0';
        return at;
    };
    std::function<void(const Key&, const std::string&, uint32_t)> place = [&](const Key& key, const std::string& path,
                                                                              uint32_t parent) {
        uint32_t nameAt = appendName(key.name);
        uint32_t at = uint32_t(out.size());
        out.resize(out.size() + kDescriptorSize, '\0');
        keyAt[&key] = at;
        if (&key != root_.get())
            keyOffsets_[path] = at;
        PutLE32(out, at + 0, at);
        PutLE32(out, at + 4, nameAt);
        PutLE16(out, at + 8, uint16_t(key.name.size() + 1));
        PutLE16(out, at + 10, kTypeKey);
        PutLE32(out, at + 28, parent);
        for (const Entry& entry : key.entries) {
            uint32_t entryName = appendName(entry.name);
            uint32_t valueAt = uint32_t(out.size());
            uint32_t length = uint32_t(entry.value.size() + 1);
            uint32_t buffer = entry.bufferSize ? entry.bufferSize : length;
            out += entry.value;
            out.resize(valueAt + std::max(buffer, length), '\0');
            uint32_t e = uint32_t(out.size());
            out.resize(out.size() + kDescriptorSize, '\0');
            entryAt[&entry] = e;
            entryOffsets_[path + "|" + entry.name] = e;
            PutLE32(out, e + 0, e);
            PutLE32(out, e + 4, entryName);
            PutLE16(out, e + 8, uint16_t(entry.name.size() + 1));
            PutLE16(out, e + 10, kTypeString);
            PutLE32(out, e + 16, buffer);
            PutLE32(out, e + 20, valueAt);
            PutLE32(out, e + 24, length);
            PutLE32(out, e + 28, at);
        }
        for (const auto& child : key.children)
            place(*child, path.empty() ? child->name : path + "\\" + child->name, at);
    };
    place(*root_, "", 0);
    if (keyAt[root_.get()] != kRootOffset)
        throw std::logic_error("the root descriptor must stand at 130");

    std::function<void(const Key&)> link = [&](const Key& key) {
        uint32_t at = keyAt[&key];
        if (!key.children.empty())
            PutLE32(out, at + 16, keyAt[key.children.front().get()]);
        if (!key.entries.empty())
            PutLE32(out, at + 20, entryAt[&key.entries.front()]);
        for (size_t i = 0; i + 1 < key.children.size(); ++i)
            PutLE32(out, keyAt[key.children[i].get()] + 12, keyAt[key.children[i + 1].get()]);
        for (size_t i = 0; i + 1 < key.entries.size(); ++i)
            PutLE32(out, entryAt[&key.entries[i]] + 12, entryAt[&key.entries[i + 1]]);
        for (const auto& child : key.children)
            link(*child);
    };
    link(*root_);

    // The header: magic, version 1.2, the end of the used space, the root.
    PutLE32(out, 0, kMagic);
    PutLE16(out, 4, 1);
    PutLE16(out, 6, 2);
    PutLE32(out, 8, uint32_t(out.size()));
    PutLE32(out, 12, kRootOffset);
    return out;
}

std::string NSRegistryWriter::writeTo(const std::string& path)
{
    WriteFile(path, build());
    return path;
}

uint32_t NSRegistryWriter::keyOffset(const std::string& path) const
{
    auto it = keyOffsets_.find(path);
    return it == keyOffsets_.end() ? 0 : it->second;
}

uint32_t NSRegistryWriter::entryOffset(const std::string& keyPath, const std::string& name) const
{
    auto it = entryOffsets_.find(keyPath + "|" + name);
    return it == entryOffsets_.end() ? 0 : it->second;
}

uint32_t NSRegistryWriter::NameOffsetOf(const std::string& bytes, uint32_t descriptor)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | uint8_t(bytes.at(descriptor + 4 + uint32_t(i)));
    return value;
}

NSRegistryWriter MozillaProfileRegistry(MozillaRegistryLayout layout,
                                        const std::vector<MozillaRegistryProfile>& profiles)
{
    NSRegistryWriter w;
    const bool common = layout == MozillaRegistryLayout::Common;
    const std::string base = common ? "Common\\Profiles" : "Users\\Common\\Profiles";
    w.addKey("Users");
    w.addKey(common ? "Common" : "Users\\Common");
    w.addKey(base);
    if (!profiles.empty())
        w.setString(base, "CurrentProfile", profiles.front().name);
    for (const MozillaRegistryProfile& p : profiles) {
        std::string key = base + "\\" + p.name;
        w.addKey(key);
        if (p.directory)
            w.setString(key, "directory", *p.directory);
        if (p.migrated)
            w.setString(key, "migrated", *p.migrated);
    }
    w.setString("Version Registry", "Version", "1.7.13");
    return w;
}

} // namespace oriel::test
