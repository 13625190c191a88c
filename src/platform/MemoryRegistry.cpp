#include "platform/MemoryRegistry.h"

namespace oriel::platform {

namespace {

// The folded components joined by single backslashes.
std::string FoldedPath(const std::vector<std::string_view>& parts)
{
    std::string out;
    for (std::string_view part : parts) {
        if (!out.empty())
            out += '\\';
        out += MemoryRegistry::Fold(part);
    }
    return out;
}

} // namespace

MemoryRegistry::Key::~Key()
{
    std::vector<std::unique_ptr<Key>> pending;
    auto takeChildren = [&pending](Key& key) {
        for (auto& [name, child] : key.subkeys)
            pending.push_back(std::move(child));
        key.subkeys.clear();
    };
    takeChildren(*this);
    while (!pending.empty()) {
        std::unique_ptr<Key> key = std::move(pending.back());
        pending.pop_back();
        takeChildren(*key);
    }
}

MemoryRegistry::MemoryRegistry() = default;

MemoryRegistry::Key& MemoryRegistry::CreateKey(RootKey root, std::string_view keyPath)
{
    Key* key = &roots_[int(root)];
    for (std::string_view part : SplitKeyPath(keyPath)) {
        std::string folded = Fold(part);
        auto it = key->subkeys.find(folded);
        if (it == key->subkeys.end()) {
            auto child = std::make_unique<Key>();
            child->name = std::string(part);
            key->order.push_back(folded);
            it = key->subkeys.emplace(folded, std::move(child)).first;
        }
        key = it->second.get();
    }
    return *key;
}

const MemoryRegistry::Key* MemoryRegistry::FindKey(RootKey root, std::string_view keyPath) const
{
    const Key* key = &roots_[int(root)];
    for (std::string_view part : SplitKeyPath(keyPath)) {
        auto it = key->subkeys.find(Fold(part));
        if (it == key->subkeys.end())
            return nullptr;
        key = it->second.get();
    }
    return key;
}

void MemoryRegistry::SetValue(RootKey root, std::string_view keyPath, std::string_view valueName, Value value)
{
    CreateKey(root, keyPath).values[Fold(valueName)] = std::move(value);
}

void MemoryRegistry::DeleteKey(RootKey root, std::string_view keyPath)
{
    auto parts = SplitKeyPath(keyPath);
    if (parts.empty())
        return;
    deletedKeys_[int(root)].insert(FoldedPath(parts));
    Key* key = &roots_[int(root)];
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        auto it = key->subkeys.find(Fold(parts[i]));
        if (it == key->subkeys.end())
            return;
        key = it->second.get();
    }
    std::string folded = Fold(parts.back());
    if (key->subkeys.erase(folded)) {
        std::erase(key->order, folded);
    }
}

void MemoryRegistry::DeleteValue(RootKey root, std::string_view keyPath, std::string_view valueName)
{
    deletedValues_[int(root)].insert(FoldedPath(SplitKeyPath(keyPath)) + '\0' + Fold(valueName));
    const Key* found = FindKey(root, keyPath);
    if (found)
        const_cast<Key*>(found)->values.erase(Fold(valueName));
}

bool MemoryRegistry::KeyDeleted(RootKey root, std::string_view keyPath) const
{
    const auto& deleted = deletedKeys_[int(root)];
    if (deleted.empty())
        return false;
    std::string prefix;
    for (std::string_view part : SplitKeyPath(keyPath)) {
        if (!prefix.empty())
            prefix += '\\';
        prefix += Fold(part);
        if (deleted.count(prefix))
            return true;
    }
    return false;
}

bool MemoryRegistry::ValueDeleted(RootKey root, std::string_view keyPath, std::string_view valueName) const
{
    const auto& deleted = deletedValues_[int(root)];
    if (!deleted.empty() && deleted.count(FoldedPath(SplitKeyPath(keyPath)) + '\0' + Fold(valueName)))
        return true;
    return KeyDeleted(root, keyPath);
}

int MemoryRegistry::QueryString(RootKey root, std::string_view keyPath, std::string_view valueName,
                                std::string& out) const
{
    const Key* key = FindKey(root, keyPath);
    if (!key)
        return -1;
    auto it = key->values.find(Fold(valueName));
    if (it == key->values.end() || it->second.type != ValueType::String)
        return -1;
    out = it->second.text;
    return int(out.size() + 1);
}

bool MemoryRegistry::EnumSubkeys(RootKey root, std::string_view keyPath, std::vector<std::string>& out) const
{
    const Key* key = FindKey(root, keyPath);
    if (!key)
        return false;
    for (const std::string& folded : key->order)
        out.push_back(key->subkeys.at(folded)->name);
    return true;
}

} // namespace oriel::platform
