#include "platform/RegistryReader.h"

#include <mutex>

namespace oriel::platform {

namespace {
std::mutex g_mutex;
std::shared_ptr<const RegistryReader> g_registry;
} // namespace

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
