// Puts ArtTimeCode on the wire from a socket of its own.
//
// The sender does not send through the node: the node holds port 6454, and of the programs
// sharing that port on one host only the last bound receives unicast, so a running generator
// would take the datagrams addressed to a window on the same machine, its own included.
#pragma once

#include "artnet.h"

#include <QHostAddress>
#include <QList>
#include <QString>

class QUdpSocket;

class TimecodeSender
{
public:
    explicit TimecodeSender(QList<QHostAddress> destinations);
    ~TimecodeSender();
    TimecodeSender(const TimecodeSender&) = delete;
    TimecodeSender& operator=(const TimecodeSender&) = delete;

    // The StreamId of every datagram from now on; 0 until set.
    void setStream(quint8 id) { stream = id; }
    // The local address open() binds to; null (the default) lets the system choose.
    void setSource(const QHostAddress& address) { source = address; }

    // Binds an ephemeral port; false with errorText() when the system refuses.
    bool open();

    // Sends one datagram to each destination; false when any of them failed, the first failure
    // of the run kept in errorText().
    bool send(const TimecodeRecord& record);

    QString errorText() const { return firstError; }

private:
    QList<QHostAddress> destinations;
    QHostAddress source;
    quint8 stream = 0;
    QUdpSocket* socket = nullptr;
    QString firstError;
};
