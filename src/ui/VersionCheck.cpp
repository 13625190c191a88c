#include "ui/VersionCheck.h"

#include "app/AppOptions.h"
#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QHostAddress>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QDeadlineTimer>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <vector>

namespace oriel {

namespace {

// Milliseconds the request may take in all.
constexpr int kTimeout = 20000;
constexpr qint64 kMaxReply = 64;
constexpr size_t kMaxErrorText = 2047;

std::vector<std::string_view> Components(std::string_view text)
{
    std::vector<std::string_view> parts;
    size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == '.') {
            ++pos;
            continue;
        }
        const size_t end = std::min(text.find('.', pos), text.size());
        parts.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return parts;
}

bool IsLoopback(const QString& host)
{
    const QHostAddress address(host);
    return host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0 ||
           (!address.isNull() && address.isLoopback());
}

} // namespace

std::optional<VersionServer> ParseVersionServer(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(u':'))
        return std::nullopt;
    VersionServer server;
    const int colon = trimmed.lastIndexOf(u':');
    // "host:port"; an IPv6 address only in brackets ("[::1]:8080").
    if (colon > 0 && trimmed.indexOf(u':') == colon) {
        bool ok = false;
        const uint port = trimmed.mid(colon + 1).toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return std::nullopt;
        server.port = quint16(port);
        server.host = trimmed.left(colon);
    } else if (trimmed.startsWith(u'[') && trimmed.contains(QStringLiteral("]:"))) {
        const int close = trimmed.indexOf(QStringLiteral("]:"));
        bool ok = false;
        const uint port = trimmed.mid(close + 2).toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return std::nullopt;
        server.port = quint16(port);
        server.host = trimmed.mid(1, close - 1);
    } else {
        server.host = trimmed;
    }
    if (server.host.isEmpty())
        return std::nullopt;
    return server;
}

VersionServer ConfiguredVersionServer(const OptionStore& store)
{
    if (auto fromEnvironment = ParseVersionServer(qEnvironmentVariable("ORIEL_VERSION_HOST")))
        return *fromEnvironment;
    if (auto fromOptions = ParseVersionServer(QString::fromStdString(store.ReadString("Options", "VersionHost", ""))))
        return *fromOptions;
    return VersionServer{QString::fromUtf8(LoadString(IDS_VERSION_HOST)), 80};
}

std::string VersionRequest(std::string_view user, std::string_view version)
{
    return "version?user=" + std::string(user) + "&rev=" + std::string(version);
}

std::optional<std::string> VersionReplyText(const QByteArray& body)
{
    const QByteArray head = body.left(kMaxReply);
    if (head.size() <= 1)
        return std::nullopt;
    std::string text = head.toStdString();
    // Bytes after a zero byte would end the text.
    text = std::string(text.c_str());
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

bool IsNewerVersion(std::string_view remote, std::string_view local)
{
    const std::vector<std::string_view> theirs = Components(remote);
    const std::vector<std::string_view> ours = Components(local);
    for (size_t i = 0; i < theirs.size() && i < ours.size(); ++i) {
        const int order = theirs[i].compare(ours[i]);
        if (order > 0)
            return true;
        if (order < 0)
            return false;
    }
    return false;
}

HttpVersionSource::HttpVersionSource(VersionServer server, platform::LogSink* log)
    : server_(std::move(server))
    , log_(log)
{
}

std::optional<std::string> HttpVersionSource::FetchVersion(const std::string& request,
                                                           const std::atomic<bool>& cancelled)
{
    QNetworkAccessManager network;
    // The platform's proxy settings, but never for a server on this machine.
    if (IsLoopback(server_.host))
        network.setProxy(QNetworkProxy::NoProxy);
    else
        QNetworkProxyFactory::setUseSystemConfiguration(true);

    QUrl url(QStringLiteral("http://%1/").arg(server_.host.contains(u':') ? u'[' + server_.host + u']' : server_.host) +
             QString::fromStdString(request));
    url.setPort(server_.port);
    QNetworkRequest get(url);
    get.setHeader(QNetworkRequest::UserAgentHeader, QCoreApplication::applicationName().isEmpty()
                                                        ? QStringLiteral("Oriel")
                                                        : QCoreApplication::applicationName());
    // Always asked of the server, never kept.
    get.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    get.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    get.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    get.setTransferTimeout(kTimeout);

    std::unique_ptr<QNetworkReply> reply(network.get(get));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (cancelled)
            reply->abort();
    });
    poll.start(50);
    if (!reply->isFinished())
        loop.exec();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        // No answer at all: refused, unreachable, no such host, timed out.
        if (!cancelled) {
            platform::WriteLog(log_, LoadString(IDS_INTERNET_EXCEPTION));
            const std::string description = reply->errorString().toStdString();
            if (!description.empty())
                platform::WriteLog(log_, description.substr(0, kMaxErrorText));
        }
        return std::nullopt;
    }
    if (status.toInt() != 200)
        return std::nullopt;
    return VersionReplyText(reply->read(kMaxReply));
}

OnlineVersionCheck::OnlineVersionCheck(std::unique_ptr<VersionSource> source, VersionServer server, QObject* receiver,
                                       std::string user)
    : source_(std::move(source))
    , server_(std::move(server))
    , receiver_(receiver)
    , user_(std::move(user))
{
}

OnlineVersionCheck::~OnlineVersionCheck()
{
    if (thread_) {
        cancelled_ = true;
        thread_->wait();
        delete thread_;
    }
}

void OnlineVersionCheck::Start()
{
    if (thread_)
        return;
    thread_ = QThread::create([this] {
        const std::optional<std::string> newest =
            source_->FetchVersion(VersionRequest(user_, CCacheApp::kVersionText), cancelled_);
        if (newest && !cancelled_ && IsNewerVersion(*newest, CCacheApp::kVersionText))
            QCoreApplication::postEvent(receiver_, new NewVersionEvent(server_));
    });
    thread_->start();
}

bool OnlineVersionCheck::Wait(int milliseconds)
{
    return !thread_ || thread_->wait(QDeadlineTimer(milliseconds));
}

std::unique_ptr<OnlineVersionCheck> StartVersionCheck(const AppOptions& options, const OptionStore& store,
                                                      platform::LogSink* log, QObject* receiver)
{
    if (options.checkVersionOnStartup == 0)
        return nullptr;
    const VersionServer server = ConfiguredVersionServer(store);
    auto check = std::make_unique<OnlineVersionCheck>(std::make_unique<HttpVersionSource>(server, log), server, receiver);
    check->Start();
    return check;
}

bool AskToOpenDownloadPage(QWidget* parent, const VersionServer& server)
{
    const auto answer = QMessageBox::question(parent, QString::fromUtf8(LoadString(IDS_APP_TITLE)),
                                              QString::fromUtf8(LoadString(IDS_NEW_VERSION_AVAILABLE)),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes)
        return false;
    QString host = server.host;
    if (server.port != 80)
        host += QStringLiteral(":%1").arg(server.port);
    QDesktopServices::openUrl(QUrl(QStringLiteral("http://") + host + QStringLiteral("/download")));
    return true;
}

} // namespace oriel
