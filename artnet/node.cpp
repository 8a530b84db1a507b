// The node's lifecycle, its socket and the timecode accessor the window polls.
#include "artnet.h"
#include "drain.h"
#include "packets.h"

#include "chronolume_config.h"

#include <QMutex>
#include <QUdpSocket>
#include <QVariant>

namespace {

// The kernel doubles this and caps it at net.core.rmem_max. The default buffer holds only a
// few hundred ArtDmx datagrams, which a busy controller overruns in a burst.
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

} // namespace

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

artnet::artnet()
    : QObject(nullptr), shortName(QStringLiteral("ArtNet by Orin")),
      longName(QStringLiteral("ArtNet by ") + QLatin1String(chronolume::kWebHost))
{
    syncClock = new ElapsedClock;
    syncClock->restart();
    timecodeClock = new ElapsedClock;
    timecodeClock->restart();
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
    // A socket whose connection failed is not closed, but its reader goes all the same.
    delete reader;
    reader = nullptr;

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
    if (timecodeSources) {
        timecodeSources->clear();
        delete timecodeSources;
        timecodeSources = nullptr;
    }

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
    QUdpSocket probe;
    return !probe.bind(QHostAddress::AnyIPv4, ArtNetPacket::kPort,
                       QAbstractSocket::DontShareAddress);
}

bool artnet::openSocket()
{
    if (socketReady)
        return true;
    // A socket that exists without being ready lost its readyRead connection; binding again
    // would not mend that.
    if (socket)
        return false;

    socket = new QUdpSocket(this);
    // IPv4 only: a dual-stack socket reports senders as ::ffff:a.b.c.d, which never equals
    // the IPv4 address of the same sender.
    const QAbstractSocket::BindMode shared =
        QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    bool bound;
    if (shareBind) {
        bound = socket->bind(QHostAddress::AnyIPv4, ArtNetPacket::kPort, shared);
    } else {
        bound = socket->bind(QHostAddress::AnyIPv4, ArtNetPacket::kPort) ||
                socket->bind(QHostAddress::AnyIPv4, ArtNetPacket::kPort, shared);
    }
    if (!bound) {
        delete socket;
        socket = nullptr;
        return false;
    }
    // Only takes effect once bound.
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBufferBytes);

    if (!reader)
        reader = new ArtNetReceive::SocketReader;
    reader->prepare(*socket);
    socketReady = bool(connect(socket, &QUdpSocket::readyRead, this, &artnet::readPackage));
    return true;
}

void artnet::closeSocket()
{
    // Closed by an observer, the read in progress still runs on this reader and inside this
    // socket's readyRead: the read deletes the reader when it returns, the event loop the
    // socket.
    if (reader != readingReader)
        delete reader;
    reader = nullptr;
    if (socket) {
        disconnect(socket, &QUdpSocket::readyRead, this, &artnet::readPackage);
        socket->close();
        if (socket == readingSocket)
            socket->deleteLater();
        else
            delete socket;
        socket = nullptr;
    }
    socketReady = false;
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

bool artnet::getTimecode(TimecodeRecord* record, QHostAddress* sender, int index, quint8* stream)
{
    if (!record)
        return false;
    // The window asks every 41 ms, so a port that was busy at start is taken as soon as it
    // frees up.
    if (!openSocket())
        return false;
    if (!anyTimecodeStored || !timecodeSources || index < 0 || index >= timecodeSources->size())
        return false;

    const TimecodeSource& source = timecodeSources->at(index);
    *record = source.timecode;
    if (sender)
        *sender = source.sender;
    if (stream)
        *stream = source.stream;
    return true;
}

qint64 artnet::timecodeArrival(int index) const
{
    if (!timecodeSources || index < 0 || index >= timecodeSources->size())
        return -1;
    return timecodeSources->at(index).arrival;
}

qint64 artnet::timecodeClockNow() const
{
    return timecodeClock->elapsed();
}

void artnet::setTimecodeClock(ElapsedClock* clock)
{
    if (!clock)
        return;
    delete timecodeClock;
    timecodeClock = clock;
    timecodeClock->restart();
}
