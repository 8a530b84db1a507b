// The exit statuses of every command, as the manual page names them.
#pragma once

namespace ExitStatus {
inline constexpr int kOk = 0;
// The work failed: send could not send, monitor heard an unhealthy sender, a socket was refused.
inline constexpr int kFailure = 1;
// Input the command cannot use; nothing was done.
inline constexpr int kUsage = 2;
// monitor, nodes and ltc-encode --follow: nothing was heard at all.
inline constexpr int kNoneHeard = 3;
} // namespace ExitStatus
