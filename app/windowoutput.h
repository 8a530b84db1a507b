// The window's own messages (the font line among them) written as the node's lines are: from
// the output thread, dropped and counted when the output is held up, never waited for.
#pragma once

namespace WindowOutput {

// Sends Qt's messages through the node's output thread to standard error; fatal messages are
// written at once, since the program ends with them.
void routeMessages();

} // namespace WindowOutput
