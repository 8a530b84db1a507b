// chronolume-cli mtc-encode: MIDI timecode out, counted from a start or following ArtTimeCode.
#pragma once

#include <QStringList>

// Takes the arguments after "mtc-encode"; returns the exit status.
int runMtcEncode(const QStringList& arguments);
