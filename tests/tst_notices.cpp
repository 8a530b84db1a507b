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

    void eachNoticeOncePerProcess()
    {
        const QByteArray madrix("MadrixN\0", 8);
        const QList<QByteArray> traffic = {artTimeCode(1, 2, 3, 4, 1), artSync(0x5101, 0),
                                           artSync(0x5202, 0), artSync(0x5202, 0, madrix),
                                           artSync(0x5101, 0, madrix)};

        OutputCapture capture;
        {
            artnet first;
            QVERIFY(first.openSocket());
            Controller controller(QHostAddress(QStringLiteral("127.0.0.2")));
            for (int round = 0; round < 3; ++round) {
                for (const QByteArray& datagram : traffic)
                    controller.send(datagram);
            }
            settle(first);
        }
        {
            // A second node in the same process stays quiet.
            artnet second;
            QVERIFY(second.openSocket());
            Controller controller(QHostAddress(QStringLiteral("127.0.0.3")));
            for (const QByteArray& datagram : traffic)
                controller.send(datagram);
            settle(second);
        }
        QStringList lines = capture.lines();
        // Interface discovery of the two nodes writes its own lines; only the notices count.
        lines = lines.filter(QStringLiteral("receiving"));
        QCOMPARE(lines, QStringList({QStringLiteral("receiving Art-Net TIMECODE ..."),
                                     QStringLiteral("receiving Art-Net SYNC PRE ..."),
                                     QStringLiteral("receiving Art-Net SYNC POST ..."),
                                     QStringLiteral("receiving MadrixN SYNC POST ...")}));
    }
};

QTEST_GUILESS_MAIN(NoticesTest)
#include "tst_notices.moc"
