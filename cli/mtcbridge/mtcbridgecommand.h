// chronolume-cli mtc-bridge: MIDI timecode in, ArtTimeCode out.
#pragma once

#include <QStringList>

// Takes the arguments after "mtc-bridge"; returns the exit status.
int runMtcBridge(const QStringList& arguments);
