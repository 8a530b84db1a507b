// The options of "chronolume-cli ltc-bridge", parsed and checked into plain values before any
// audio is read.
#pragma once

#include "ltcbridge/bridgerun.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

struct LtcBridgeOptions
{
    QString input;          // a sound file; empty for raw samples on standard input
    int channel = 1;        // of the file, from 1
    int sampleRate = 48000; // of raw input
    Pcm::RawFormat format = Pcm::RawFormat::S16; // of raw input
    quint8 stream = 0;                           // the StreamId sent
    bool fast = false;                           // --fast
    bool realtime = false;                       // --realtime
    BridgeSettings settings;                     // all but the pacing, which follows from the input
    QList<QHostAddress> destinations;            // a null address: every local network's broadcast
    bool quiet = false;
};

// Parses and checks the arguments after "ltc-bridge". True when the bridge is to run;
// otherwise the help was shown (*status kOk) or the input complained about (*status kUsage).
bool parseLtcBridgeOptions(const QStringList& arguments, LtcBridgeOptions* options, int* status);

// How an input is paced: a file by its sample clock unless --fast; standard input as it is
// decoded unless --realtime, or --fast, which also sends the frames decoded before the rate
// was known.
BridgeSettings::Pacing bridgePacing(bool file, bool fast, bool realtime);
