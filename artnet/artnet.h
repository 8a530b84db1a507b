// The Art-Net node: one UDP socket on port 6454, the timecode heard from every sender, the
// answers to ArtPoll, DMX input into caller buffers and the sending of ArtDmx and ArtTimeCode.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>
#include <QObject>
#include <QString>

class QColor;
class QMutex;
class QTimer;
class QUdpSocket;

namespace ArtNetReceive {
class BatchReader;
}

// The timecode of one sender, the five bytes exactly as ArtTimeCode carries them.
struct TimecodeRecord
{
    quint8 frames = 0;
    quint8 seconds = 0;
    quint8 minutes = 0;
    quint8 hours = 0;
    quint8 type = 0; // 0 film 24, 1 EBU 25, 2 drop-frame 29.97, 3 SMPTE 30; others kept as sent
};

struct TimecodeSource
{
    TimecodeRecord timecode;
    QHostAddress sender; // the port is not kept: two programs on one host share an entry
};

// One usable local IPv4 network.
struct InterfaceEntry
{
    QNetworkAddressEntry address;
    QString mac; // "00:1A:2B:3C:4D:5E" as Qt writes it, all zero when the adapter has none
};

// Milliseconds since the last restart. The DMX hold measures its expiry with one of these;
// a test hands the node a clock it can step by hand.
class ElapsedClock
{
public:
    virtual ~ElapsedClock();
    virtual void restart();
    virtual qint64 elapsed() const;

private:
    QElapsedTimer timer;
};

class artnet : public QObject
{
    Q_OBJECT

public:
    artnet();
    ~artnet() override;

    // Lifecycle and socket.
    bool openSocket();
    void closeSocket();
    void setPollReplyEnabled(bool enabled);
    void setNames(const QString& shortName, const QString& longName);
    bool getTimecode(TimecodeRecord* record, QHostAddress* sender, int index);

    // Local networks.
    bool discoverInterfaces();

    // Poll.
    qint64 sendPoll();
    QString interfaceIp(int index);
    void macFromString(QString text, quint8 mac[6]);

    // DMX input.
    bool enableDmxInput();
    void disableDmxInput();
    bool setUniverse(quint16 universeNumber);
    bool readUniverse(quint8* destination, quint16* length);
    void setDmxBuffer(quint8* buffer, quint32 size, quint16 channelsPerUniverse);
    void getDmxBuffer(quint8** buffer, quint32* size);
    bool getDmxValue(quint16 universeIndex, quint16 channel, quint8* value);
    void setPixelBuffer(QColor* colors, quint32 count, quint16 channelsPerUniverse);
    void commitDmx();
    // Takes ownership; replaces the clock the hold expiry is measured with.
    void setSyncClock(ElapsedClock* clock);

    // Sending.
    bool enableSending();
    void disableSending();
    qint64 sendDatagram(const char* data, quint16 length, const QHostAddress* destination);
    qint64 sendDmx(const quint8* data, quint16 length, quint8 subUni, quint8 net,
                   const QHostAddress* destination);
    qint64 sendDmxUniverse(const quint8* data, quint16 length, quint16 universeNumber,
                           const QHostAddress* destination);
    qint64 sendTimecode(const TimecodeRecord* timecode, const QHostAddress* destination);

private slots:
    qint64 sendDataTimeout();
    void readPackage();
    void readBatches();

private:
    friend class ArtnetProbe; // test access to the node's private state

    void handlePackage(QByteArray& datagram, const QHostAddress& sender);
    void storeTimecode(const QByteArray& datagram, const QHostAddress& sender);
    void receiveSync(const QByteArray& datagram);
    void sendPollReply(const QHostAddress& sender);
    void receiveOwnUniverse(const quint8* image);
    void receiveDmx(const quint8* image);
    void receivePixels(const quint8* image);

public:
    bool shareBind = true; // bind with address sharing, so other Art-Net programs can coexist

private:
    QUdpSocket* socket = nullptr;
    quint8* dmxTemplate = nullptr;
    QList<InterfaceEntry>* interfaces = nullptr;
    bool socketReady = false;
    bool interfacesKnown = false;
    bool sendingReady = false;
    bool dmxInputReady = false;
    QHostAddress* lastDestination = nullptr;
    quint8* lastPacket = nullptr;
    quint16 lastPacketLength = 0;
    bool lastPacketValid = false;
    quint8* universeData = nullptr;
    quint16 universeDataLength = 0;
    quint16 universe = 0;

public:
    quint8 oemHi = 0x00;
    quint8 oemLo = 0xFF;

private:
    QList<TimecodeSource>* timecodeSources = nullptr;
    bool timecodeReceived = false;
    QTimer* sendTimer = nullptr;
    quint8* receiveHeader = nullptr;
    quint8* lastPoll = nullptr;
    QMutex* dmxMutex = nullptr;
    quint8* dmxBuffer = nullptr;
    quint8* shadowBuffer = nullptr;
    quint32 dmxBufferSize = 0;
    quint16 dmxChannelsPerUniverse = 512;
    qint16 dmxHold = 0;
    ElapsedClock* syncClock = nullptr;
    QColor* pixelBuffer = nullptr;
    quint32 pixelCount = 0;
    quint16 pixelChannelsPerUniverse = 512;

public:
    quint8 versionHi = 0;
    quint8 versionLo = 0;

private:
    QString shortName;
    QString longName;
    QString nodeReport;
    bool pollReplyEnabled = false;

    // Reused by every read of the socket, so a busy network costs no allocation per datagram.
    QByteArray datagramBuffer;
    // Where the system allows, the socket is drained many datagrams per call; the reader exists
    // only while the socket does.
    ArtNetReceive::BatchReader* batchReader = nullptr;
};
