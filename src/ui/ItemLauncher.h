// Hands a cached item's file or URL to another program: the desktop's
// handler for a file (xdg-open through QDesktopServices), the desktop's
// handler for a URL, or a named program started detached. Every launch is
// fire-and-forget; only opening a file reports a result, as a shell result
// code (above 32 for success; 2 the file is not there, 5 access denied, 31
// no program is associated with it), for the trace log.
//
// The window uses one process-wide launcher; tests put their own in place
// (ScopedItemLauncher) to see what would have been launched.
#pragma once

#include <string>
#include <vector>

namespace oriel {

class ItemLauncher {
public:
    virtual ~ItemLauncher() = default;
    // The desktop's default program for the file at `path`.
    virtual int OpenFile(const std::string& path) = 0;
    // The desktop's handler for `url` (the default browser).
    virtual void OpenUrl(const std::string& url) = 0;
    // `command[0]` started detached with the rest as its arguments, each
    // one argument whatever blanks it holds.
    virtual void StartProgram(const std::vector<std::string>& command) = 0;
};

// QDesktopServices and QProcess::startDetached.
class DesktopLauncher final : public ItemLauncher {
public:
    int OpenFile(const std::string& path) override;
    void OpenUrl(const std::string& url) override;
    void StartProgram(const std::vector<std::string>& command) override;
};

// The launcher in use (a DesktopLauncher unless one was put in place).
ItemLauncher& CurrentItemLauncher();

// Puts a launcher in place for its lifetime.
class ScopedItemLauncher {
public:
    explicit ScopedItemLauncher(ItemLauncher& launcher);
    ~ScopedItemLauncher();
    ScopedItemLauncher(const ScopedItemLauncher&) = delete;
    ScopedItemLauncher& operator=(const ScopedItemLauncher&) = delete;

private:
    ItemLauncher* previous_;
};

// URLs with these schemes are handed to the desktop (http, https, ftp);
// a cached URL of another scheme (file:, javascript:, a custom handler's)
// could start an arbitrary local program and is not opened.
bool IsOpenableUrl(const std::string& url);

} // namespace oriel
