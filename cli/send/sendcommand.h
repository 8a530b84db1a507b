// chronolume-cli send: ArtTimeCode at a steady frame rate.
#pragma once

#include <QStringList>

// Takes the arguments after "send"; returns the exit status.
int runSend(const QStringList& arguments);
