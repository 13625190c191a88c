// Writes registry hive files (regf) as Windows keeps them: a 4096-byte base
// block, 4 KiB hive bins and key (nk), value (vk), subkey list (lf or lh),
// value list and security (sk) cells. Key paths are relative to the hive's
// root and separated by '\'; names are UTF-8 and compare without regard to
// case (the first spelling stays).
//
//   HiveWriter h;
//   h.setString("Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths",
//               "Directory", "C:\\Windows\\Temporary Internet Files");
//   h.writeTo(dir + "/SOFTWARE");
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace oriel::test {

class HiveWriter {
public:
    // Minor version 3 writes "lf" subkey lists (Windows XP), 5 writes "lh" (Vista and later).
    explicit HiveWriter(int minorVersion = 5);
    ~HiveWriter();

    HiveWriter& addKey(const std::string& keyPath);
    HiveWriter& setString(const std::string& keyPath, const std::string& name, const std::string& text);
    HiveWriter& setExpandString(const std::string& keyPath, const std::string& name, const std::string& text);
    HiveWriter& setMultiString(const std::string& keyPath, const std::string& name,
                               const std::vector<std::string>& texts);
    HiveWriter& setDword(const std::string& keyPath, const std::string& name, uint32_t value);
    // Any type with raw data (REG_BINARY is 3).
    HiveWriter& setValue(const std::string& keyPath, const std::string& name, uint32_t type, const std::string& data);

    // The name stored in the base block ("\??\C:\Windows\System32\config\SOFTWARE" on Windows).
    HiveWriter& setFileName(const std::string& name);

    std::string bytes() const;
    void writeTo(const std::string& path) const;

    // The UTF-16LE form of `text` with a terminating NUL, as REG_SZ data.
    static std::string Utf16Z(const std::string& text);
    // The hash that an "lh" list stores for a key name.
    static uint32_t NameHash(const std::string& name);

private:
    struct Key;
    Key& key(const std::string& keyPath);

    int minor_;
    std::string fileName_;
    std::unique_ptr<Key> root_;
};

} // namespace oriel::test
