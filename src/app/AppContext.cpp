#include "app/AppContext.h"

namespace oriel {

AppContext::AppContext(const AppOptions& options, OptionStore& store)
    : options_(&options)
    , store_(&store)
{
}

std::shared_ptr<const platform::WindowsSystem> AppContext::System() const
{
    std::lock_guard lock(systemMutex_);
    return examined_.system;
}

std::shared_ptr<const platform::RegistryReader> AppContext::Registry() const
{
    std::lock_guard lock(systemMutex_);
    return examined_.registry;
}

void AppContext::SetExaminedSystem(platform::ExaminedSystem examined)
{
    std::lock_guard lock(systemMutex_);
    examined_ = std::move(examined);
}

void AppContext::SetSystem(std::shared_ptr<const platform::WindowsSystem> system)
{
    std::lock_guard lock(systemMutex_);
    examined_.system = system ? std::move(system) : platform::ExaminedSystem{}.system;
}

void AppContext::SetRegistry(std::shared_ptr<const platform::RegistryReader> registry)
{
    std::lock_guard lock(systemMutex_);
    examined_.registry = registry ? std::move(registry) : platform::ExaminedSystem{}.registry;
}

std::optional<std::string> AppContext::MapWindowsPath(std::string_view windowsPath) const
{
    return System()->MapPath(windowsPath);
}

std::optional<std::string> AppContext::KnownFolderPath(platform::KnownFolder folder) const
{
    return System()->KnownFolderPath(folder, *Registry());
}

} // namespace oriel
