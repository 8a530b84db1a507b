// The options of "chronolume-cli mtc-bridge", parsed and checked into plain values before any
// MIDI port is opened.
#pragma once

#include "common/midioptions.h"
#include "ltc/bridgetiming.h"
#include "mtc/mtcbridgerules.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

struct MtcBridgeOptions
{
    Mtc::BridgeSettings settings; // the offset at every Type, the correction, the freewheel
    bool offsetGiven = false;
    TimecodeOffset offset;            // as given, for the complaint when a Type lacks it
    quint8 stream = 0;                // the StreamId sent
    QList<QHostAddress> destinations; // a null address: every local network's broadcast
    MidiOptions::Values midi;
    bool quiet = false;
};

// Parses and checks the arguments after "mtc-bridge". True when the bridge is to run (or list
// the ports); otherwise the help was shown (*status kOk) or the input complained about (*status
// kUsage).
bool parseMtcBridgeOptions(const QStringList& arguments, MtcBridgeOptions* options, int* status);
