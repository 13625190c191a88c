#include "platform/SystemRegistry.h"

#include "platform/CaseFold.h"
#include "platform/HiveRegistry.h"
#include "platform/MemoryRegistry.h"
#include "platform/RegFile.h"

#include <set>

namespace oriel::platform {

namespace {

std::string JoinPath(std::string_view a, std::string_view b)
{
    if (a.empty())
        return std::string(b);
    if (b.empty())
        return std::string(a);
    std::string out(a);
    out += '\\';
    out += b;
    return out;
}

// HKEY_LOCAL_MACHINE\Software\X... -> X... ; false for other keys.
bool StripSoftware(std::string_view keyPath, std::string& rest)
{
    auto parts = SplitKeyPath(keyPath);
    if (parts.empty() || FoldCase(parts[0]) != "software")
        return false;
    rest.clear();
    for (size_t i = 1; i < parts.size(); ++i)
        rest = JoinPath(rest, parts[i]);
    return true;
}

class SystemRegistry final : public RegistryReader {
public:
    SystemRegistry(const RegistrySources& sources, std::vector<std::string>* warnings)
    {
        auto note = [&](std::string& problem) {
            if (warnings && !problem.empty())
                warnings->push_back(std::move(problem));
            problem.clear();
        };
        std::string problem;
        if (!sources.softwareHive.empty()) {
            machine_ = HiveRegistry::Open(sources.softwareHive, RootKey::LocalMachine, "Software", &problem);
            note(problem);
        }
        if (!sources.userHive.empty()) {
            user_ = HiveRegistry::Open(sources.userHive, RootKey::CurrentUser, "", &problem);
            note(problem);
        }
        for (const std::string& file : sources.regFiles) {
            RegFile::Apply(file, exports_, &problem);
            note(problem);
        }
    }

    int QueryString(RootKey root, std::string_view keyPath, std::string_view valueName,
                    std::string& out) const override
    {
        const auto layers = Layers(root, keyPath);
        const std::string folded = FoldCase(valueName);
        for (size_t i = 0; i < layers.size(); ++i) {
            const Layer& layer = layers[i];
            if (ValueHidden(layers, i, valueName))
                continue;
            if (!layer.hive) {
                const MemoryRegistry::Key* key = exports_.FindKey(layer.root, layer.path);
                if (!key)
                    continue;
                auto it = key->values.find(folded);
                if (it == key->values.end())
                    continue;
                if (it->second.type != MemoryRegistry::ValueType::String)
                    return -1;
                out = it->second.text;
                return int(out.size() + 1);
            }
            std::string text;
            switch (layer.hive->LookupValue(layer.path, valueName, &text)) {
            case HiveRegistry::ValueKind::Missing:
                continue;
            case HiveRegistry::ValueKind::OtherType:
                return -1;
            case HiveRegistry::ValueKind::String:
                out = std::move(text);
                return int(out.size() + 1);
            }
        }
        return -1;
    }

    bool EnumSubkeys(RootKey root, std::string_view keyPath, std::vector<std::string>& out) const override
    {
        const auto layers = Layers(root, keyPath);
        bool exists = false;
        std::vector<std::string> names;
        std::set<std::string> seen;
        auto add = [&](const std::string& name, size_t layer) {
            if (ChildHidden(layers, layer, name))
                return;
            if (seen.insert(FoldCase(name)).second)
                names.push_back(name);
        };
        // The hives' subkeys in the hives' order come first, then those
        // that only the .reg files add.
        if (root == RootKey::LocalMachine && SplitKeyPath(keyPath).empty() && machine_ &&
            !exports_.KeyDeleted(RootKey::LocalMachine, "Software")) {
            exists = true;
            add("SOFTWARE", 0);
        }
        for (size_t i = 0; i < layers.size(); ++i) {
            const Layer& layer = layers[i];
            if (!layer.hive || KeyHidden(layers, i))
                continue;
            std::vector<std::string> hiveNames;
            if (!layer.hive->SubkeyNames(layer.path, hiveNames))
                continue;
            exists = true;
            for (const std::string& name : hiveNames)
                add(name, i);
        }
        for (size_t i = 0; i < layers.size(); ++i) {
            const Layer& layer = layers[i];
            if (layer.hive || KeyHidden(layers, i))
                continue;
            const MemoryRegistry::Key* key = exports_.FindKey(layer.root, layer.path);
            if (!key)
                continue;
            exists = true;
            for (const std::string& folded : key->order)
                add(key->subkeys.at(folded)->name, i);
        }
        if (!exists)
            return false;
        out.insert(out.end(), names.begin(), names.end());
        return true;
    }

private:
    // One place where a key of the composite registry may be found, from the
    // one that wins to the one that loses. A .reg layer (hive == nullptr)
    // hides what its files deleted from the hive layers after it up to the
    // next .reg layer, or from every layer after it when hidesAll is set.
    struct Layer {
        const HiveRegistry* hive = nullptr;
        RootKey root = RootKey::LocalMachine; // of a .reg layer
        std::string path;                     // key path within the layer
        bool hidesAll = false;
    };

    std::vector<Layer> Layers(RootKey root, std::string_view keyPath) const
    {
        std::vector<Layer> layers;
        switch (root) {
        case RootKey::LocalMachine: {
            layers.push_back({nullptr, RootKey::LocalMachine, std::string(keyPath), false});
            std::string rest;
            if (machine_ && StripSoftware(keyPath, rest))
                layers.push_back({machine_.get(), RootKey::LocalMachine, rest, false});
            break;
        }
        case RootKey::CurrentUser:
            layers.push_back({nullptr, RootKey::CurrentUser, std::string(keyPath), false});
            if (user_)
                layers.push_back({user_.get(), RootKey::CurrentUser, std::string(keyPath), false});
            break;
        case RootKey::ClassesRoot: {
            const std::string classes = JoinPath("Software\\Classes", keyPath);
            layers.push_back({nullptr, RootKey::ClassesRoot, std::string(keyPath), true});
            layers.push_back({nullptr, RootKey::CurrentUser, classes, false});
            if (user_)
                layers.push_back({user_.get(), RootKey::CurrentUser, classes, false});
            layers.push_back({nullptr, RootKey::LocalMachine, classes, false});
            if (machine_)
                layers.push_back({machine_.get(), RootKey::LocalMachine, JoinPath("Classes", keyPath), false});
            break;
        }
        }
        return layers;
    }

    // The .reg layers whose deletions hide layer `index`.
    template <typename Test>
    bool HiddenBy(const std::vector<Layer>& layers, size_t index, Test deleted) const
    {
        bool sameGroup = true;
        for (size_t j = index; j-- > 0;) {
            const Layer& layer = layers[j];
            if (layer.hive)
                continue;
            bool governs = layer.hidesAll || (sameGroup && layers[index].hive);
            sameGroup = false;
            if (governs && deleted(layer))
                return true;
        }
        return false;
    }

    bool KeyHidden(const std::vector<Layer>& layers, size_t index) const
    {
        return HiddenBy(layers, index, [&](const Layer& l) { return exports_.KeyDeleted(l.root, l.path); });
    }

    bool ChildHidden(const std::vector<Layer>& layers, size_t index, const std::string& name) const
    {
        return HiddenBy(layers, index,
                        [&](const Layer& l) { return exports_.KeyDeleted(l.root, JoinPath(l.path, name)); });
    }

    bool ValueHidden(const std::vector<Layer>& layers, size_t index, std::string_view valueName) const
    {
        return HiddenBy(layers, index,
                        [&](const Layer& l) { return exports_.ValueDeleted(l.root, l.path, valueName); });
    }

    std::shared_ptr<HiveRegistry> machine_;
    std::shared_ptr<HiveRegistry> user_;
    MemoryRegistry exports_; // every .reg file, applied in order
};

} // namespace

std::shared_ptr<RegistryReader> OpenSystemRegistry(const RegistrySources& sources, std::vector<std::string>* warnings)
{
    return std::make_shared<SystemRegistry>(sources, warnings);
}

} // namespace oriel::platform
