// chronolume-cli web as it runs: the real program in this test's network namespace, fed real
// ArtTimeCode from senders on 127.0.0.2 and 127.0.0.3, read by real WebSocket clients on
// loopback, and by sockets that misbehave on purpose.
#include "patience.h"
#include "sandbox.h"
#include "traffic.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QWebSocket>
#include <QtTest>

using namespace TestSupport;

namespace {

constexpr quint16 kPort = 18080;
const QHostAddress kDesk(QStringLiteral("127.0.0.2"));
const QHostAddress kBackup(QStringLiteral("127.0.0.3"));

QByteArray timecodeDatagram(int frameNumber, quint8 type, quint8 stream)
{
    const int fps = type == 0 ? 24 : type == 1 ? 25 : 30;
    QByteArray datagram = artTimeCode(quint8(frameNumber % fps), quint8(frameNumber / fps % 60),
                                      quint8(frameNumber / fps / 60 % 60), 10, type);
    datagram[13] = char(stream);
    return datagram;
}

// "HH:MM:SS:FF" of the frame above, written out independently of the program.
QString timecodeText(int frameNumber, quint8 type)
{
    const int fps = type == 0 ? 24 : type == 1 ? 25 : 30;
    return QString::asprintf("10:%02d:%02d:%02d", frameNumber / fps / 60 % 60,
                             frameNumber / fps % 60, frameNumber % fps);
}

// The program, serving on loopback until the test ends.
class Server
{
public:
    explicit Server(const QStringList& extra = {})
    {
        process.setProgram(QStringLiteral(CHRONOLUME_CLI));
        process.setArguments(QStringList{QStringLiteral("web"), QStringLiteral("--port"),
                                         QString::number(kPort), QStringLiteral("--bind"),
                                         QStringLiteral("127.0.0.1")} +
                             extra);
        process.start();
    }
    ~Server()
    {
        process.terminate();
        if (!process.waitForFinished(Patience::ms()))
            process.kill();
        process.waitForFinished(Patience::ms());
    }
    // True once it says where it serves: its one address.
    bool ready()
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < Patience::ms()) {
            out += process.readAllStandardOutput();
            if (out ==
                "serving the clock page at http://127.0.0.1:" + QByteArray::number(kPort) + "/\n")
                return true;
            if (process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(100);
        }
        return false;
    }
    bool running() const { return process.state() == QProcess::Running; }
    // Ends it as an operator would; false unless it ended cleanly. What it wrote, in out and err.
    bool finish()
    {
        process.terminate();
        if (!process.waitForFinished(10000))
            return false;
        out += process.readAllStandardOutput();
        err = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    QByteArray out;
    QByteArray err;

private:
    QProcess process;
};

// A page's connection: every state it was sent, as JSON objects, and how many WebSocket
// messages carried them.
class Page
{
public:
    Page()
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString& text) {
            ++received;
            for (const QJsonValue& state : QJsonDocument::fromJson(text.toUtf8()).array())
                messages.append(state.toObject());
        });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(kPort)));
    }
    bool connected() const { return socket.state() == QAbstractSocket::ConnectedState; }
    // The timecodes received for one sender, silence changes left out.
    QStringList timecodes(const QString& address, int stream) const
    {
        QStringList list;
        QString last;
        bool silent = false;
        for (const QJsonObject& m : messages) {
            if (m.value(QStringLiteral("address")).toString() != address ||
                m.value(QStringLiteral("stream")).toInt() != stream)
                continue;
            const bool nowSilent = m.value(QStringLiteral("silent")).toBool();
            // A message that only changes the silence repeats the timecode it had.
            if (nowSilent == silent || !nowSilent)
                list.append(m.value(QStringLiteral("tc")).toString());
            silent = nowSilent;
        }
        return list;
    }
    // The last message for one sender.
    QJsonObject last(const QString& address) const
    {
        for (auto m = messages.crbegin(); m != messages.crend(); ++m)
            if (m->value(QStringLiteral("address")).toString() == address)
                return *m;
        return {};
    }

    QWebSocket socket;
    QList<QJsonObject> messages;
    int received = 0;
    bool closed = false;
};

// What the server answers to a request written as given: one whole response, or everything
// until it closes.
QByteArray answer(const QByteArray& request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, kPort);
    if (!socket.waitForConnected(Patience::ms()))
        return "not connected";
    socket.write(request);
    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < Patience::ms()) {
        socket.waitForReadyRead(100);
        received += socket.readAll();
        // The server keeps the connection for more: a whole response is enough.
        const qsizetype end = received.indexOf("\r\n\r\n");
        const QRegularExpressionMatch length =
            QRegularExpression(QStringLiteral("Content-Length: (\\d+)"),
                               QRegularExpression::CaseInsensitiveOption)
                .match(QString::fromLatin1(received.left(end)));
        if (end >= 0 && length.hasMatch() &&
            received.size() >= end + 4 + length.captured(1).toInt())
            break;
    }
    return received + socket.readAll();
}

QByteArray get(const char* path)
{
    return answer(QByteArray("GET ") + path +
                  " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

const QByteArray kUpgrade("GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                          "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                          "Sec-WebSocket-Version: 13\r\n\r\n");

} // namespace

class TestCliWeb : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    // The page and its files, 404 elsewhere, and input that is not HTTP or not WebSocket
    // answered or closed while the server goes on.
    void servesThePageAndSurvivesMalformedInput()
    {
        Server server;
        QVERIFY(server.ready());
        const QByteArray page = get("/");
        QVERIFY2(page.startsWith("HTTP/1.1 200"), page.left(200).constData());
        QVERIFY(page.contains("clock.js") && page.contains("clock.css"));
        QVERIFY(get("/clock.js").contains("new WebSocket"));
        QVERIFY(get("/clock.css").startsWith("HTTP/1.1 200"));
        QVERIFY(get("/clock.js/more").startsWith("HTTP/1.1 404"));
        QVERIFY(get("/index.html.bak").startsWith("HTTP/1.1 404"));
        QVERIFY(get("/ws").startsWith("HTTP/1.1 404")); // not asking for a WebSocket

        // Not HTTP at all: whatever the answer, the connection ends and nothing else does.
        const QByteArray garbage = answer(QByteArray("\x16\x03\x01\x02\x00GARBAGE\r\n\r\n", 15));
        QVERIFY2(garbage.isEmpty() || garbage.startsWith("HTTP/1.1 4"), garbage.constData());
        // A WebSocket to another path is closed.
        QWebSocket elsewhere;
        QSignalSpy elsewhereClosed(&elsewhere, &QWebSocket::disconnected);
        elsewhere.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/other").arg(kPort)));
        QTRY_COMPARE_WITH_TIMEOUT(elsewhereClosed.size(), 1, Patience::ms());
        // A frame with a reserved opcode: the server closes that connection.
        QTcpSocket raw;
        raw.connectToHost(QHostAddress::LocalHost, kPort);
        QVERIFY(raw.waitForConnected(Patience::ms()));
        raw.write(kUpgrade);
        QTRY_VERIFY_WITH_TIMEOUT(raw.bytesAvailable() > 0, Patience::ms());
        QVERIFY(raw.readAll().startsWith("HTTP/1.1 101"));
        raw.write(QByteArray("\x83\x85\x01\x02\x03\x04hello", 11));
        QTRY_COMPARE_WITH_TIMEOUT(raw.state(), QAbstractSocket::UnconnectedState, Patience::ms());

        QVERIFY(server.running());
        QVERIFY(get("/").startsWith("HTTP/1.1 200"));
    }

    // Two senders, one of them on stream 2 and named by its ArtPollReply: every page gets every
    // frame of each in order, then the server's word that each went silent, and back.
    void everyFrameInOrderPerSender()
    {
        Server server;
        QVERIFY(server.ready());
        Page pages[3];
        for (Page& page : pages)
            QTRY_VERIFY_WITH_TIMEOUT(page.connected(), Patience::ms());
        Controller desk(kDesk);
        Controller backup(kBackup);
        QVERIFY(desk.isBound() && backup.isBound());
        QByteArray reply(240, '\0');
        reply.replace(0, 10, QByteArray("Art-Net\0\x00\x21", 10));
        reply.replace(10, 4, QByteArray("\x7f\x00\x00\x02", 4));
        reply.replace(26, 6, "Desk A");
        desk.send(reply);
        QTest::qWait(100);

        constexpr int kFrames = 200;
        QStringList deskSent;
        QStringList backupSent;
        for (int i = 0; i < kFrames; ++i) {
            desk.send(timecodeDatagram(i, 1, 0));
            deskSent.append(timecodeText(i, 1));
            backup.send(timecodeDatagram(1000 + i, 3, 2));
            backupSent.append(timecodeText(1000 + i, 3));
            if (i % 10 == 9)
                QTest::qWait(5);
        }
        for (Page& page : pages) {
            QTRY_COMPARE_WITH_TIMEOUT(page.timecodes(QStringLiteral("127.0.0.2"), 0).size(),
                                      kFrames, Patience::ms());
            QCOMPARE(page.timecodes(QStringLiteral("127.0.0.2"), 0), deskSent);
            QTRY_COMPARE_WITH_TIMEOUT(page.timecodes(QStringLiteral("127.0.0.3"), 2).size(),
                                      kFrames, Patience::ms());
            QCOMPARE(page.timecodes(QStringLiteral("127.0.0.3"), 2), backupSent);
            const QJsonObject first = page.messages.first();
            QCOMPARE(first.value(QStringLiteral("n")).toInt(), 0);
            QCOMPARE(first.value(QStringLiteral("name")).toString(), QStringLiteral("Desk A"));
            QCOMPARE(first.value(QStringLiteral("rate")).toString(), QStringLiteral("25 FPS"));
            const QJsonObject backupLast = page.last(QStringLiteral("127.0.0.3"));
            QCOMPARE(backupLast.value(QStringLiteral("n")).toInt(), 1);
            QCOMPARE(backupLast.value(QStringLiteral("rate")).toString(), QStringLiteral("30 FPS"));
            QCOMPARE(backupLast.value(QStringLiteral("name")).toString(), QString());
        }
        for (const QString& address : {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")})
            QTRY_VERIFY_WITH_TIMEOUT(
                pages[0].last(address).value(QStringLiteral("silent")).toBool(),
                Patience::seconds(1));
        desk.send(timecodeDatagram(kFrames, 1, 0));
        QTRY_VERIFY_WITH_TIMEOUT(
            !pages[0].last(QStringLiteral("127.0.0.2")).value(QStringLiteral("silent")).toBool(),
            Patience::ms());
        QCOMPARE(pages[0].last(QStringLiteral("127.0.0.2")).value(QStringLiteral("tc")).toString(),
                 timecodeText(kFrames, 1));
        // The frames came in bursts, closer together than a display frame: they were gathered.
        QVERIFY2(pages[0].received < kFrames, qPrintable(QString::number(pages[0].received)));
        // A page that opens now is told everything at once, in first-heard order.
        Page late;
        QTRY_COMPARE_WITH_TIMEOUT(late.messages.size(), 2, Patience::ms());
        QCOMPARE(late.received, 1);
        QCOMPARE(late.messages.at(0).value(QStringLiteral("address")).toString(),
                 QStringLiteral("127.0.0.2"));
        QCOMPARE(late.messages.at(1).value(QStringLiteral("address")).toString(),
                 QStringLiteral("127.0.0.3"));
    }

    // Beyond --max-clients a page is turned away with 503; once one leaves, the
    // next comes in.
    void refusesBeyondMaxClients()
    {
        Server server({QStringLiteral("--max-clients"), QStringLiteral("2")});
        QVERIFY(server.ready());
        Page first;
        Page second;
        QTRY_VERIFY_WITH_TIMEOUT(first.connected() && second.connected(), Patience::ms());
        // Answered in HTTP before any upgrade.
        QVERIFY(answer(kUpgrade).startsWith("HTTP/1.1 503"));
        first.socket.close();
        QTRY_VERIFY_WITH_TIMEOUT(first.closed, Patience::ms());
        Page fourth;
        QTRY_VERIFY_WITH_TIMEOUT(fourth.connected(), Patience::ms());
        Controller desk(kDesk);
        desk.send(timecodeDatagram(5, 1, 0));
        QTRY_COMPARE_WITH_TIMEOUT(fourth.messages.size(), 1, Patience::ms());
        QVERIFY(!fourth.closed);
        QVERIFY(!second.closed);
        // A page turned away is no warning of Qt's.
        QVERIFY(server.finish());
        QCOMPARE(server.err, QByteArray());
        QVERIFY2(server.out.endsWith("served 3 pages; 1 turned away, 0 dropped for not reading\n"),
                 server.out);
    }

    // A page that stops reading is dropped while another, under the same flood, misses nothing.
    void dropsAPageThatStopsReading()
    {
        Server server;
        QVERIFY(server.ready());
        Page reader;
        QTRY_VERIFY_WITH_TIMEOUT(reader.connected(), Patience::ms());
        QTcpSocket stalled;
        stalled.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        stalled.setReadBufferSize(1024); // Qt stops reading from the kernel once this is full
        stalled.connectToHost(QHostAddress::LocalHost, kPort);
        QVERIFY(stalled.waitForConnected(Patience::ms()));
        stalled.write(kUpgrade);
        QTRY_VERIFY_WITH_TIMEOUT(stalled.bytesAvailable() > 0, Patience::ms());
        QVERIFY(stalled.peek(12).startsWith("HTTP/1.1 101"));

        Controller desk(kDesk);
        QStringList sent;
        QElapsedTimer flood;
        flood.start();
        int frame = 0;
        // Long enough for the kernel's buffers to fill and the page to stay behind past the
        // limit.
        while (flood.elapsed() < 9000) {
            for (int i = 0; i < 10; ++i, ++frame) {
                desk.send(timecodeDatagram(frame, 1, 0));
                sent.append(timecodeText(frame, 1));
            }
            QTest::qWait(10);
        }
        // Reading again, the stalled page finds its connection gone rather than a flow of frames.
        stalled.setReadBufferSize(0);
        QTRY_COMPARE_WITH_TIMEOUT(stalled.state(), QAbstractSocket::UnconnectedState,
                                  Patience::ms());
        QTRY_COMPARE_WITH_TIMEOUT(reader.timecodes(QStringLiteral("127.0.0.2"), 0).size(),
                                  int(sent.size()), Patience::ms());
        QCOMPARE(reader.timecodes(QStringLiteral("127.0.0.2"), 0), sent);
        QVERIFY(!reader.closed);
    }
};

QTEST_GUILESS_MAIN(TestCliWeb)
#include "tst_cliweb.moc"
