// The commands of chronolume-cli. Each takes the arguments after its own name and returns the
// process's exit status.
#pragma once

#include <QStringList>

// Exit statuses shared by every command.
namespace ExitStatus {
inline constexpr int kOk = 0;
inline constexpr int kFailure = 1;
inline constexpr int kUsage = 2;
// monitor and nodes: nothing was heard at all.
inline constexpr int kNoneHeard = 3;
} // namespace ExitStatus

int runSend(const QStringList& arguments);
int runMonitor(const QStringList& arguments);
int runNodes(const QStringList& arguments);
