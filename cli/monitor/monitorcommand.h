// chronolume-cli monitor: how steady every sender's timecode is, as it arrives.
#pragma once

#include <QStringList>

// Takes the arguments after "monitor"; returns the exit status.
int runMonitor(const QStringList& arguments);
