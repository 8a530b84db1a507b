// The options of "chronolume-cli send", parsed and checked into plain values before anything is
// sent.
#pragma once

#include "artnet.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

struct SendOptions
{
    quint8 type = 1; // ArtTimeCode Type: 25 fps unless told otherwise
    TimecodeRecord start{0, 0, 0, 0, 1};
    QList<QHostAddress> destinations; // empty: every local network's broadcast address
    qint64 frameCount = -1;           // frames to send, -1 until interrupted
    bool quiet = false;
};

struct SendParse
{
    enum Outcome { Run, Help, Error };
    Outcome outcome = Error;
    SendOptions options;
    QString text; // the help text, or the one-line complaint without the program's name
};

SendParse parseSendOptions(const QStringList& arguments);

// "24", "25", "29.97" or "30" for the four Types.
QString rateName(quint8 type);
