// Read access to the private state of the classes under test, for what no public operation
// shows. Tests use it to check effects, never to drive the code around its real entry points;
// the one entry point it opens is the handling of one received datagram, the step behind the
// socket, which the fuzz target feeds directly.
#pragma once

#include "artnet.h"

#include <QUdpSocket>

class ArtnetProbe
{
public:
    static QUdpSocket* socket(artnet& node) { return node.socket; }
    static bool socketReady(const artnet& node) { return node.socketReady; }
    static bool pollReplyEnabled(const artnet& node) { return node.pollReplyEnabled; }
    static const QList<TimecodeSource>* timecodeSources(const artnet& node)
    {
        return node.timecodeSources;
    }
    static const quint8* lastPoll(const artnet& node) { return node.lastPoll; }
    static qint16 dmxHold(const artnet& node) { return node.dmxHold; }
    static bool sendingReady(const artnet& node) { return node.sendingReady; }
    static const QList<InterfaceEntry>* interfaces(const artnet& node) { return node.interfaces; }
    static QTimer* sendTimer(const artnet& node) { return node.sendTimer; }
    static const QString& shortName(const artnet& node) { return node.shortName; }
    static const QString& longName(const artnet& node) { return node.longName; }
    static bool lastPacketValid(const artnet& node) { return node.lastPacketValid; }

    static void handleDatagram(artnet& node, QByteArray& datagram, const QHostAddress& sender,
                               qint64 arrivalNs = 0)
    {
        node.handlePackage(datagram, sender, arrivalNs);
    }
};
