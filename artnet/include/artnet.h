// The Art-Net node: one UDP socket on port 6454, the timecode heard from every sender, the
// answers to ArtPoll, DMX input into caller buffers and the sending of ArtDmx and ArtTimeCode.
//
// Threads: every operation runs on the thread the node lives on, the one whose event loop reads
// its socket and fires its send timer, unless its comment says "Any thread". The only lock,
// dmxMutex, guards the caller's DMX buffer, its pixels and the own universe's copy against
// their registration, the copies into them and the reads of them. Enabling DMX input opens the
// socket, so it happens on the node's thread (enableDmxInput, or the first registration or
// readUniverse there) before another thread registers or reads.
#pragma once

#include "packets.h"
#include "senders.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QColor;
class QMutex;
class QTimer;

// One usable local IPv4 network.
struct InterfaceEntry
{
    QNetworkAddressEntry address;
    QString mac; // "00:1A:2B:3C:4D:5E" as Qt writes it, all zero when the adapter has none
};

// Milliseconds since the last restart. The DMX hold measures its expiry with one of these; a test
// hands the node a clock it can step by hand.
class ElapsedClock
{
public:
    virtual ~ElapsedClock();
    virtual void restart();
    virtual qint64 elapsed() const;

private:
    QElapsedTimer timer;
};

// Told of packets as the node handles them, for programs that watch the network rather than
// read the node's store. Called on the node's thread, from inside the node's read of its
// socket; while none is set, a packet costs the node one null test more.
//
// What a call is handed lives for that call only: the datagram is a view of the node's receive
// buffer, which the next datagram overwrites, and the sender is an address the node reuses.
// Keep a copy of what is needed later: QByteArray(datagram.constData(), datagram.size()), since a
// plain copy of the QByteArray still points into the buffer; a copied QHostAddress is the
// copy's own.
//
// Inside a call an observer may read the node, replace or remove itself (setObserver, after
// which it may delete itself), and close the node's socket (closeSocket) or open it again: the
// datagrams read in the same wakeup and not yet handed on are then dropped, and the node goes
// on as after any close. It may not delete the node, and may not run a nested event loop (a
// modal dialog, QEventLoop::exec, processEvents): the node would read its socket again while
// the read in progress still uses the same buffers.
class ArtNetObserver
{
public:
    virtual ~ArtNetObserver();
    // Every ArtTimeCode the node accepts, once its sender's entry in the node's table holds it:
    // the record, the address, the stream (ArtTimeCode's StreamId, 0, the master stream, from
    // senders that predate it), what the datagram was in the sender's numbering, and its arrival
    // in nanoseconds on std::chrono::steady_clock (CLOCK_MONOTONIC on Linux). On Linux the
    // arrival is the kernel's receive time stamp (SO_TIMESTAMPNS), so a node kept busy or
    // blocked does not move it. Elsewhere, and should the kernel refuse the stamps, the arrival
    // is the time the node read the datagram. A sender past the table's limit is not told of.
    virtual void timecodeReceived(const SenderEntry& sender);
    // Every ArtPollReply, its bytes as received, after the table took what it names.
    virtual void pollReplyReceived(const QByteArray& datagram, const QHostAddress& sender);
    // A sender's name changed: an ArtPollReply named it, or named it no longer.
    virtual void senderNamed(const SenderEntry& sender);
};

// The clock the arrivals of ArtTimeCode are kept on: nanoseconds on std::chrono::steady_clock,
// where the kernel's receive stamps are too. A test hands the node one it steps by hand, which
// then also says when a datagram arrived.
class TimecodeClock
{
public:
    virtual ~TimecodeClock();
    virtual qint64 nowNs() const; // artNetNowNs()
    // A datagram's arrival, given as nanoseconds on the steady clock, on this clock.
    virtual qint64 arrivalNs(qint64 steadyNs) const;
};

// Where the node's datagrams come from and where its own go out: on Linux a socket the node
// opens, binds and reads itself, elsewhere a QUdpSocket. A test or a benchmark gives the node
// another one and hands it datagrams without a network.
class ArtNetTransport
{
public:
    // Takes one datagram: a view valid during the call only, its sender (an address the
    // transport reuses) and its arrival in nanoseconds on std::chrono::steady_clock. False ends
    // the drain: what else was read is dropped.
    using Receive = std::function<bool(const char* data, int size, const QHostAddress& sender,
                                       qint64 arrivalNs)>;

    virtual ~ArtNetTransport();
    // Binds UDP port 6454 on every IPv4 address, sharing it with other programs (share), or
    // alone and, failing that, shared. From then on calls ready, on the caller's thread, whenever
    // datagrams wait. False when binding failed; the next call tries again.
    virtual bool open(bool share, std::function<void()> ready) = 0;
    // Stops watching and releases the port; allowed from inside a drain, which then hands on
    // nothing more.
    virtual void close() = 0;
    // Hands every waiting datagram to receive, in arrival order, until none waits or receive
    // returns false.
    virtual void drain(const Receive& receive) = 0;
    // One datagram to port of an IPv4 address, from port 6454: the bytes sent, or -1.
    virtual qint64 send(const char* data, int size, const QHostAddress& to, quint16 port) = 0;
    // Datagrams the system dropped for want of room before they were read, since the first open.
    virtual quint64 kernelDrops() const;
    // Keeps the calls of ready at least this many milliseconds apart while datagrams keep
    // coming (artnet::setReadInterval); 0 calls it at every wakeup. A transport that cannot
    // wait ignores it.
    virtual void setReadInterval(int milliseconds);
};

// The node's own kind of socket, bound to port of one IPv4 address only (0.0.0.0: every one),
// as a transport of its own: datagrams read with the kernel's receive stamps, replies sent from
// that port. A socket bound to a network's broadcast address receives only what is sent to that
// address, and so takes no unicast from a program bound to every address. Null for an address
// that is not IPv4.
std::unique_ptr<ArtNetTransport> makeArtNetSocket(const QHostAddress& address,
                                                  quint16 port = ArtNetPacket::kPort);

// Whether another program holds UDP port 6454 on this machine where it receives unicast (every
// address, or one of this machine's own): of the programs sharing the port, only the one that
// bound it last receives unicast. Sockets bound to broadcast addresses alone, such as the
// generators' answers to ArtPoll, take nothing from anyone and do not count
// (ArtNetPort::heldNow). Call it before this process opens a node's socket, which would count
// as well.
bool artNetPortHeldElsewhere();

#ifdef Q_OS_UNIX
// One datagram to port of an IPv4 address (also ::ffff:a.b.c.d) through a UDP socket's
// descriptor: the bytes sent, or -1.
qint64 artNetSendTo(int descriptor, const char* data, int size, const QHostAddress& to,
                    quint16 port);
#endif

// Now, on the clock the node stamps arrivals with: nanoseconds on std::chrono::steady_clock.
qint64 artNetNowNs();

class artnet : public QObject
{
    Q_OBJECT

public:
    // What the send operations return besides a byte count from the socket.
    // The socket failed or is missing, the arguments were refused or sending could not be set
    // up. The repeat timer's slot returns it too when there is nothing to repeat, and after a
    // repeat to every local network, whose results it does not gather.
    static constexpr qint64 kSendError = -1;
    // sendDatagram was given no data.
    static constexpr qint64 kSendNoData = -2;
    // sendDatagram was given 0 bytes, or no destination while no local network is known.
    static constexpr qint64 kSendEmptyOrNoNetwork = -3;
    // sendDmxUniverse was given universe 0, or no destination while no local network is known.
    static constexpr qint64 kSendNothingSent = 0;

    // Discovers the local networks (writing a line per address); opens no socket.
    artnet();
    // Releases sending, DMX input and the socket; waits for a DMX copy another thread is in.
    ~artnet() override;

    // Lifecycle and socket.
    // Binds port 6454 (shared unless shareBind is false and a plain bind succeeds) and reads it
    // from the event loop. True when bound; false when binding failed (tried again next call).
    bool openSocket();
    // Stops reading and closes the socket; openSocket opens a new one. From inside an observer's
    // call, the rest of that read is dropped.
    void closeSocket();
    // Answers ArtPoll while enabled; enabling opens the socket and fails silently without it.
    void setPollReplyEnabled(bool enabled);
    // The names ArtPollReply reports, cut to their fields when sent.
    void setNames(const QString& shortName, const QString& longName);
    // Every timecode sender heard, in the order first heard: the one table the window, the
    // companion program's commands and the benchmarks read. Reading it never opens the socket:
    // a node fed by another transport (a packet capture) is read the same way. On the node's
    // thread.
    const SenderTable& senders() const { return *timecodeSources; }
    // The last timecode, address and stream of the index-th entry of the table; false without a
    // record pointer or past the last entry.
    bool getTimecode(TimecodeRecord* record, QHostAddress* sender, int index,
                     quint8* stream = nullptr) const;
    // Now on the node's timecode clock, the one the table's arrivals are on: the time since an
    // arrival, against this, tells a sender that still sends from one that went silent.
    qint64 timecodeClockNow() const;
    // Takes ownership; replaces the clock the arrivals are kept on.
    void setTimecodeClock(TimecodeClock* clock);
    // Takes ownership; replaces where datagrams come from and go to, closing the socket first.
    // Not from inside an observer's call.
    void setTransport(ArtNetTransport* transport);
    // Datagrams the system dropped for want of room before the node read them, since the node's
    // socket was first opened: the socket's own, or the capture's when it is the transport.
    quint64 kernelDrops() const;
    // Hands on every datagram the transport holds now, without waiting for the event loop: a
    // run that ends counts everything that came before its end.
    void readPending();
    // Reads the socket at most once every `milliseconds` while datagrams keep coming: a datagram
    // that arrives sooner after the last read waits for the rest of the interval and is read
    // together with what else came meanwhile; the first after a quiet interval is read at once.
    // 0, the default, reads at every wakeup. For a program that looks at the store only every
    // few tens of milliseconds: under a flood it wakes once per interval instead of once per
    // few datagrams. Arrivals stay the kernel's stamps, so the wait moves none.
    void setReadInterval(int milliseconds);

    // Observation. The observer stays the caller's; null ends the observation.
    void setObserver(ArtNetObserver* observer);
    // Handles one datagram that was read elsewhere (a packet capture, a test) exactly as one read
    // from the node's own socket: stored, answered and handed to the observer. The arrival is in
    // nanoseconds on std::chrono::steady_clock.
    void takeDatagram(const char* data, int size, const QHostAddress& sender, qint64 arrivalNs);
    // The node's diagnostic lines on standard output, on unless turned off; for the whole
    // process, like standard output itself. Off for a program whose standard output is its
    // result.
    static void setDiagnosticLines(bool enabled);

    // Local networks.
    // Builds the list of local IPv4 networks once, writing a line per address; always true.
    bool discoverInterfaces();

    // Poll.
    // Sends ArtPoll to every local network's broadcast address, writing a line for each sent;
    // returns the bytes sent, 0 when none was.
    qint64 sendPoll();
    // The index-th local network's address as text; a null string past the list.
    QString interfaceIp(int index);
    // Six bytes from a hardware-address text's hexadecimal pairs; missing pairs stay 0.
    void macFromString(QString text, quint8 mac[6]);

    // DMX input.
    // Opens the socket and starts taking ArtDmx; false without a socket.
    bool enableDmxInput();
    // Stops taking ArtDmx; the registered buffers stay.
    void disableDmxInput();
    // Sets the node's own universe from a number counted from 1; false, and no change, for 0.
    bool setUniverse(quint16 universeNumber);
    // Copies at most *length bytes of the own universe's last data and sets *length to what was
    // copied. Enables DMX input on the node's thread; false without it, without a destination or
    // for length 0. Any thread once DMX input is enabled; there, input turned off gives false.
    bool readUniverse(quint8* destination, quint16* length);
    // Registers the caller's buffer for universe after universe from the own one on, or removes
    // it (null). Refused at 0 channels, and when its shadow copy cannot be allocated; a refused
    // call leaves the earlier registration as it was. Any thread once DMX input is enabled;
    // removing a buffer needs nothing enabled. Once it returns, the previous buffer is the
    // caller's again.
    void setDmxBuffer(quint8* buffer, quint32 size, quint16 channelsPerUniverse);
    // The registered buffer and its size, as one pair. Any thread.
    void getDmxBuffer(quint8** buffer, quint32* size);
    // One byte of the registered buffer, universes counted from the buffer's start, read where
    // the received data was placed; false outside the buffer or for a channel past the channels
    // per universe (past 512 when a universe has more). Any thread.
    bool getDmxValue(quint16 universeIndex, quint16 channel, quint8* value);
    // Registers the caller's pixels, three channels each, or removes them (null). The pixels land
    // as the DMX buffer's channels per universe place them; channelsPerPort only sets how many
    // ports the node reports for them (3 × count / channelsPerPort, rounded up; at most 32,768
    // in all). Refused at 0. Any thread once DMX input is enabled; once it returns, the previous
    // array is the caller's again. Defined by the pixel library, chronolume_artnet_pixels, the
    // one part of the node that needs Qt GUI: a program that calls it links that library.
    void setPixelBuffer(QColor* colors, quint32 count, quint16 channelsPerPort);
    // Publishes what a hold collected into the caller's buffer and restarts the hold's clock.
    // Any thread.
    void commitDmx();
    // Takes ownership; replaces the clock the hold expiry is measured with. Any thread.
    void setSyncClock(ElapsedClock* clock);

    // Sending. The results are a byte count from the socket or one of the kSend values.
    // Opens the socket and creates the ArtDmx template and the 500 ms repeat; false without a
    // socket.
    bool enableSending();
    // Releases what enableSending created. Only the destructor needs it.
    void disableSending();
    // One datagram to port 6454 of the destination, or of the first local network's broadcast
    // address without one: the socket's result, kSendError without a socket, kSendNoData,
    // kSendEmptyOrNoNetwork. An IPv4-mapped destination (::ffff:a.b.c.d) is sent to as a.b.c.d;
    // any other IPv6 destination gives kSendError.
    qint64 sendDatagram(const char* data, quint16 length, const QHostAddress* destination);
    // One ArtDmx of 2 to 512 slots, then repeated every 500 ms to the same destination (every
    // local network's broadcast address without one) until the next one is sent. kSendError for
    // refused arguments or a failed send, which leaves the previous frame repeating.
    qint64 sendDmx(const quint8* data, quint16 length, quint8 subUni, quint8 net,
                   const QHostAddress* destination);
    // sendDmx for a universe counted from 1, to the first local network's broadcast address
    // without a destination; kSendNothingSent for universe 0 or no local network.
    qint64 sendDmxUniverse(const quint8* data, quint16 length, quint16 universeNumber,
                           const QHostAddress* destination);
    // One ArtTimeCode to the destination, or to every local network's broadcast address without
    // one (the sum of the results); kSendError without a record, a socket or a network.
    qint64 sendTimecode(const TimecodeRecord* timecode, const QHostAddress* destination);

private slots:
    qint64 sendDataTimeout();

private:
    void readPackage();
    // Whether DMX input is on, read under dmxMutex: a caller's thread asks while the node's
    // thread turns it off.
    bool dmxInputEnabled() const;

    friend class ArtnetProbe; // test access to the node's private state

    void handlePackage(QByteArray& datagram, const QHostAddress& sender, qint64 arrivalNs);
    // What identifies the node's own ArtPollReply, which names no sender when it comes back.
    SenderNaming::OwnReply ownReply() const;
    void storeTimecode(const TimecodeRecord& record, const QHostAddress& sender, quint8 stream,
                       qint64 arrivalNs);
    void receiveSync(ArtNetPacket::PacketId id, quint16 opCode, const QByteArray& datagram);
    void sendPollReply(const QHostAddress& sender);
    // The three steps of a received ArtDmx, each with dmxMutex held.
    void receiveOwnUniverse(const ArtNetPacket::DmxFrame& frame);
    void receiveDmx(const ArtNetPacket::DmxFrame& frame);
    void receivePixels(const ArtNetPacket::DmxFrame& frame);
    // Writes `count` of the caller's pixels from index `first` on, from `length` data bytes: the
    // colour rule, which setPixelBuffer hands over with the pixels, so that the node itself
    // knows no QColor.
    using PixelWriter = void (*)(void* pixels, quint64 first, quint32 count, const quint8* data,
                                 quint16 length);
    // setPixelBuffer's work, for pixels of any type and their writer.
    void setPixelTarget(void* pixels, PixelWriter writer, quint32 count, quint16 channelsPerPort);
    qint64 sendToEveryNetwork(
        const char* data, quint16 length,
        const std::function<void(const InterfaceEntry&, const QHostAddress&, qint64)>& sent = {});

public:
    bool shareBind = true; // bind with address sharing, so other Art-Net programs can coexist

private:
    ArtNetTransport* transport = nullptr;
    int readIntervalMs = 0; // handed to every transport the node uses
    // Counts the opens and closes of the socket: a read sees whether its socket is still the one.
    quint64 socketGeneration = 0;
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
    SenderTable* timecodeSources = nullptr;
    TimecodeClock* timecodeClock = nullptr;
    QTimer* sendTimer = nullptr;
    quint8* receiveHeader = nullptr;
    quint8* lastPoll = nullptr;
    QMutex* dmxMutex = nullptr;
    quint8* dmxBuffer = nullptr;
    quint8* shadowBuffer = nullptr;
    quint32 dmxBufferSize = 0;
    quint16 dmxChannelsPerUniverse = ArtNetPacket::kDmxMaxSlots;
    qint16 dmxHold = 0;
    ElapsedClock* syncClock = nullptr;
    void* pixelBuffer = nullptr;
    PixelWriter pixelWriter = nullptr;
    quint32 pixelCount = 0;
    quint16 pixelChannelsPerPort = ArtNetPacket::kDmxMaxSlots;

public:
    quint8 versionHi = 0;
    quint8 versionLo = 0;

private:
    QString shortName;
    QString longName;
    QString nodeReport;
    bool pollReplyEnabled = false;
    ArtNetObserver* observer = nullptr;
};
