// Writes Netscape registry files (nsreg.dat, Mozilla's registry.dat): the
// "ADdv" header in bytes 0 to 127, the root key's name "/" at 128 and its
// descriptor at 130, then, key by key in tree order, each record's name and
// 32-byte descriptor, an entry's value buffer before its descriptor.
//
//   NSRegistryWriter w;
//   w.setString("Common\\Profiles\\default", "directory", "C:\\Moz\\default");
//   w.writeTo(path);
//
// Key paths name keys below the root, separated by backslashes, without a
// trailing one. After build(), keyOffset and entryOffset give where each
// descriptor went, for tests that damage a file on purpose.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oriel::test {

class NSRegistryWriter {
public:
    static constexpr uint32_t kRootOffset = 130;
    static constexpr uint32_t kDescriptorSize = 32;
    static constexpr uint16_t kTypeKey = 1;
    static constexpr uint16_t kTypeString = 0x11;

    NSRegistryWriter();
    ~NSRegistryWriter();
    NSRegistryWriter(NSRegistryWriter&&) noexcept;
    NSRegistryWriter& operator=(NSRegistryWriter&&) noexcept;

    // Adds the key and any missing parent; keys keep the order they were added in.
    NSRegistryWriter& addKey(const std::string& path);
    // Sets a string entry of the key (created when missing). `bufferSize`
    // is the size of the value's buffer; 0 gives the text and its NUL.
    NSRegistryWriter& setString(const std::string& keyPath, const std::string& name, const std::string& value,
                                uint32_t bufferSize = 0);

    // The file's bytes.
    std::string build();
    std::string writeTo(const std::string& path);

    // Offsets of the descriptors of the last build; 0 when there is none.
    uint32_t keyOffset(const std::string& path) const;
    uint32_t entryOffset(const std::string& keyPath, const std::string& name) const;
    // Offset of a record's name, from its descriptor.
    static uint32_t NameOffsetOf(const std::string& bytes, uint32_t descriptor);

private:
    struct Entry {
        std::string name;
        std::string value;
        uint32_t bufferSize = 0;
    };
    struct Key {
        std::string name;
        std::vector<std::unique_ptr<Key>> children;
        std::vector<Entry> entries;
    };
    Key& find(const std::string& path);

    std::unique_ptr<Key> root_;
    std::map<std::string, uint32_t> keyOffsets_;
    std::map<std::string, uint32_t> entryOffsets_;
};

// Where a Mozilla registry file keeps its profile list.
enum class MozillaRegistryLayout {
    Common,      // "Common\Profiles\<name>", as Mozilla writes it ("Users" is empty)
    UsersCommon, // "Users\Common\Profiles\<name>"
};

struct MozillaRegistryProfile {
    std::string name;
    std::optional<std::string> directory; // a Windows path
    std::optional<std::string> migrated;  // "yes" or "no"
};

// A registry.dat listing the profiles in the given layout, in order, with
// the other root keys a Mozilla registry file has.
NSRegistryWriter MozillaProfileRegistry(MozillaRegistryLayout layout,
                                        const std::vector<MozillaRegistryProfile>& profiles);

// Puts a 32-bit little-endian value at `offset` (growing the bytes as needed).
void PutLE32(std::string& bytes, size_t offset, uint32_t value);

} // namespace oriel::test
