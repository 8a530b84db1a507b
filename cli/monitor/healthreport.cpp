#include "monitor/healthreport.h"
#include "common/textoutput.h"

#include "timecode.h"

namespace TimecodeHealth {

Row row(const SenderStats& stats, qint64 nowNs)
{
    Row r;
    r.sender = stats.sender.toString();
    r.timecode = Timecode::text(stats.last);
    r.type = stats.last.type;
    r.rateName = QLatin1String(Timecode::rateName(stats.last.type));
    r.frames = stats.frames;
    r.measuredFps = stats.measuredFps();
    r.missing = stats.missing;
    r.repeated = stats.repeated;
    r.jumps = stats.jumps;
    r.late = stats.late;
    r.duplicate = stats.duplicate;
    r.jitterP50Ms = stats.jitter.percentileMs(0.50);
    r.jitterP99Ms = stats.jitter.percentileMs(0.99);
    r.stopped = stats.stoppedAt(nowNs);
    return r;
}

QList<Row> rows(const Monitor& monitor, qint64 nowNs)
{
    QList<Row> out;
    for (const SenderStats& stats : monitor.senders()) {
        out.append(row(stats, nowNs));
        out.last().kernelDrops = monitor.kernelDrops;
    }
    return out;
}

QString jsonLine(const Row& r, bool final)
{
    TextOutput::JsonObject o;
    o.add("sender", r.sender);
    o.add("timecode", r.timecode);
    o.add("type", qint64(r.type));
    o.add("rate_name", r.rateName);
    o.add("frames", r.frames);
    o.add("measured_fps", r.measuredFps, 3);
    o.add("missing", r.missing);
    o.add("repeated", r.repeated);
    o.add("jumps", r.jumps);
    o.add("late", r.late);
    o.add("duplicate", r.duplicate);
    o.add("jitter_p50_ms", r.jitterP50Ms, 3);
    o.add("jitter_p99_ms", r.jitterP99Ms, 3);
    o.add("kernel_drops", qint64(r.kernelDrops));
    o.add("stopped", r.stopped);
    o.add("final", final);
    return o.text();
}

QStringList tableLines(const QList<Row>& rows)
{
    TextOutput::Table table(
        {QStringLiteral("SENDER"), QStringLiteral("TIMECODE"), QStringLiteral("RATE"),
         QStringLiteral("FRAMES"), QStringLiteral("FPS"), QStringLiteral("MISSING"),
         QStringLiteral("REPEATED"), QStringLiteral("JUMPS"), QStringLiteral("LATE"),
         QStringLiteral("DUPLICATE"), QStringLiteral("JITTER P50/P99 MS"),
         QStringLiteral("KERNEL DROPS"), QStringLiteral("STATE")});
    for (const Row& r : rows) {
        table.add({r.sender, r.timecode, r.rateName, QString::number(r.frames),
                   QString::number(r.measuredFps, 'f', 3), QString::number(r.missing),
                   QString::number(r.repeated), QString::number(r.jumps), QString::number(r.late),
                   QString::number(r.duplicate),
                   QStringLiteral("%1/%2").arg(QString::number(r.jitterP50Ms, 'f', 3),
                                               QString::number(r.jitterP99Ms, 'f', 3)),
                   QString::number(r.kernelDrops),
                   r.stopped ? QStringLiteral("stopped") : QStringLiteral("running")});
    }
    return table.lines();
}

} // namespace TimecodeHealth
