#include "common/listening.h"
#include "common/broadcastlistener.h"
#include "common/capture.h"
#include "common/console.h"
#include "common/localnetworks.h"

#include "packets.h"

#include <QCoreApplication>

#include <memory>

namespace ListenChoice {

namespace {

QString missed(Heard heard)
{
    return heard == Heard::PollReplies
               ? CliText::tr("ArtPollReplies sent to this machine's own address are not seen, so "
                             "only nodes that broadcast their reply are listed")
               : CliText::tr("timecode sent to this machine's own address is not seen");
}

} // namespace

Choice choose(const Situation& s)
{
    Choice choice;
    if (s.capture == Capture::Opened)
        return choice;
    // A mirror port, say: listening anywhere else would not be what was asked for.
    if (s.capture == Capture::Failed && !s.interface.isEmpty()) {
        choice.refused = true;
        choice.message =
            CliText::tr("%1: cannot capture on %2: %3").arg(s.command, s.interface, s.why);
        return choice;
    }
    const QString grant = QStringLiteral("sudo setcap cap_net_raw+ep ") + s.program;
    if (s.port == Port::Taken) {
        // Bound to every address beside it, this command would take that program's unicast, the
        // desk's timecode to a window among it, for as long as it runs.
        choice.how = Listening::OnBroadcastAddresses;
        choice.message = s.capture == Capture::NoPermission
                             ? CliText::tr("%1: without CAP_NET_RAW, %2; grant it with: %3")
                                   .arg(s.command, missed(s.heard), grant)
                             : CliText::tr("%1: packet capture failed (%2); %3")
                                   .arg(s.command, s.why, missed(s.heard));
        return choice;
    }
    choice.how = Listening::OnPort;
    choice.message =
        s.capture == Capture::NoPermission
            ? CliText::tr("%1: packet capture needs CAP_NET_RAW (grant it with: %2); sharing UDP "
                          "port %3 instead")
                  .arg(s.command, grant)
                  .arg(ArtNetPacket::kPort)
            : CliText::tr("%1: packet capture failed (%2); sharing UDP port %3 instead")
                  .arg(s.command, s.why)
                  .arg(ArtNetPacket::kPort);
    return choice;
}

} // namespace ListenChoice

namespace {

} // namespace

bool listenBesideOthers(artnet& node, ArtNetObserver* observer, const QString& command,
                        const QString& interface, Listening* how, Heard heard)
{
    node.setObserver(observer);
    auto capture = std::make_unique<Capture::Listener>(interface.isEmpty() ? QStringLiteral("any")
                                                                           : interface);
    ListenChoice::Situation situation;
    switch (capture->start(&situation.why)) {
    case Capture::Listener::Opened::Capturing:
        situation.capture = ListenChoice::Capture::Opened;
        break;
    case Capture::Listener::Opened::NoPermission:
        situation.capture = ListenChoice::Capture::NoPermission;
        break;
    case Capture::Listener::Opened::Failed:
        situation.capture = ListenChoice::Capture::Failed;
        break;
    }
    situation.interface = interface;
    situation.command = command;
    situation.program = QCoreApplication::applicationFilePath();
    if (situation.program.isEmpty())
        situation.program = QStringLiteral("/usr/bin/chronolume-cli");
    situation.heard = heard;
    QList<QHostAddress> broadcastAddresses;
    if (situation.capture != ListenChoice::Capture::Opened) {
        // Asked before the node binds, which would count itself.
        broadcastAddresses = ArtNetPort::localBroadcastAddresses();
        situation.port = ArtNetPort::heldNow(broadcastAddresses);
    }
    const ListenChoice::Choice choice = ListenChoice::choose(situation);
    if (!choice.message.isEmpty())
        Console::error(choice.message);
    if (choice.refused)
        return false;
    switch (choice.how) {
    case Listening::ByCapture:
        // The node's from now on: it goes with the node.
        node.setTransport(capture.release());
        if (!node.openSocket()) {
            Console::error(CliText::tr("%1: the capture could not be watched").arg(command));
            return false;
        }
        break;
    case Listening::OnBroadcastAddresses:
        node.setTransport(new BroadcastListener(broadcastAddresses));
        [[fallthrough]];
    case Listening::OnPort:
        if (!node.openSocket()) {
            Console::error(CliText::tr("%1: cannot listen on UDP port %2 (another program holds "
                                       "it without sharing)")
                               .arg(command)
                               .arg(ArtNetPacket::kPort));
            return false;
        }
        break;
    }
    if (how)
        *how = choice.how;
    return true;
}

QString listeningHelp(Heard heard)
{
    const QString without =
        heard == Heard::PollReplies
            ? CliText::tr("then lists only the nodes that broadcast their ArtPollReply")
            : CliText::tr("then does not see the timecode sent to this machine's own address");
    return CliText::tr("It listens by packet capture, which takes nothing from the window or any "
                       "other program on UDP port 6454, and needs CAP_NET_RAW (the package "
                       "grants it). Without it, it binds port 6454 on every address while no "
                       "other program listens there, else only on the broadcast addresses of "
                       "this machine's networks, and %1.")
        .arg(without);
}
