#include "monitor/healthreport.h"
#include "common/textoutput.h"

#include "timecode.h"

#include <functional>

namespace TimecodeHealth {

Row row(const SenderStats& stats, qint64 nowNs)
{
    Row r;
    r.sender = stats.sender.toString();
    r.stream = stats.stream;
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
    r.reverse = stats.reverse;
    r.dropouts = stats.dropouts;
    r.silentS = double(stats.silentNsAt(nowNs)) / 1e9;
    r.conflict = stats.conflict;
    r.reasons = stats.reasonsAt(nowNs);
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
        if (monitor.kernelDrops > 0)
            out.last().reasons.append(QStringLiteral("kernel drops %1").arg(monitor.kernelDrops));
    }
    return out;
}

QString jsonLine(const Row& r, bool final)
{
    TextOutput::JsonObject o;
    o.add("sender", r.sender);
    o.add("stream", qint64(r.stream));
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
    o.add("reverse", r.reverse);
    o.add("dropout", r.dropouts);
    o.add("silent_s", r.silentS, 3);
    o.add("jitter_p50_ms", r.jitterP50Ms, 3);
    o.add("jitter_p99_ms", r.jitterP99Ms, 3);
    o.add("kernel_drops", qint64(r.kernelDrops));
    o.add("stopped", r.stopped);
    o.add("conflict", r.conflict);
    o.add("final", final);
    return o.text();
}

namespace {

QString stateText(const Row& r)
{
    if (r.conflict)
        return QStringLiteral("two sources");
    return r.stopped ? QStringLiteral("stopped") : QStringLiteral("running");
}

QString senderText(const Row& r)
{
    return r.stream == 0 ? r.sender : QStringLiteral("%1 stream %2").arg(r.sender).arg(r.stream);
}

} // namespace

QStringList tableLines(const QList<Row>& rows, int width)
{
    // Left to right as printed; each column's rank says which goes first when the terminal is
    // too narrow: the highest rank is left out first.
    struct Column
    {
        QString header;
        int rank;
        std::function<QString(const Row&)> cell;
    };
    const auto number = [](qint64 value) { return QString::number(value); };
    const QList<Column> columns = {
        {QStringLiteral("SENDER"), 0, [](const Row& r) { return senderText(r); }},
        {QStringLiteral("TIMECODE"), 1, [](const Row& r) { return r.timecode; }},
        {QStringLiteral("RATE"), 5, [](const Row& r) { return r.rateName; }},
        {QStringLiteral("FRAMES"), 11, [&](const Row& r) { return number(r.frames); }},
        {QStringLiteral("FPS"), 6,
         [](const Row& r) { return QString::number(r.measuredFps, 'f', 3); }},
        {QStringLiteral("MISSING"), 3, [&](const Row& r) { return number(r.missing); }},
        {QStringLiteral("REPEATED"), 12, [&](const Row& r) { return number(r.repeated); }},
        {QStringLiteral("JUMPS"), 4, [&](const Row& r) { return number(r.jumps); }},
        {QStringLiteral("LATE"), 9, [&](const Row& r) { return number(r.late); }},
        {QStringLiteral("REVERSE"), 13, [&](const Row& r) { return number(r.reverse); }},
        {QStringLiteral("DUPLICATE"), 14, [&](const Row& r) { return number(r.duplicate); }},
        {QStringLiteral("DROPOUTS"), 7, [&](const Row& r) { return number(r.dropouts); }},
        {QStringLiteral("JITTER P50/P99 MS"), 10,
         [](const Row& r) {
             return QStringLiteral("%1/%2").arg(QString::number(r.jitterP50Ms, 'f', 3),
                                                QString::number(r.jitterP99Ms, 'f', 3));
         }},
        {QStringLiteral("KERNEL DROPS"), 8,
         [&](const Row& r) { return number(qint64(r.kernelDrops)); }},
        {QStringLiteral("STATE"), 2, [](const Row& r) { return stateText(r); }},
    };

    QList<TextOutput::Column> headers;
    for (const Column& column : columns)
        headers.append(TextOutput::Column{column.header, column.rank});
    QList<QStringList> cells;
    for (const Row& r : rows) {
        QStringList line;
        for (const Column& column : columns)
            line.append(column.cell(r));
        cells.append(line);
    }
    return TextOutput::fittedLines(headers, cells, width);
}

QStringList reasonLines(const QList<Row>& rows)
{
    QStringList lines;
    for (const Row& r : rows) {
        if (!r.reasons.isEmpty())
            lines.append(senderText(r) + QStringLiteral(": ") +
                         r.reasons.join(QStringLiteral(", ")));
    }
    return lines;
}

} // namespace TimecodeHealth
