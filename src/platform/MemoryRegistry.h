// A registry held in memory: what .reg files are read into, and what the
// composite registry of the examined system is made of. Key paths and value
// names compare without regard to case; subkeys keep their first spelling
// and the order in which they were first created.
#pragma once

#include "platform/CaseFold.h"
#include "platform/RegistryReader.h"

#include <map>
#include <memory>
#include <set>
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
        Key() = default;
        // Frees the subtree without recursing: a hostile .reg file may nest
        // keys far deeper than the stack goes.
        ~Key();
        Key(const Key&) = delete;
        Key& operator=(const Key&) = delete;

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
    // Each deletion is also remembered, so that a registry layered under this
    // one (a hive under .reg files) can hide what was deleted here.
    void DeleteKey(RootKey root, std::string_view keyPath);
    void DeleteValue(RootKey root, std::string_view keyPath, std::string_view valueName);
    // True when the key, or one of its parents, was ever deleted here.
    bool KeyDeleted(RootKey root, std::string_view keyPath) const;
    // True when the value was ever deleted here, or its key was.
    bool ValueDeleted(RootKey root, std::string_view keyPath, std::string_view valueName) const;

    int QueryString(RootKey root, std::string_view keyPath, std::string_view valueName,
                    std::string& out) const override;
    bool EnumSubkeys(RootKey root, std::string_view keyPath, std::vector<std::string>& out) const override;

    // The form in which names are stored and compared.
    static std::string Fold(std::string_view name) { return FoldCase(name); }

private:
    Key roots_[3];
    // Folded paths ("a\\b") of deleted keys; folded path + '\0' + folded name of deleted values.
    std::set<std::string> deletedKeys_[3];
    std::set<std::string> deletedValues_[3];
};

} // namespace oriel::platform
