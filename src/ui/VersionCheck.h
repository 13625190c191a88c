// The online version check: once per start, when "CheckVersionOnStartup"
// is set, a worker thread asks the version server for the newest released
// version ("GET /version?user=...&rev=2.8.03", status 200 only, at most 64
// bytes). When that is newer than the running version, the worker posts a
// NewVersionEvent (type 0x8001) to the application, which asks the user
// whether to open the download page. Failures only go to the trace log.
//
// The server is string 1016 on port 80; the option "Options"/"VersionHost"
// and the environment variable ORIEL_VERSION_HOST ("host" or "host:port")
// name another one (a local server in tests).
#pragma once

#include "platform/LogSink.h"

#include <QEvent>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QByteArray;
class QObject;
class QThread;
class QWidget;

namespace oriel {

struct AppOptions;
class OptionStore;

struct VersionServer {
    QString host;
    quint16 port = 80;
};
// "host" or "host:port"; an empty text or a bad port gives nothing.
std::optional<VersionServer> ParseVersionServer(const QString& text);
// ORIEL_VERSION_HOST, else "Options"/"VersionHost", else string 1016.
VersionServer ConfiguredVersionServer(const OptionStore& store);

// The request text: "version?user=" and the user text unchanged, then
// "&rev=" and the running version.
std::string VersionRequest(std::string_view user, std::string_view version);
// The reply body as it counts: its first 64 bytes less one final line
// feed; nothing for a body of at most 1 byte.
std::optional<std::string> VersionReplyText(const QByteArray& body);
// Both texts split at "." (runs of dots count as one), compared component
// by component as strings; true at the first remote component that is
// greater. A side that runs out ends the comparison: not newer.
bool IsNewerVersion(std::string_view remote, std::string_view local);

// Posted to the application when the server has a newer version.
class NewVersionEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = QEvent::Type(0x8001);
    explicit NewVersionEvent(VersionServer server)
        : QEvent(kType)
        , server_(std::move(server))
    {
    }
    const VersionServer& Server() const { return server_; }

private:
    VersionServer server_;
};

// Where the newest version number comes from.
class VersionSource {
public:
    virtual ~VersionSource() = default;
    // The reply text, or nothing (another status, a short reply, a failure,
    // or `cancelled` set while it waits).
    virtual std::optional<std::string> FetchVersion(const std::string& request, const std::atomic<bool>& cancelled) = 0;
};

// One HTTP GET with Qt Network, on the calling thread (with an event loop
// of its own there); the platform's proxy settings, "Oriel" as user agent.
class HttpVersionSource : public VersionSource {
public:
    HttpVersionSource(VersionServer server, platform::LogSink* log);
    std::optional<std::string> FetchVersion(const std::string& request, const std::atomic<bool>& cancelled) override;

private:
    VersionServer server_;
    platform::LogSink* log_;
};

// The check on its own thread; it touches nothing of the window: its only
// output is the event posted to `receiver`.
class OnlineVersionCheck {
public:
    OnlineVersionCheck(std::unique_ptr<VersionSource> source, VersionServer server, QObject* receiver,
                       std::string user = {});
    // Cancels a request still waiting and waits for the thread.
    ~OnlineVersionCheck();
    OnlineVersionCheck(const OnlineVersionCheck&) = delete;
    OnlineVersionCheck& operator=(const OnlineVersionCheck&) = delete;

    void Start();
    // True once the thread has ended (within `milliseconds`).
    bool Wait(int milliseconds);

private:
    std::unique_ptr<VersionSource> source_;
    VersionServer server_;
    QObject* receiver_;
    std::string user_;
    std::atomic<bool> cancelled_{false};
    QThread* thread_ = nullptr;
};

// The check of a start: null (and no network access at all) when
// "CheckVersionOnStartup" is 0.
std::unique_ptr<OnlineVersionCheck> StartVersionCheck(const AppOptions& options, const OptionStore& store,
                                                      platform::LogSink* log, QObject* receiver);

// The question on the window's thread; Yes opens "http://" + host +
// "/download" in the default browser. Returns whether the page was asked
// for.
bool AskToOpenDownloadPage(QWidget* parent, const VersionServer& server);

} // namespace oriel
