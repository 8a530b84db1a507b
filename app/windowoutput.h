// The window's own messages (the font line among them) written as the node's lines are: from
// the output thread, dropped and counted when the output is held up, never waited for.
#pragma once

namespace WindowOutput {

// What the program says when it finds no display to open, before it ends with status 1.
inline constexpr const char* kNoDisplay =
    "chronolume: no display (set DISPLAY or run under xvfb-run)";

// Sends Qt's messages through the node's output thread to standard error; fatal messages are
// written at once, since the program ends with them.
void routeMessages();

// While the application object opens the display, a fatal message is Qt giving up on it: the
// program then says kNoDisplay, after the reasons Qt gave, and ends with status 1 instead of
// Qt's abort.
void setOpeningDisplay(bool opening);

} // namespace WindowOutput
