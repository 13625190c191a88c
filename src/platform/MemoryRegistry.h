// A registry held in memory: what .reg files are read into, and what the
// composite registry of the examined system is made of. Key paths and value
// names compare without regard to case; subkeys keep their first spelling
// and the order in which they were first created.
#pragma once

#include "platform/RegistryReader.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace oriel::platform {

class MemoryRegistry : public RegistryReader {
public:
    enum class ValueType { String, ExpandString, MultiString, Other };
    struct Value {
        ValueType type = ValueType::String;
        std::string text; // UTF-8; MultiString entries joined by '\0'
    };
    struct Key {
        std::string name;
        std::map<std::string, Value> values;                 // by folded name
        std::map<std::string, std::unique_ptr<Key>> subkeys; // by folded name
        std::vector<std::string> order;                      // folded names in creation order
    };

    MemoryRegistry();

    // Creates the key (and its parents) if needed.
    Key& CreateKey(RootKey root, std::string_view keyPath);
    const Key* FindKey(RootKey root, std::string_view keyPath) const;
    void SetValue(RootKey root, std::string_view keyPath, std::string_view valueName, Value value);
    void SetString(RootKey root, std::string_view keyPath, std::string_view valueName, std::string_view text)
    {
        SetValue(root, keyPath, valueName, Value{ValueType::String, std::string(text)});
    }
    // Removes a key and its subtree; removes a value. Missing ones are ignored.
    void DeleteKey(RootKey root, std::string_view keyPath);
    void DeleteValue(RootKey root, std::string_view keyPath, std::string_view valueName);

    int QueryString(RootKey root, std::string_view keyPath, std::string_view valueName,
                    std::string& out) const override;
    bool EnumSubkeys(RootKey root, std::string_view keyPath, std::vector<std::string>& out) const override;

    static std::string Fold(std::string_view name);

private:
    Key roots_[3];
};

} // namespace oriel::platform
