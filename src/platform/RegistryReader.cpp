#include "platform/RegistryReader.h"

#include <mutex>

namespace oriel::platform {

namespace {
std::mutex g_mutex;
std::shared_ptr<const RegistryReader> g_registry;
} // namespace

std::vector<std::string_view> SplitKeyPath(std::string_view path)
{
    std::vector<std::string_view> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t next = path.find('\\', pos);
        if (next == std::string_view::npos)
            next = path.size();
        if (next > pos)
            parts.push_back(path.substr(pos, next - pos));
        pos = next + 1;
    }
    return parts;
}

std::shared_ptr<const RegistryReader> Registry()
{
    static const auto none = std::make_shared<const NullRegistryReader>();
    std::lock_guard lock(g_mutex);
    return g_registry ? g_registry : none;
}

void SetRegistry(std::shared_ptr<const RegistryReader> registry)
{
    std::lock_guard lock(g_mutex);
    g_registry = std::move(registry);
}

} // namespace oriel::platform
