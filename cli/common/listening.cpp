#include "common/listening.h"
#include "common/capture.h"
#include "common/console.h"

#include "packets.h"

#include <QCoreApplication>

namespace {
constexpr char kCaptureName[] = "chronolume-packet-capture";
}

bool listenBesideOthers(artnet& node, ArtNetObserver* observer, const QString& command,
                        const QString& interface)
{
    node.setObserver(observer);
    // The node's child: it lives as long as the node, and never outlives it.
    auto* capture = new Capture::Listener(node, &node);
    capture->setObjectName(QLatin1String(kCaptureName));
    QString why;
    const QString device = interface.isEmpty() ? QStringLiteral("any") : interface;
    switch (capture->open(device, &why)) {
    case Capture::Listener::Opened::Capturing:
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
        delete capture;
        if (!interface.isEmpty()) {
            Console::error(
                QStringLiteral("%1: cannot capture on %2: %3").arg(command, interface, why));
            return false;
        }
        Console::error(QStringLiteral("%1: packet capture failed (%2); sharing UDP port %3 "
                                      "instead")
                           .arg(command, why)
                           .arg(ArtNetPacket::kPort));
        capture = nullptr;
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
    if (node.openSocket())
        return true;
    Console::error(
        QStringLiteral("%1: cannot listen on UDP port %2 (another program holds it without "
                       "sharing)")
            .arg(command)
            .arg(ArtNetPacket::kPort));
    return false;
}

bool listeningByCapture(const artnet& node)
{
    return node.findChild<QObject*>(QLatin1String(kCaptureName), Qt::FindDirectChildrenOnly) !=
           nullptr;
}

quint64 listeningDrops(const artnet& node)
{
    const QObject* capture =
        node.findChild<QObject*>(QLatin1String(kCaptureName), Qt::FindDirectChildrenOnly);
    if (capture)
        return static_cast<const Capture::Listener*>(capture)->drops();
    return node.kernelDrops();
}

void takeCapturedNow(artnet& node)
{
    // Only a Listener takes that name.
    QObject* capture =
        node.findChild<QObject*>(QLatin1String(kCaptureName), Qt::FindDirectChildrenOnly);
    if (capture)
        static_cast<Capture::Listener*>(capture)->readAll();
}
