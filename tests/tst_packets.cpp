// Every packet the node writes, byte for byte, and what it reads out of the packets it acts on,
// from byte arrays written out here by hand. No network.
#include "packets.h"
#include "traffic.h"

#include <QtTest>

using namespace ArtNetPacket;
using TestSupport::patched;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// A text field of the given size: the text, then NULs.
QByteArray field(const QByteArray& text, int size)
{
    return text + QByteArray(size - int(text.size()), '\0');
}

QByteArray bytes(const quint8* data, int size)
{
    return QByteArray(reinterpret_cast<const char*>(data), size);
}

const QByteArray kArtNetHeader = QByteArray("Art-Net\0", 8); // ID with its NUL

// An ArtPollReply as a node of another maker sends it, 239 bytes: Net 0x92 (bit 7 is not part of
// the Port-Address), Sub-Net 0x13, two ports: an output on SwOut 0x45 and an input on SwIn 0x0A.
QByteArray strangerReply()
{
    QByteArray reply = kArtNetHeader + hex("0021"); // 0 ID, 8 OpCode 0x2100
    reply += hex("c0a80109 3619");                  // 10 IP 192.168.1.9, 14 Port 6454 LE
    reply += hex("0207 9213 2b4c");                 // 16 version 2.7, 18 Net, Sub, 20 OEM
    reply += hex("00 d0 4d41");                     // 22 Ubea, 23 Status1, 24 EstaMan 0x414D LE
    reply += field("Dimmer rack", 18);              // 26 ShortName
    reply += QByteArray(64, 'L');                   // 44 LongName, no NUL left
    reply += field("#0001 [0042] Power On Tests successful", 64); // 108 NodeReport
    reply += hex("0002");                                         // 172 NumPorts 2
    reply += hex("80400000");             // 174 PortTypes: output, input, none, none
    reply += hex("00800000 80000000");    // 178 GoodInput, 182 GoodOutput
    reply += hex("000a0000 45000000");    // 186 SwIn, 190 SwOut
    reply += hex("000000 000000 00");     // 194 SwVideo, Macro, Remote, Spare, 200 Style
    reply += hex("001a2b3c4d5e");         // 201 MAC
    reply += hex("c0a80109 03");          // 207 BindIp, 211 BindIndex 3
    reply += QByteArray(239 - 212, '\0'); // 212 Status2, Filler
    return reply;
}

} // namespace

class PacketsTest : public QObject
{
    Q_OBJECT

private slots:
    void writesEveryPacket_data()
    {
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray pollHeader = kArtNetHeader + hex("0020 000e"); // 0x2000, ProtVer 0 14
        QTest::newRow("ArtPoll: TalkToMe and Priority 0")
            << pollPacket() << pollHeader + hex("00 00");

        quint8 timecode[kTimeCodeSize];
        writeTimeCode(timecode, TimecodeRecord{24, 59, 58, 23, 3});
        QTest::newRow("ArtTimeCode 23:58:59:24 SMPTE")
            << bytes(timecode, kTimeCodeSize)
            << kArtNetHeader + hex("0097 000e") // OpCode 0x9700, ProtVer
                   + hex("00 00")               // Filler1, StreamId
                   + hex("18 3b 3a 17 03 00");  // frames, seconds, minutes, hours, type, pad

        quint8 dmxTemplate[kDmxImageSize];
        writeDmxTemplate(dmxTemplate);
        const QByteArray dmxHeader = kArtNetHeader + hex("0050 000e") // OpCode 0x5000, ProtVer
                                     + hex("00 00");                  // Sequence, Physical
        QTest::newRow("ArtDmx template: no universe, no length, 512 zero slots")
            << bytes(dmxTemplate, kDmxImageSize) << dmxHeader + QByteArray(4 + 512, '\0');

        quint8 dmx[kDmxImageSize];
        const quint8 levels[512] = {0x11, 0x22, 0x33};
        int size = writeDmx(dmx, dmxTemplate, 0x34, 0x12, levels, 3);
        QTest::newRow("ArtDmx: SubUni, Net, Length BE, three slots")
            << bytes(dmx, size) << dmxHeader + hex("34 12 0003 112233");
        size = writeDmx(dmx, dmxTemplate, 0, 0, levels, 512);
        QTest::newRow("ArtDmx: 512 slots")
            << bytes(dmx, size) << dmxHeader + hex("00 00 0200 112233") + QByteArray(509, '\0');

        PollReply node; // as this node answers
        node.ip = 0xC0A80105;
        node.port = 6454;
        node.versionHi = 1;
        node.oemHi = 0x0C;
        node.oemLo = 0x12;
        node.shortName = QStringLiteral("ABCDEFGHIJKLMNOPQRST");
        node.longName = QStringLiteral("Tempolis");
        std::memset(node.portTypes, 0x85, 4);
        std::memset(node.goodOutput, 0x80, 4);
        std::memcpy(node.mac, "\x00\x1a\x2b\x3c\x4d\x5e", 6);
        QByteArray reply = kArtNetHeader + hex("0021"); // 0 ID, 8 OpCode 0x2100, no ProtVer
        reply += hex("c0a80105 3619");                  // 10 IP 192.168.1.5, 14 Port 6454 LE
        reply += hex("0100 0000 0c12");                 // 16 version, 18 switches, 20 OEM
        reply += hex("00 00 0000");                     // 22 Ubea, 23 Status1, 24 EstaMan
        reply += field("ABCDEFGHIJKLMNOPQ", 18);        // 26 ShortName cut to 17 and a NUL
        reply += field("Tempolis", 64);                 // 44 LongName
        reply += QByteArray(64, '\0');                  // 108 NodeReport
        reply += hex("0000 85858585");                  // 172 NumPorts, 174 PortTypes
        reply += hex("00000000 80808080");              // 178 GoodInput, 182 GoodOutput
        reply += hex("00000000 00000000");              // 186 SwIn, 190 SwOut
        reply += QByteArray(7, '\0');                   // 194 SwVideo..Spare, 200 Style
        reply += hex("001a2b3c4d5e");                   // 201 MAC
        reply += QByteArray(33, '\0'); // 207 BindIp, 211 BindIndex, 212 Status2, Filler, pad
        QTest::newRow("ArtPollReply as this node answers, names cut, 240 bytes")
            << pollReplyPacket(node) << reply;
        // Reading is checked field by field below; written back, every field is where it was,
        // but the long name, which loses its last character to a NUL.
        const QByteArray stranger = strangerReply();
        QTest::newRow("ArtPollReply: every field written back where it was read")
            << pollReplyPacket(*readPollReply(stranger.constData(), int(stranger.size())))
            << patched(stranger, 44 + 63, hex("00")) + '\0';
    }

    void writesEveryPacket()
    {
        QFETCH(QByteArray, written);
        QFETCH(QByteArray, expected);
        QCOMPARE(written.toHex(' '), expected.toHex(' '));
    }

    void readsHeaders_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("opCode");

        const QByteArray sync = kArtNetHeader + hex("0152 000e 01");
        QTest::newRow("Art-Net") << sync << int(PacketId::ArtNet) << 0x5201;
        QTest::newRow("MadrixN") << patched(sync, 0, "MadrixN") << int(PacketId::Madrix) << 0x5201;
        QTest::newRow("no NUL after the ID") << patched(sync, 7, "!") << int(PacketId::None) << 0;
        QTest::newRow("lower case") << patched(sync, 0, "art-net") << int(PacketId::None) << 0;
        QTest::newRow("ID and OpCode only") << sync.left(10) << int(PacketId::ArtNet) << 0x5201;
        QTest::newRow("the OpCode cut short") << sync.left(9) << int(PacketId::None) << 0;
    }

    void readsHeaders()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(int, id);
        QFETCH(int, opCode);
        const Header header = readHeader(datagram.constData(), int(datagram.size()));
        QCOMPARE(int(header.id), id);
        if (id != int(PacketId::None))
            QCOMPARE(int(header.opCode), opCode);
    }

    // Short packets read as zeros past their end, the work areas never past the datagram.
    void readsWhatTheNodeActsOn()
    {
        const QByteArray timecode = kArtNetHeader + hex("0097 000e 0000 18 3b 3a 17 03 00");
        const auto time = [](const QByteArray& datagram) {
            const TimecodeRecord r = readTimeCode(datagram.constData(), int(datagram.size()));
            return QList<int>{r.frames, r.seconds, r.minutes, r.hours, r.type};
        };
        QCOMPARE(time(timecode), (QList<int>{24, 59, 58, 23, 3}));
        QCOMPARE(time(timecode + "more"), (QList<int>{24, 59, 58, 23, 3}));
        QCOMPARE(time(timecode.left(18)), (QList<int>{24, 59, 58, 23, 0}));
        QCOMPARE(time(timecode.left(13)), (QList<int>{0, 0, 0, 0, 0}));

        const QByteArray sync = kArtNetHeader + hex("0151 000e ff");
        QCOMPARE(readSyncHold(sync.constData(), 13), qint16(-1));
        QCOMPARE(readSyncHold(patched(sync, 12, hex("7f")).constData(), 13), qint16(127));
        QCOMPARE(readSyncHold(sync.constData(), 12), qint16(0));

        const QByteArray poll = kArtNetHeader + hex("0020 000e 02 10");
        quint8 kept[kPollSize];
        readPoll(poll.constData(), int(poll.size()), kept);
        QCOMPARE(bytes(kept, kPollSize), poll);
        readPoll((poll + "xyz").constData(), int(poll.size()) + 3, kept);
        QCOMPARE(bytes(kept, kPollSize), poll);
        readPoll(poll.constData(), 13, kept);
        QCOMPARE(bytes(kept, kPollSize), patched(poll, 13, hex("00")));
    }

    void readsDmx_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("universe");
        QTest::addColumn<QByteArray>("data");

        const QByteArray header = kArtNetHeader + hex("0050 000e 00 00");

        QTest::newRow("SubUni low, Net high")
            << header + hex("34 12 0003 112233") << 0x1234 << hex("112233");
        QTest::newRow("Length 600 is one universe")
            << header + hex("00 00 0258") + QByteArray(600, 'd') << 0 << QByteArray(512, 'd');
        QTest::newRow("a Length past the datagram's end reads zeros")
            << header + hex("01 00 0006 1122") << 1 << hex("1122 0000 0000");
        QTest::newRow("Length 0") << header + hex("01 00 0000 1122") << 1 << QByteArray();
    }

    void readsDmx()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(int, universe);
        QFETCH(QByteArray, data);
        quint8 image[kDmxImageSize];
        std::memset(image, 0xEE, sizeof image); // what an earlier datagram left there
        const DmxFrame frame = readDmx(datagram.constData(), int(datagram.size()), image);
        QCOMPARE(int(frame.universe), universe);
        QCOMPARE(bytes(frame.data, frame.length).toHex(' '), data.toHex(' '));
    }

    void readsPollReplies_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("read");
        QTest::addColumn<quint32>("bindIp");
        QTest::addColumn<int>("bindIndex");

        const QByteArray reply = strangerReply();
        const quint32 ip = 0xC0A80109;
        QTest::newRow("239 bytes") << reply << true << ip << 3;
        QTest::newRow("240 bytes, as this node sends") << reply + '\0' << true << ip << 3;
        QTest::newRow("ends before BindIndex: 0") << reply.left(211) << true << ip << 0;
        QTest::newRow("ends after the MAC") << reply.left(207) << true << 0u << 0;
        QTest::newRow("ends inside the MAC") << reply.left(206) << false << 0u << 0;
        QTest::newRow("another OpCode") << patched(reply, 9, hex("20")) << false << 0u << 0;
        QTest::newRow("another ID") << patched(reply, 0, "MadrixN") << false << 0u << 0;
    }

    void readsPollReplies()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, read);
        QFETCH(quint32, bindIp);
        QFETCH(int, bindIndex);

        const std::optional<PollReply> info =
            readPollReply(datagram.constData(), int(datagram.size()));
        QCOMPARE(info.has_value(), read);
        if (!read)
            return;
        QCOMPARE(info->ip, 0xC0A80109u);
        QCOMPARE((QList<int>{info->port, info->versionHi, info->versionLo, info->oemHi, info->oemLo,
                             info->estaMan, info->numPorts, info->style}),
                 (QList<int>{6454, 2, 7, 0x2B, 0x4C, 0x414D, 2, 0}));
        QCOMPARE(info->shortName, QStringLiteral("Dimmer rack"));
        QCOMPARE(info->longName, QString(64, QLatin1Char('L')));
        QCOMPARE(info->nodeReport, QStringLiteral("#0001 [0042] Power On Tests successful"));
        // Net's low seven bits, Sub-Net's low four and the port's low four.
        QCOMPARE(info->outputUniverses, QList<quint16>{0x1235});
        QCOMPARE(info->inputUniverses, QList<quint16>{0x123A});
        QCOMPARE(bytes(info->portTypes, 4) + bytes(info->goodInput, 4) + bytes(info->goodOutput, 4),
                 hex("80400000 00800000 80000000"));
        QCOMPARE(bytes(info->mac, 6), hex("001a2b3c4d5e"));
        QCOMPARE(info->bindIp, bindIp);
        QCOMPARE(int(info->bindIndex), bindIndex);
    }

    // Only the ports a reply counts carry universes; it describes four at most.
    void pollReplyUniversesFollowTheCount()
    {
        QByteArray reply = patched(strangerReply(), 174, hex("c0c0c0c0")); // all in and out
        reply = patched(reply, 186, hex("01020304"));                      // SwIn
        reply = patched(reply, 190, hex("05060708"));                      // SwOut
        const auto read = [](const QByteArray& datagram) {
            const auto info = readPollReply(datagram.constData(), int(datagram.size()));
            return info ? info->inputUniverses + info->outputUniverses : QList<quint16>{0xFFFF};
        };
        QCOMPARE(read(reply), (QList<quint16>{0x1231, 0x1232, 0x1235, 0x1236}));
        QCOMPARE(read(patched(reply, 172, hex("0000"))), QList<quint16>());
        QCOMPARE(read(patched(reply, 172, hex("0100"))).size(), 8); // 256 ports: four described
    }
};

QTEST_GUILESS_MAIN(PacketsTest)
#include "tst_packets.moc"
