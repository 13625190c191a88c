#include "support/TestContext.h"

#include "app/OptionStore.h"
#include "support/TestEnvironment.h"

namespace oriel::test {

AppOptions& Options()
{
    static AppOptions options;
    return options;
}

AppOptions& FreshOptions()
{
    Options() = AppOptions{};
    return Options();
}

AppContext& Context()
{
    // The store is the test binary's private one (TestEnvironment).
    static AppContext context(Options(), OptionStore::Instance());
    return context;
}

SystemScope::SystemScope(std::shared_ptr<const platform::WindowsSystem> system,
                         std::shared_ptr<const platform::RegistryReader> registry)
{
    Context().SetSystem(std::move(system));
    Context().SetRegistry(std::move(registry));
}

SystemScope::~SystemScope()
{
    Context().SetExaminedSystem({});
}

TraceCapture::TraceCapture(std::string file)
    : file_(std::move(file))
{
    OptionStore::Instance().WriteString("Options", "MessageDumpFile", file_);
    log_ = std::make_unique<CTraceLog>(OptionStore::Instance());
    Context().SetLog(log_.get());
}

TraceCapture::~TraceCapture()
{
    Context().SetLog(nullptr);
    OptionStore::Instance().WriteString("Options", "MessageDumpFile", "");
}

std::string TraceCapture::Text() const
{
    return ReadWholeFile(file_);
}

} // namespace oriel::test

namespace oriel::test {

std::shared_ptr<const platform::WindowsSystem> InstallSystem(const platform::SystemConfig& config)
{
    platform::ExaminedSystem examined = platform::OpenExaminedSystem(config);
    auto system = examined.system;
    Context().SetExaminedSystem(std::move(examined));
    return system;
}

} // namespace oriel::test
