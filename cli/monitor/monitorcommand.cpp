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
    void timecodeReceived(const TimecodeRecord& record, const QHostAddress& sender, quint8,
                          qint64 arrivalNs) override
    {
        monitor.arrived(record, sender, arrivalNs);
    }

private:
    TimecodeHealth::Monitor& monitor;
};

void writeJson(Console::OutputThread& output, const TimecodeHealth::Monitor& monitor, qint64 nowNs,
               bool final)
{
    QString text;
    for (const TimecodeHealth::Row& row : TimecodeHealth::rows(monitor, nowNs))
        text += TimecodeHealth::jsonLine(row, final) + QLatin1Char('\n');
    if (!text.isEmpty())
        output.append(text);
}

QStringList tableOrWaiting(const TimecodeHealth::Monitor& monitor, qint64 nowNs)
{
    if (monitor.senders().isEmpty())
        return {QCoreApplication::translate("monitor", "waiting for ArtTimeCode on UDP port %1")
                    .arg(ArtNetPacket::kPort)};
    return TimecodeHealth::tableLines(TimecodeHealth::rows(monitor, nowNs));
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
    int status = ExitStatus::kOk;
    if (!CommandLine::parse(parser, QStringLiteral("monitor"),
                            QCoreApplication::translate(
                                "monitor", "Listens for ArtTimeCode on UDP port 6454 and measures, "
                                           "for every sender, the rate, lost, late, doubled, "
                                           "repeated and jumping frames, the jitter and stops."),
                            {json, forSeconds}, arguments, &status))
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

    // Unicast to this machine reaches only the program that bound the port last, so which of
    // the two hears a controller's unicast is not ours to choose. Asked before the node binds,
    // which would count itself.
    const bool shared = artNetPortHeldElsewhere();
    if (shared)
        Console::error(QStringLiteral("monitor: another program also listens on UDP port %1; "
                                      "timecode sent to this machine's own address reaches only "
                                      "the program that bound the port last")
                           .arg(ArtNetPacket::kPort));

    // The node's own diagnostic lines would mix with the table and the JSON lines.
    artnet::setDiagnosticLines(false);
    TimecodeHealth::Monitor monitor;
    HealthObserver observer(monitor);
    artnet node;
    if (!listenBesideOthers(node, &observer, QStringLiteral("monitor")))
        return ExitStatus::kFailure;
    // Reception runs on this thread; what is written waits on a thread of its own, so that a
    // paused terminal holds up no datagram. The arrival times are the kernel's in any case.
    Console::OutputThread output;

    const std::atomic<bool>& stop = Console::installStopSignals();
    const bool asJson = parser.isSet(json);
    const bool terminal = Console::stdoutIsTerminal();
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
            output.redrawTable(tableOrWaiting(monitor, now));
        }
    });
    tick.start(kTickMs);
    if (!asJson && terminal)
        output.redrawTable(tableOrWaiting(monitor, startNs));
    loop.exec();
    node.setObserver(nullptr);

    const qint64 endNs = artNetNowNs();
    monitor.kernelDrops = node.kernelDrops();
    if (asJson) {
        writeJson(output, monitor, endNs, true);
    } else if (terminal) {
        output.redrawTable(tableOrWaiting(monitor, endNs));
    } else if (!monitor.senders().isEmpty()) {
        output.append(TimecodeHealth::tableLines(TimecodeHealth::rows(monitor, endNs))
                          .join(QLatin1Char('\n')) +
                      QLatin1Char('\n'));
    }
    output.flush();
    const int verdict = monitor.verdictAt(endNs);
    if (verdict != ExitStatus::kNoneHeard)
        return verdict;
    // The other program may have come after this one: with the node's socket closed, a plain
    // bind still fails while it listens.
    node.closeSocket();
    if (shared || artNetPortHeldElsewhere())
        Console::error(QStringLiteral("monitor: no ArtTimeCode heard; another program listens on "
                                      "UDP port %1 and may be receiving the timecode sent to "
                                      "this machine's own address")
                           .arg(ArtNetPacket::kPort));
    else
        Console::error(QStringLiteral("monitor: no ArtTimeCode heard"));
    return verdict;
}
