// chronolume-cli ltc-encode --follow: LTC in real time that follows a sender's ArtTimeCode.
#pragma once

struct LtcEncodeOptions;

// Runs until SIGINT, SIGTERM or the audio's reader going away; returns the exit status.
int runFollow(const LtcEncodeOptions& options);
