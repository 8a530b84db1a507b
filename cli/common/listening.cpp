#include "common/listening.h"
#include "common/console.h"

#include "packets.h"

bool listenBesideOthers(artnet& node, ArtNetObserver* observer, const QString& command)
{
    node.setObserver(observer);
    if (node.openSocket())
        return true;
    Console::error(
        QStringLiteral("%1: cannot listen on UDP port %2 (another program holds it without "
                       "sharing)")
            .arg(command)
            .arg(ArtNetPacket::kPort));
    return false;
}
