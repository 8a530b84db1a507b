// What `monitor` prints: each sender's figures as a JSON line and as a table row, from the same
// values.
#pragma once

#include "monitor/timecodehealth.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace TimecodeHealth {

// One sender's figures as the monitor prints them, computed once for the table and the JSON.
struct Row
{
    QString sender;   // dotted quad
    int stream = 0;   // ArtTimeCode's StreamId
    QString timecode; // HH:MM:SS:FF
    int type = 0;
    QString rateName;
    qint64 frames = 0;
    double measuredFps = 0;
    qint64 missing = 0;
    qint64 repeated = 0;
    qint64 jumps = 0;
    qint64 late = 0;
    qint64 duplicate = 0;
    qint64 reverse = 0;
    qint64 dropouts = 0;
    double silentS = 0;    // every silence of more than a second, the one going on included
    bool conflict = false; // two programs send under this address and stream
    QStringList reasons;   // why the run is unhealthy; empty when healthy
    double jitterP50Ms = 0;
    double jitterP99Ms = 0;
    quint64 kernelDrops = 0; // the node's, the same in every row
    bool stopped = false;
};

Row row(const SenderStats& stats, qint64 nowNs);
// Every sender's row, in first-heard order.
QList<Row> rows(const Monitor& monitor, qint64 nowNs);

// One JSON object on one line, without its line break; keys in a fixed order.
QString jsonLine(const Row& row, bool final);
// The table: a header line and one line per sender. With a width, the columns that do not fit
// are left out, least important first, and no line is longer than width - 1 characters, so a
// terminal never wraps one (a line that fills the last column leaves the cursor in between).
QStringList tableLines(const QList<Row>& rows, int width = 0);

// One line per unhealthy sender: its address (and stream, when not 0) and why.
QStringList reasonLines(const QList<Row>& rows);

} // namespace TimecodeHealth
