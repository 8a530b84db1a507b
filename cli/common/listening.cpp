#include "common/listening.h"
#include "common/capture.h"
#include "common/console.h"

#include "packets.h"

#include <QCoreApplication>

bool listenBesideOthers(artnet& node, ArtNetObserver* observer, const QString& command,
                        const QString& interface, Listening* how)
{
    node.setObserver(observer);
    auto* capture = new Capture::Listener(interface.isEmpty() ? QStringLiteral("any") : interface);
    QString why;
    switch (capture->start(&why)) {
    case Capture::Listener::Opened::Capturing:
        // The node's from now on: it goes with the node.
        node.setTransport(capture);
        if (!node.openSocket()) {
            Console::error(QStringLiteral("%1: the capture could not be watched").arg(command));
            return false;
        }
        if (how)
            *how = Listening::ByCapture;
        return true;
    case Capture::Listener::Opened::NoPermission: {
        QString program = QCoreApplication::applicationFilePath();
        if (program.isEmpty())
            program = QStringLiteral("/usr/bin/chronolume-cli");
        Console::error(QStringLiteral("%1: packet capture needs CAP_NET_RAW (grant it with: "
                                      "setcap cap_net_raw+ep %2); sharing UDP port %3 instead")
                           .arg(command, program)
                           .arg(ArtNetPacket::kPort));
        break;
    }
    case Capture::Listener::Opened::Failed:
        if (!interface.isEmpty()) {
            delete capture;
            Console::error(
                QStringLiteral("%1: cannot capture on %2: %3").arg(command, interface, why));
            return false;
        }
        Console::error(QStringLiteral("%1: packet capture failed (%2); sharing UDP port %3 "
                                      "instead")
                           .arg(command, why)
                           .arg(ArtNetPacket::kPort));
        break;
    }
    delete capture;

    // Unicast to this machine reaches only the program that bound the port last, so which of
    // the two hears it is not ours to choose. Asked before the node binds, which would count
    // itself.
    if (artNetPortHeldElsewhere())
        Console::error(QStringLiteral("%1: another program also listens on UDP port %2; "
                                      "datagrams sent to this machine's own address reach only "
                                      "the program that bound the port last")
                           .arg(command)
                           .arg(ArtNetPacket::kPort));
    if (node.openSocket()) {
        if (how)
            *how = Listening::OnPort;
        return true;
    }
    Console::error(
        QStringLiteral("%1: cannot listen on UDP port %2 (another program holds it without "
                       "sharing)")
            .arg(command)
            .arg(ArtNetPacket::kPort));
    return false;
}
