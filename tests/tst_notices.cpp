// The first-reception notices: each is written once per process run, however many nodes or
// packets there are. This program must be the only one in its process to receive these kinds.
#include "artnet.h"
#include "capture.h"
#include "sandbox.h"
#include "traffic.h"

#include <QtTest>

using namespace TestSupport;

class NoticesTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    // Runs first: the timecode notice is kept for the first timecode the node accepts, so
    // fragments before it (a 13-byte packet, one without its Type byte) write nothing.
    void fragmentsWriteNoNotice()
    {
        const QByteArray timecode = artTimeCode(1, 2, 3, 4, 1);
        Controller controller{QHostAddress(QStringLiteral("127.0.0.4"))};
        qint64 sent = 0;
        OutputCapture capture;
        {
            artnet node;
            node.openSocket();
            for (const QByteArray& fragment : {timecode.left(13), timecode.left(18)})
                sent += controller.send(fragment);
            QVERIFY(settle(node));
        }
        const QStringList lines = capture.lines();
        QCOMPARE(sent, qint64(13 + 18));
        QCOMPARE(lines.filter(QStringLiteral("receiving")), QStringList());
    }

    // A second node in the same process, fed by another sender, stays quiet.
    void eachNoticeOncePerProcess()
    {
        const QByteArray madrix("MadrixN\0", 8);
        const QByteArrayList traffic = {artTimeCode(1, 2, 3, 4, 1), artSync(0x5101, 0),
                                        artSync(0x5202, 0), artSync(0x5202, 0, madrix),
                                        artSync(0x5101, 0, madrix)};
        OutputCapture capture;
        for (const char* sender : {"127.0.0.2", "127.0.0.3"}) {
            artnet node;
            QVERIFY(node.openSocket());
            Controller controller{QHostAddress(QLatin1String(sender))};
            for (const QByteArray& datagram : traffic + traffic)
                controller.send(datagram);
            QVERIFY(settle(node));
        }
        // Interface discovery of the two nodes writes its own lines; only the notices count.
        QCOMPARE(
            capture.lines().filter(QStringLiteral("receiving")),
            QStringList({"receiving Art-Net TIMECODE ...", "receiving Art-Net SYNC PRE ...",
                         "receiving Art-Net SYNC POST ...", "receiving MadrixN SYNC POST ..."}));
    }
};

QTEST_GUILESS_MAIN(NoticesTest)
#include "tst_notices.moc"
