// chronolume-cli mtc-encode --follow: MIDI timecode in real time that follows a sender's
// ArtTimeCode, through the scheduler ltc-encode --follow runs.
#pragma once

struct MtcEncodeOptions;

// Runs until SIGINT or SIGTERM; returns the exit status.
int runMtcFollow(const MtcEncodeOptions& options);
