// The node's lifecycle, its socket and the timecode accessor the window polls.
#include "artnet.h"
#include "drain.h"
#include "nodesocket.h"
#include "packets.h"
#include "portholders.h"

#include "chronolume_config.h"

#include <QMutex>
#include <QUdpSocket>

ElapsedClock::~ElapsedClock() = default;

void ElapsedClock::restart()
{
    // start(), not restart(): the node restarts its clock once at construction, before the
    // timer was ever started, and QElapsedTimer::restart() on a never-started timer is undefined.
    timer.start();
}

qint64 ElapsedClock::elapsed() const
{
    return timer.elapsed();
}

TimecodeClock::~TimecodeClock() = default;

qint64 TimecodeClock::nowNs() const
{
    return ArtNetReceive::steadyNowNs();
}

qint64 TimecodeClock::arrivalNs(qint64 steadyNs) const
{
    return steadyNs;
}

ArtNetTransport::~ArtNetTransport() = default;

quint64 ArtNetTransport::kernelDrops() const
{
    return 0;
}

void ArtNetTransport::setReadInterval(int) {}

artnet::artnet()
    : QObject(nullptr), shortName(QStringLiteral("ArtNet by Orin")),
      longName(QStringLiteral("ArtNet by ") + QLatin1String(chronolume::kWebHost))
{
    syncClock = new ElapsedClock;
    syncClock->restart();
    timecodeClock = new TimecodeClock;
    // Empty, not missing, before the first timecode: the front ends read it from the start.
    timecodeSources = new SenderTable;
    dmxMutex = new QMutex;
    discoverInterfaces();
}

artnet::~artnet()
{
    if (sendingReady)
        disableSending();
    if (dmxInputReady)
        disableDmxInput();
    if (socketReady)
        closeSocket();
    delete transport;
    transport = nullptr;

    // A holder still inside a copy must finish before the mutex goes away.
    dmxMutex->lock();
    dmxMutex->unlock();
    delete dmxMutex;
    dmxMutex = nullptr;

    if (interfaces) {
        interfaces->clear();
        delete interfaces;
        interfaces = nullptr;
    }
    delete timecodeSources;
    timecodeSources = nullptr;

    delete syncClock;
    syncClock = nullptr;
    delete timecodeClock;
    timecodeClock = nullptr;

    delete[] shadowBuffer;
    shadowBuffer = nullptr;
    delete[] receiveHeader;
    receiveHeader = nullptr;
    delete[] lastPoll;
    lastPoll = nullptr;
}

bool artNetPortHeldElsewhere()
{
    return ArtNetPort::heldNow(ArtNetPort::localBroadcastAddresses()) == ArtNetPort::Held::Taken;
}

bool artnet::openSocket()
{
    if (socketReady)
        return true;
    if (!transport) {
        transport = ArtNetReceive::makeNodeSocket().release();
        transport->setReadInterval(readIntervalMs);
    }
    if (!transport->open(shareBind, [this] { readPackage(); }))
        return false;
    ++socketGeneration;
    socketReady = true;
    return true;
}

void artnet::closeSocket()
{
    // Closed by an observer, the read in progress stops at the datagram it is in.
    if (transport && socketReady) {
        transport->close();
        ++socketGeneration;
    }
    socketReady = false;
}

void artnet::setTransport(ArtNetTransport* newTransport)
{
    closeSocket();
    delete transport;
    transport = newTransport;
    if (transport)
        transport->setReadInterval(readIntervalMs);
}

void artnet::setReadInterval(int milliseconds)
{
    readIntervalMs = qMax(0, milliseconds);
    if (transport)
        transport->setReadInterval(readIntervalMs);
}

quint64 artnet::kernelDrops() const
{
    return transport ? transport->kernelDrops() : 0;
}

void artnet::readPending()
{
    readPackage();
}

SenderNaming::OwnReply artnet::ownReply() const
{
    SenderNaming::OwnReply own;
    own.longName = longName;
    own.oemHi = oemHi;
    own.oemLo = oemLo;
    return own;
}

void artnet::setPollReplyEnabled(bool enabled)
{
    if (enabled == pollReplyEnabled)
        return;
    if (!enabled) {
        pollReplyEnabled = false;
        return;
    }
    if (openSocket())
        pollReplyEnabled = true;
}

void artnet::setNames(const QString& newShortName, const QString& newLongName)
{
    shortName = newShortName;
    longName = newLongName;
}

bool artnet::getTimecode(TimecodeRecord* record, QHostAddress* sender, int index,
                         quint8* stream) const
{
    if (!record || index < 0 || index >= timecodeSources->size())
        return false;
    const SenderEntry& entry = timecodeSources->at(index);
    *record = entry.timecode;
    if (sender)
        *sender = entry.address;
    if (stream)
        *stream = entry.stream;
    return true;
}

qint64 artnet::timecodeClockNow() const
{
    return timecodeClock->nowNs();
}

void artnet::setTimecodeClock(TimecodeClock* clock)
{
    if (!clock)
        return;
    delete timecodeClock;
    timecodeClock = clock;
}
