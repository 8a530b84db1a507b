// The bridge's work from the first MIDI message read to the last datagram: the messages waiting
// in the inbox, in the order they came, read by the bridge's rules, and what is due without a
// message (freewheeled frames, the loss) when it is due. The sending and the telling are handed
// in, so the benchmark runs exactly what the command runs.
#pragma once

#include "mtc/inbox.h"
#include "mtc/mtcbridgerules.h"

#include <QtGlobal>

#include <atomic>
#include <functional>

struct MtcBridgeResult
{
    enum End {
        Stopped,       // the stop flag
        OffsetRefused, // MTC of a rate whose numbering lacks the offset came: refusedType
    };
    End end = Stopped;
    quint8 refusedType = 0;
    Mtc::BridgeCounts counts;
    qint64 failed = 0; // datagrams the system refused
};

// Sends one record; false when the system refused it. arrivalNs is when the MIDI message that
// completed the frame arrived, or -1 for a frame sent on after a loss.
using MtcBridgeSend = std::function<bool(const TimecodeRecord& record, qint64 arrivalNs)>;
// Told after each frame sent, and when the state changes.
using MtcBridgeProgress = std::function<void(const Mtc::BridgeCounts& counts)>;
// A loss or a return (Lost, Back).
using MtcBridgeNotify = std::function<void(const Mtc::BridgeAction& notice)>;

// Runs until `stop` is raised (it is looked at ten times a second at least).
MtcBridgeResult bridgeMtc(Mtc::Inbox& inbox, const Mtc::BridgeSettings& settings,
                          const std::atomic<bool>& stop, const MtcBridgeSend& send,
                          const MtcBridgeProgress& progress, const MtcBridgeNotify& notify);
