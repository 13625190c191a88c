// The context the tests' caches, loaders and profile collections run in:
// options of their own, the test binary's private option store, no examined
// system, messages to stderr (MessageCapture records them) and no trace log
// (TraceCapture writes one). A test that needs another system or registry
// sets it on Context() and puts it back (SystemScope).
#pragma once

#include "app/AppContext.h"
#include "app/TraceLog.h"

#include <memory>
#include <string>

namespace oriel::test {

AppContext& Context();
// The options Context() reads; tests change them and put them back.
AppOptions& Options();
// Options() set back to the defaults, for a test that fills them in.
AppOptions& FreshOptions();

// Sets Options() back to the defaults when it goes.
struct OptionsScope {
    OptionsScope() = default;
    OptionsScope(const OptionsScope&) = delete;
    OptionsScope& operator=(const OptionsScope&) = delete;
    ~OptionsScope() { FreshOptions(); }
};

// Gives Context() this system and registry while it lives; afterwards the
// system-less one again.
class SystemScope {
public:
    explicit SystemScope(std::shared_ptr<const platform::WindowsSystem> system,
                         std::shared_ptr<const platform::RegistryReader> registry = nullptr);
    ~SystemScope();
    SystemScope(const SystemScope&) = delete;
    SystemScope& operator=(const SystemScope&) = delete;
};

// Turns the trace log of Context() on into a file of its own for as long as
// it lives.
class TraceCapture {
public:
    explicit TraceCapture(std::string file);
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
    std::string Text() const;

private:
    std::string file_;
    std::unique_ptr<CTraceLog> log_;
};

} // namespace oriel::test

namespace oriel::test {

// Opens the system of `config` with its registry and gives both to
// Context(); returns the system.
std::shared_ptr<const platform::WindowsSystem> InstallSystem(const platform::SystemConfig& config);

} // namespace oriel::test
