// chronolume-cli ltc-encode: LTC audio out.
#pragma once

#include <QStringList>

// Takes the arguments after "ltc-encode"; returns the exit status.
int runLtcEncode(const QStringList& arguments);
