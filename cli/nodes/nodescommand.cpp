#include "nodes/nodescommand.h"
#include "common/commandline.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "common/listening.h"
#include "common/optionvalues.h"
#include "nodes/nodelist.h"
#include "nodes/nodereport.h"

#include "artnet.h"
#include "interfaces.h"
#include "packets.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace {

constexpr int kDefaultWaitMs = 3000;
constexpr int kMaxWaitMs = 3'600'000;
constexpr int kStopCheckMs = 50;

class ReplyCollector : public ArtNetObserver
{
public:
    void pollReplyReceived(const QByteArray& datagram, const QHostAddress& sender) override
    {
        NodeList::Node node;
        if (NodeList::fromReply(datagram, sender, &node))
            collected.add(node);
    }
    NodeList::Collected collected;
};

} // namespace

bool parseNodesOptions(const QStringList& arguments, NodesOptions* parsed, int* status)
{
    QCommandLineParser parser;
    const QCommandLineOption json(
        QStringLiteral("json"),
        QCoreApplication::translate("nodes", "One JSON object per node and line."));
    const QCommandLineOption wait(
        QStringLiteral("wait"),
        QCoreApplication::translate("nodes", "Collect answers for MS milliseconds, 1 to %1 "
                                             "(default %2).")
            .arg(kMaxWaitMs)
            .arg(kDefaultWaitMs),
        QStringLiteral("MS"));
    if (!CommandLine::parse(parser, QStringLiteral("nodes"),
                            QCoreApplication::translate(
                                "nodes", "Sends ArtPoll on every local IPv4 network from a "
                                         "port of its own, reads the answers, and lists "
                                         "every node that answers, once per address and "
                                         "BindIndex. ") +
                                    listeningHelp(Heard::PollReplies),
                            {json, wait}, arguments, status))
        return false;
    NodesOptions options;
    options.json = parser.isSet(json);
    options.waitMs = kDefaultWaitMs;
    if (parser.isSet(wait)) {
        const QString complaint = OptionValues::readWholeNumber(
            QStringLiteral("--wait"), CommandLine::lastValue(parser, wait), 1, kMaxWaitMs,
            &options.waitMs);
        if (!complaint.isNull()) {
            *status = CommandLine::refuse(QStringLiteral("nodes: ") + complaint);
            return false;
        }
    }
    *parsed = options;
    *status = ExitStatus::kOk;
    return true;
}

int runNodes(const QStringList& arguments)
{
    NodesOptions options;
    int status = ExitStatus::kOk;
    if (!parseNodesOptions(arguments, &options, &status))
        return status;
    const int waitMs = options.waitMs;

    artnet::setDiagnosticLines(false); // before the node writes the networks it finds
    ReplyCollector collector;
    artnet node;
    if (!listenBesideOthers(node, &collector, QStringLiteral("nodes"), QString(), nullptr,
                            Heard::PollReplies))
        return ExitStatus::kFailure;
    // By capture, and on the broadcast addresses, the poll leaves from a port of its own and port
    // 6454 stays with whoever holds it; the answers come to port 6454 either way.
    const qint64 polled = node.sendPoll();
    if (polled <= 0) {
        Console::error(QStringLiteral("nodes: no local IPv4 network to poll"));
        return ExitStatus::kFailure;
    }

    const std::atomic<bool>& stop = Console::installStopSignals();
    QEventLoop loop;
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, &loop, [&] {
        if (stop.load())
            loop.quit();
    });
    stopCheck.start(kStopCheckMs);
    loop.exec();
    node.setObserver(nullptr);

    const QList<NodeList::Node>& nodes = collector.collected.nodes();
    if (nodes.isEmpty()) {
        Console::error(QStringLiteral("nodes: no Art-Net node answered within %1 ms").arg(waitMs));
        return ExitStatus::kNoneHeard;
    }
    QString text;
    if (options.json) {
        for (const NodeList::Node& n : nodes)
            text += NodeList::jsonLine(n) + QLatin1Char('\n');
    } else {
        // Printed once, at the end: the terminal's width then is the one that counts.
        const int width = Console::stdoutIsTerminal() ? Console::terminalWidth() : 0;
        text = NodeList::tableLines(nodes, width).join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    Console::writeOut(text);
    return ExitStatus::kOk;
}
