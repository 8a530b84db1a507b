// chronolume-cli ltc-bridge: LTC audio in, ArtTimeCode out.
#pragma once

#include <QStringList>

// Takes the arguments after "ltc-bridge"; returns the exit status.
int runLtcBridge(const QStringList& arguments);
