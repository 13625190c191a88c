// What caches, loaders and the profile collection need of the running
// application, handed to their constructors: the options, the option store,
// the examined Windows system with its registry, where messages for the user
// go and the trace log. Each face (the window, oriel-cli) builds one; tests
// build their own.
#pragma once

#include "app/AppOptions.h"
#include "app/Messages.h"
#include "platform/LogSink.h"
#include "platform/WindowsSystem.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace oriel {

class OptionStore;

class AppContext {
public:
    // `options` and `store` must outlive the context. Messages go to stderr
    // and nothing is logged until SetMessages and SetLog say otherwise.
    AppContext(const AppOptions& options, OptionStore& store);
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    const AppOptions& Options() const { return *options_; }
    OptionStore& Store() const { return *store_; }

    MessageSink& Messages() const { return *messages_; }
    // Null gives the stderr sink back.
    void SetMessages(MessageSink* sink) { messages_ = sink ? sink : &stderrSink_; }

    platform::LogSink& Log() const { return *log_; }
    void Trace(std::string_view text) const { log_->Write(text); }
    // Null turns logging off.
    void SetLog(platform::LogSink* log) { log_ = log ? log : &noLog_; }

    // The examined system and its registry; replaced only between
    // operations (a new system to examine), read by any thread.
    std::shared_ptr<const platform::WindowsSystem> System() const;
    std::shared_ptr<const platform::RegistryReader> Registry() const;
    void SetExaminedSystem(platform::ExaminedSystem examined);
    void SetSystem(std::shared_ptr<const platform::WindowsSystem> system);
    void SetRegistry(std::shared_ptr<const platform::RegistryReader> registry);

    // A Windows path of the examined system as a host path.
    std::optional<std::string> MapWindowsPath(std::string_view windowsPath) const;
    // A known folder of the examined user or system as a host path.
    std::optional<std::string> KnownFolderPath(platform::KnownFolder folder) const;

private:
    const AppOptions* options_;
    OptionStore* store_;
    StderrMessageSink stderrSink_;
    MessageSink* messages_ = &stderrSink_;
    platform::NullLog noLog_;
    platform::LogSink* log_ = &noLog_;
    mutable std::mutex systemMutex_;
    platform::ExaminedSystem examined_;
};

} // namespace oriel
