// The options of "chronolume-cli send", parsed and checked into plain values before anything is
// sent.
#pragma once

#include "artnet.h"
#include "timecode.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

struct SendOptions
{
    quint8 type = Timecode::kEbu; // 25 fps unless told otherwise
    TimecodeRecord start{0, 0, 0, 0, Timecode::kEbu};
    QList<QHostAddress> destinations; // a null one: every local network's broadcast address
    qint64 frameCount = -1;           // frames to send, -1 until interrupted
    bool quiet = false;
    quint8 stream = 0; // the StreamId of every datagram
    QHostAddress from; // the local address to send from; null: the system chooses
};

// Parses and checks the arguments after "send". True when the stream is to run; otherwise the
// help was shown (*status kOk) or the input complained about on stderr (*status kUsage).
bool parseSendOptions(const QStringList& arguments, SendOptions* options, int* status);
