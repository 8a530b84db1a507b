// Emptying the socket: every datagram handed on with exactly its bytes, and a failed read ends
// the drain instead of being handled or spinning.
#include "drain.h"

#include <QtTest>

#include <cstring>

namespace {

// A socket whose queue holds scripted reads: a datagram's bytes, or a failure (-1). An empty
// queue fails the read, as a non-blocking socket does.
struct ScriptedSocket
{
    struct Read
    {
        QByteArray bytes;
        QHostAddress sender;
        bool fails = false;
    };
    QList<Read> reads;
    int readCalls = 0;

    // A broken socket may go on claiming data; the drain must not rely on asking.
    bool hasPendingDatagrams() const { return true; }
    qint64 readDatagram(char* data, qint64 maxSize, QHostAddress* sender)
    {
        ++readCalls;
        if (reads.isEmpty())
            return -1;
        const Read read = reads.takeFirst();
        if (read.fails) {
            std::memset(data, 0xAA, size_t(maxSize)); // garbage a failed read may leave behind
            return -1;
        }
        std::memcpy(data, read.bytes.constData(), size_t(read.bytes.size()));
        *sender = read.sender;
        return read.bytes.size();
    }
};

// The datagram handed on is a view of the reused read buffer; keep its bytes.
QByteArray deepCopy(const QByteArray& view)
{
    return QByteArray(view.constData(), view.size());
}

struct Handled
{
    QByteArray bytes;
    QHostAddress sender;
};

} // namespace

class DrainTest : public QObject
{
    Q_OBJECT

private slots:
    void handsOnEveryDatagramInOrder()
    {
        ScriptedSocket socket;
        socket.reads = {{QByteArray("first"), QHostAddress(QStringLiteral("127.0.0.2"))},
                        {QByteArray(), QHostAddress(QStringLiteral("127.0.0.3"))},
                        {QByteArray(600, 'x'), QHostAddress(QStringLiteral("127.0.0.4"))}};
        QByteArray buffer;
        QList<Handled> handled;
        ArtNetReceive::drainDatagrams(socket, buffer,
                                      [&](QByteArray& datagram, const QHostAddress& sender) {
                                          handled.append({deepCopy(datagram), sender});
                                      });
        QCOMPARE(handled.size(), 3);
        QCOMPARE(handled[0].bytes, QByteArray("first"));
        QCOMPARE(handled[0].sender, QHostAddress(QStringLiteral("127.0.0.2")));
        QCOMPARE(handled[1].bytes.size(), 0); // an empty datagram is a datagram of 0 bytes
        QCOMPARE(handled[2].bytes, QByteArray(600, 'x'));
        QCOMPARE(handled[2].sender, QHostAddress(QStringLiteral("127.0.0.4")));
    }

    void failedReadIsNotHandledAndEndsTheDrain()
    {
        ScriptedSocket socket;
        socket.reads = {{QByteArray("before"), QHostAddress(QStringLiteral("127.0.0.2"))},
                        {QByteArray(), QHostAddress(), true},
                        {QByteArray("after"), QHostAddress(QStringLiteral("127.0.0.2"))}};
        QByteArray buffer;
        QList<QByteArray> handled;
        ArtNetReceive::drainDatagrams(
            socket, buffer,
            [&](QByteArray& datagram, const QHostAddress&) { handled.append(deepCopy(datagram)); });
        QCOMPARE(handled, QList<QByteArray>{QByteArray("before")});
        // A datagram is still queued behind the failure, yet the drain stopped there.
        QCOMPARE(socket.reads.size(), 1);
        QCOMPARE(socket.readCalls, 2);
    }
};

QTEST_GUILESS_MAIN(DrainTest)
#include "tst_drain.moc"
