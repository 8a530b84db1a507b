// A machine whose only network is loopback: discovery falls back to 127.0.0.1/8, so that
// programs on the same host can still reach the node (e2e/poll-reply polls it there).
#include "artnet.h"
#include "capture.h"
#include "probes.h"
#include "sandbox.h"

#include <QtTest>

class LoopbackTest : public QObject
{
    Q_OBJECT

private slots:
    void loopbackStandsInForTheMissingNetworks()
    {
        REQUIRE_PRIVATE_NETWORK();
        TestSupport::OutputCapture capture;
        artnet node;
        const QByteArray written = capture.finish();

        // 127.0.0.1 is remembered, ::1 only noted, and the fallback line reports loopback as
        // Qt has it (Qt derives the broadcast address from the prefix) with its own line break.
        QCOMPARE(written, QByteArray("found IpV4 - 127.0.0.1 memory for later\n"
                                     "found IpV6 - ::1 dont' use it\n"
                                     "found IpV4 - 127.0.0.1 broadcast 127.255.255.255 netmask "
                                     "255.0.0.0 do not use it\n"));
        const QList<InterfaceEntry>* entries = ArtnetProbe::interfaces(node);
        QVERIFY(entries && entries->size() == 1);
        const QNetworkAddressEntry& loopback = entries->at(0).address;
        QCOMPARE(QStringList({loopback.ip().toString(), loopback.netmask().toString(),
                              loopback.broadcast().toString(), entries->at(0).mac}),
                 QStringList({"127.0.0.1", "255.0.0.0", "127.255.255.255", "00:00:00:00:00:00"}));
    }
};

QTEST_GUILESS_MAIN(LoopbackTest)
#include "tst_loopback.moc"
