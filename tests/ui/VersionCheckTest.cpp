// The online version check against an HTTP server on the loopback: the
// request it sends, the comparison of the reply with 2.8.03 (2.8.04 with
// and without a line feed, 2.8.03, 2.8, 2.9, 2.10.0, 3, 2..8.04), a 404,
// an empty body, a refused connection (logged only), and no connection at
// all with the check off.
#include "ui/VersionCheck.h"

#include "UiTestSupport.h"
#include "app/AppOptions.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>

#include <mutex>

using namespace oriel;
using namespace oriel::test;

namespace {

// Answers every request with one status and body, and keeps the request
// lines it saw.
class VersionServerStub : public QObject {
public:
    VersionServerStub()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                ++connections;
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Answer(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QString Host() const { return QStringLiteral("127.0.0.1:%1").arg(server_.serverPort()); }
    void Reply(int status, QByteArray body)
    {
        status_ = status;
        body_ = std::move(body);
    }

    int connections = 0;
    QStringList requestLines;
    QStringList userAgents;

private:
    void Answer(QTcpSocket* socket)
    {
        QByteArray& buffer = pending_[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> lines = buffer.split('\n');
        requestLines << QString::fromLatin1(lines.front().trimmed());
        for (const QByteArray& line : lines) {
            if (line.toLower().startsWith("user-agent:"))
                userAgents << QString::fromLatin1(line.mid(11).trimmed());
        }
        pending_.remove(socket);
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(status_) + (status_ == 200 ? " OK" : " Not Found") +
                           "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body_.size()) +
                           "\r\nConnection: close\r\n\r\n" + body_;
        socket->write(reply);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    int status_ = 200;
    QByteArray body_;
    QHash<QTcpSocket*, QByteArray> pending_;
};

// Counts the new-version events posted to it.
class Receiver : public QObject {
public:
    int events = 0;
    QString host;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == NewVersionEvent::kType) {
            ++events;
            host = static_cast<NewVersionEvent*>(event)->Server().host;
            return true;
        }
        return QObject::event(event);
    }
};

class LineLog : public platform::LogSink {
public:
    void Write(std::string_view text) override
    {
        std::lock_guard lock(mutex);
        lines.emplace_back(text);
    }
    void WriteBytes(const void* data, size_t length) override { Write({static_cast<const char*>(data), length}); }
    std::vector<std::string> Lines()
    {
        std::lock_guard lock(mutex);
        return lines;
    }
    std::mutex mutex;
    std::vector<std::string> lines;
};

// Runs one check against `server` to its end (the event loop turning, so
// that the stub answers); the number of events posted.
int RunCheck(const VersionServer& server, Receiver& receiver, platform::LogSink* log = nullptr)
{
    OnlineVersionCheck check(std::make_unique<HttpVersionSource>(server, log), server, &receiver);
    check.Start();
    if (!QTest::qWaitFor([&] { return check.Wait(0); }, 30000))
        qFatal("the version check did not end");
    QCoreApplication::sendPostedEvents(&receiver);
    return receiver.events;
}

} // namespace

class VersionCheckTest : public QObject {
    Q_OBJECT
private slots:
    void ComponentsCompareAsStrings_data();
    void ComponentsCompareAsStrings();
    void TheReplyCountsUpTo64BytesLessAFinalLineFeed();
    void TheServerIsConfigurable();
    void RepliesOfALocalServerDecideThePrompt_data();
    void RepliesOfALocalServerDecideThePrompt();
    void ARefusedConnectionIsOnlyLogged();
    void NothingGoesOutWithTheCheckOff();
};

void VersionCheckTest::ComponentsCompareAsStrings_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<bool>("newer");
    QTest::newRow("2.8.04") << "2.8.04" << true;
    QTest::newRow("2.8.03") << "2.8.03" << false;
    QTest::newRow("2.8: the local side has a component left") << "2.8" << false;
    QTest::newRow("2.9") << "2.9" << true;
    QTest::newRow("2.10.0: 10 sorts before 8") << "2.10.0" << false;
    QTest::newRow("3") << "3" << true;
    QTest::newRow("2..8.04") << "2..8.04" << true;
    QTest::newRow(".2.8.04: a leading dot") << ".2.8.04" << true;
    QTest::newRow("2.8.02") << "2.8.02" << false;
    QTest::newRow("1.9.99") << "1.9.99" << false;
}

void VersionCheckTest::ComponentsCompareAsStrings()
{
    QFETCH(QString, remote);
    QFETCH(bool, newer);
    QCOMPARE(IsNewerVersion(remote.toStdString(), "2.8.03"), newer);
}

void VersionCheckTest::TheReplyCountsUpTo64BytesLessAFinalLineFeed()
{
    QCOMPARE(VersionReplyText("2.8.04\n"), std::optional<std::string>("2.8.04"));
    QCOMPARE(VersionReplyText("2.8.04\r\n"), std::optional<std::string>("2.8.04\r"));
    QCOMPARE(VersionReplyText("2.8.04\n\n"), std::optional<std::string>("2.8.04\n"));
    QCOMPARE(VersionReplyText("3"), std::optional<std::string>());
    QCOMPARE(VersionReplyText(""), std::optional<std::string>());
    const QByteArray longer(100, '9');
    QCOMPARE(VersionReplyText(longer)->size(), size_t(64));
    QCOMPARE(VersionRequest("", "2.8.03"), std::string("version?user=&rev=2.8.03"));
    QCOMPARE(VersionRequest("jane doe", "2.8.03"), std::string("version?user=jane doe&rev=2.8.03"));
}

void VersionCheckTest::TheServerIsConfigurable()
{
    OptionStore& store = OptionStore::Instance();
    qunsetenv("ORIEL_VERSION_HOST");
    store.WriteString("Options", "VersionHost", "");
    VersionServer server = ConfiguredVersionServer(store);
    // The built-in host never names a real server.
    QCOMPARE(server.host, QString::fromUtf8(LoadString(IDS_VERSION_HOST)));
    QVERIFY(server.host.endsWith(".invalid"));
    QCOMPARE(server.port, quint16(80));
    store.WriteString("Options", "VersionHost", "updates.example:8080");
    server = ConfiguredVersionServer(store);
    QCOMPARE(server.host, QString("updates.example"));
    QCOMPARE(server.port, quint16(8080));
    qputenv("ORIEL_VERSION_HOST", "127.0.0.1:9");
    server = ConfiguredVersionServer(store);
    QCOMPARE(server.host, QString("127.0.0.1"));
    QCOMPARE(server.port, quint16(9));
    qunsetenv("ORIEL_VERSION_HOST");
    store.WriteString("Options", "VersionHost", "");
    QVERIFY(!ParseVersionServer("host:0"));
    QVERIFY(!ParseVersionServer("host:70000"));
    QVERIFY(!ParseVersionServer(":80"));
    QCOMPARE(ParseVersionServer("[::1]:8080")->host, QString("::1"));
}

void VersionCheckTest::RepliesOfALocalServerDecideThePrompt_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("prompt");
    QTest::newRow("2.8.04") << 200 << QByteArray("2.8.04") << true;
    QTest::newRow("2.8.04 and a line feed") << 200 << QByteArray("2.8.04\n") << true;
    QTest::newRow("2.8.03") << 200 << QByteArray("2.8.03\n") << false;
    QTest::newRow("2.8") << 200 << QByteArray("2.8") << false;
    QTest::newRow("2.9") << 200 << QByteArray("2.9\n") << true;
    QTest::newRow("2.10.0") << 200 << QByteArray("2.10.0") << false;
    QTest::newRow("3 and a line feed: two bytes") << 200 << QByteArray("3\n") << true;
    QTest::newRow("3 alone: one byte is too short") << 200 << QByteArray("3") << false;
    QTest::newRow("2..8.04") << 200 << QByteArray("2..8.04") << true;
    QTest::newRow("404 with a newer text") << 404 << QByteArray("2.9.99") << false;
    QTest::newRow("an empty body") << 200 << QByteArray() << false;
}

void VersionCheckTest::RepliesOfALocalServerDecideThePrompt()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, prompt);
    VersionServerStub stub;
    stub.Reply(status, body);
    Receiver receiver;
    LineLog log;
    const VersionServer server = *ParseVersionServer(stub.Host());
    QCOMPARE(RunCheck(server, receiver, &log), prompt ? 1 : 0);
    QCOMPARE(stub.requestLines, QStringList{"GET /version?user=&rev=2.8.03 HTTP/1.1"});
    QCOMPARE(stub.userAgents.size(), 1);
    if (prompt)
        QCOMPARE(receiver.host, QString("127.0.0.1"));
    // A server that answered leaves nothing in the log, whatever it said.
    QVERIFY(log.Lines().empty());
}

void VersionCheckTest::ARefusedConnectionIsOnlyLogged()
{
    // A port that was just free: nobody listens there.
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    Receiver receiver;
    LineLog log;
    QCOMPARE(RunCheck(VersionServer{QStringLiteral("127.0.0.1"), port}, receiver, &log), 0);
    const std::vector<std::string> lines = log.Lines();
    QVERIFY(!lines.empty());
    QCOMPARE(lines.front(), std::string("Exception occured on internet access."));
    QCOMPARE(lines.size(), size_t(2)); // and the description
}

void VersionCheckTest::NothingGoesOutWithTheCheckOff()
{
    VersionServerStub stub;
    stub.Reply(200, "9.9.99\n");
    qputenv("ORIEL_VERSION_HOST", stub.Host().toLatin1());
    Receiver receiver;
    AppOptions options;
    options.checkVersionOnStartup = 0;
    QVERIFY(!StartVersionCheck(options, OptionStore::Instance(), nullptr, &receiver));
    // The same start with the check on reaches the server once; the one
    // turned off has not (it would have been the first).
    options.checkVersionOnStartup = 1;
    std::unique_ptr<OnlineVersionCheck> on = StartVersionCheck(options, OptionStore::Instance(), nullptr, &receiver);
    QVERIFY(on);
    QVERIFY(QTest::qWaitFor([&] { return on->Wait(0); }, 30000));
    qunsetenv("ORIEL_VERSION_HOST");
    QCoreApplication::sendPostedEvents(&receiver);
    QCOMPARE(stub.connections, 1);
    QCOMPARE(receiver.events, 1);
}

ORIEL_UI_TEST_MAIN(VersionCheckTest)
#include "VersionCheckTest.moc"
