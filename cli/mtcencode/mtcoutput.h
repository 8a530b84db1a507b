// What both ways of mtc-encode share: the MIDI output opened as the options say, and the thread
// that sends its messages on time.
#pragma once

#include "mtc/messagewriter.h"
#include "mtc/midiport.h"

#include <QString>

struct MtcEncodeOptions;

namespace MtcOutput {

// Messages waiting to be sent: far more than the two frames' worth handed over at once.
inline constexpr int kQueueLimit = 256;

// Opens the output with its own port, connected as asked; 0 (ExitStatus::kOk), or the exit
// status after a line on standard error.
int open(Midi::Output& output, const MtcEncodeOptions& options);

// Where the MTC went, for the final line: the port it is connected to, or its own.
QString destination(const Midi::Output& output, const MtcEncodeOptions& options);

// Sends through the output.
Mtc::MessageWriter::Send sendingTo(Midi::Output& output);

} // namespace MtcOutput
