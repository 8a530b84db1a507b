#include "monitor/monitorcommand.h"
#include "common/commandline.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "common/listening.h"
#include "monitor/healthreport.h"
#include "monitor/timecodehealth.h"

#include "artnet.h"
#include "packets.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cmath>

namespace {

constexpr int kTickMs = 100;                   // the table's redraw, and how soon a stop is seen
constexpr qint64 kJsonEveryNs = 1'000'000'000; // one line per sender this often

class HealthObserver : public ArtNetObserver
{
public:
    explicit HealthObserver(TimecodeHealth::Monitor& monitor) : monitor(monitor) {}
    void timecodeReceived(const SenderEntry& sender) override { monitor.arrived(sender); }

private:
    TimecodeHealth::Monitor& monitor;
};

void writeJson(Console::OutputThread& output, const TimecodeHealth::Monitor& monitor, qint64 nowNs,
               bool final)
{
    QString text;
    for (const TimecodeHealth::Row& row : TimecodeHealth::rows(monitor, nowNs))
        text += TimecodeHealth::jsonLine(row, final) + QLatin1Char('\n');
    // The final lines must not be lost: they wait for room once the run is over.
    if (!text.isEmpty() && final)
        output.appendAtEnd(text);
    else if (!text.isEmpty())
        output.append(text);
}

QStringList tableOrWaiting(const TimecodeHealth::Monitor& monitor, qint64 nowNs, int width)
{
    if (monitor.senders().isEmpty()) {
        QString waiting =
            QCoreApplication::translate("monitor", "waiting for ArtTimeCode on UDP port %1")
                .arg(ArtNetPacket::kPort);
        if (width > 0)
            waiting.truncate(width - 1);
        return {waiting};
    }
    return TimecodeHealth::tableLines(TimecodeHealth::rows(monitor, nowNs), width);
}

} // namespace

int runMonitor(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(
        QStringLiteral("json"),
        QCoreApplication::translate("monitor", "One JSON object per sender and line, once a "
                                               "second, and a final one per sender at the end."));
    const QCommandLineOption forSeconds(
        QStringLiteral("for"),
        QCoreApplication::translate("monitor", "End after SECONDS (otherwise at SIGINT or "
                                               "SIGTERM)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption interface(
        QStringLiteral("interface"),
        QCoreApplication::translate("monitor", "Capture on the network interface NAME only (a "
                                               "mirror port, say) rather than on all of them."),
        QStringLiteral("NAME"));
    int status = ExitStatus::kOk;
    if (!CommandLine::parse(parser, QStringLiteral("monitor"),
                            QCoreApplication::translate(
                                "monitor", "Listens for ArtTimeCode on UDP port 6454 and measures, "
                                           "for every sender and stream, the rate, lost, late, "
                                           "doubled, repeated, reversed and jumping frames, the "
                                           "jitter, dropouts and a second source. ") +
                                listeningHelp(),
                            {json, forSeconds, interface}, arguments, &status))
        return status;
    qint64 runNs = 0;
    if (parser.isSet(forSeconds)) {
        bool ok = false;
        const double seconds = parser.value(forSeconds).toDouble(&ok);
        // A year at most: anything longer is a slip of the keyboard.
        if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 366.0 * 86400) {
            return CommandLine::refuse(QStringLiteral("monitor: --for needs a positive number of "
                                                      "seconds, not \"%1\"")
                                           .arg(parser.value(forSeconds)));
        }
        runNs = std::llround(seconds * 1e9);
    }

    // Asked before the node binds, should it have to, which would count itself.
    const bool shared = artNetPortHeldElsewhere();
    // The node's own diagnostic lines would mix with the table and the JSON lines.
    artnet::setDiagnosticLines(false);
    TimecodeHealth::Monitor monitor;
    HealthObserver observer(monitor);
    artnet node;
    Listening how = Listening::OnPort;
    if (!listenBesideOthers(node, &observer, QStringLiteral("monitor"), parser.value(interface),
                            &how))
        return ExitStatus::kFailure;
    const bool capturing = how == Listening::ByCapture;
    // Reception runs on this thread; what is written waits on a thread of its own, so that a
    // paused terminal holds up no datagram. The arrival times are the kernel's in any case.
    Console::OutputThread output;

    const std::atomic<bool>& stop = Console::installStopSignals();
    const bool asJson = parser.isSet(json);
    const bool terminal = Console::stdoutIsTerminal();
    const std::atomic<bool>& resized = Console::installResizeSignal();
    int width = terminal ? Console::terminalWidth() : 0;
    const qint64 startNs = artNetNowNs();
    qint64 nextJsonNs = startNs + kJsonEveryNs;

    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const qint64 now = artNetNowNs();
        monitor.kernelDrops = node.kernelDrops();
        if (stop.load() || (runNs > 0 && now - startNs >= runNs)) {
            loop.quit();
            return;
        }
        if (asJson) {
            if (now >= nextJsonNs) {
                writeJson(output, monitor, now, false);
                // The next whole second of the run, even after a late tick.
                nextJsonNs += ((now - nextJsonNs) / kJsonEveryNs + 1) * kJsonEveryNs;
            }
        } else if (terminal) {
            if (resized.load()) {
                width = Console::terminalWidth();
                Console::resizeSeen();
            }
            output.redrawTable(tableOrWaiting(monitor, now, width));
        }
    });
    tick.start(kTickMs);
    if (!asJson && terminal)
        output.redrawTable(tableOrWaiting(monitor, startNs, width));
    loop.exec();
    node.readPending();
    node.setObserver(nullptr);

    const qint64 endNs = artNetNowNs();
    monitor.kernelDrops = node.kernelDrops();
    const QList<TimecodeHealth::Row> rows = TimecodeHealth::rows(monitor, endNs);
    if (asJson) {
        writeJson(output, monitor, endNs, true);
    } else {
        if (terminal)
            output.redrawTable(tableOrWaiting(monitor, endNs, width));
        else if (!rows.isEmpty())
            output.appendAtEnd(TimecodeHealth::tableLines(rows).join(QLatin1Char('\n')) +
                               QLatin1Char('\n'));
        // Why the run was not healthy, below the table it explains.
        const QStringList reasons = TimecodeHealth::reasonLines(rows);
        if (!reasons.isEmpty())
            output.appendAtEnd(reasons.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    }
    output.flush();
    const int verdict = monitor.verdictAt(endNs);
    if (verdict != ExitStatus::kNoneHeard)
        return verdict;
    // The other program may have come after this one: with the node's socket closed, a plain
    // bind still fails while it listens.
    node.closeSocket();
    if (!capturing && (shared || artNetPortHeldElsewhere()))
        Console::error(QStringLiteral("monitor: no ArtTimeCode heard; another program listens on "
                                      "UDP port %1 and may be receiving the timecode sent to "
                                      "this machine's own address")
                           .arg(ArtNetPacket::kPort));
    else
        Console::error(QStringLiteral("monitor: no ArtTimeCode heard"));
    return verdict;
}
