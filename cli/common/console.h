// Where the commands' output goes: standard output for results, one line on standard error for
// each complaint, and a status line or table that is redrawn in place only on a terminal.
#pragma once

#include "linewriter.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

// The context the commands' user-visible texts are translated in.
class CliText
{
    Q_DECLARE_TR_FUNCTIONS(CliText)
};

namespace Console {

// Writes the text to standard output as it is, all of it, however many writes that takes. A
// write the system refuses (a closed pipe, a full disk) is reported once on standard error.
void writeOut(const QString& text);

// "chronolume-cli: <message>" on standard error, all of it.
void error(const QString& message);

// Standard output is a terminal, so a status line can be redrawn in place.
bool stdoutIsTerminal();

// The first SIGINT or SIGTERM only raises this flag; a blocking wait it interrupts returns
// early, so the command can finish what it started and write its summary. A second one ends
// the program at once, with status 128 + the signal's number (130, 143), after a short line on
// standard error if it takes one without waiting.
const std::atomic<bool>& installStopSignals();

// The width of the terminal on standard output in columns (TIOCGWINSZ); 0 when it is none or
// does not say.
int terminalWidth();

// Raised at every SIGWINCH, when the terminal changed its size; resizeSeen() lowers it before
// the width is read again.
const std::atomic<bool>& installResizeSignal();
void resizeSeen();

// Runs the function on a new thread that starts with SIGINT and SIGTERM blocked, so that a
// stop signal always goes to a thread that waits for it (blocked in the creating thread while
// the new one starts, which inherits the mask, then restored).
std::thread threadWithoutStopSignals(std::function<void()> work);

// What a command's output may hold while nobody reads it: ten seconds of monitor's JSON lines
// for a hundred senders, three times over.
inline constexpr qint64 kOutputLimitBytes = 1024 * 1024;

// Standard output written from a thread of its own (the node library's LineWriter), so that a
// command's own work (pacing frames, receiving datagrams) never waits for a terminal that is
// paused (Ctrl-S) or a pipe that is full: only that thread waits, and what does not fit in
// kOutputLimitBytes is dropped, counted and told on standard error once the output moves.
// Standard error instead, for a command whose standard output carries its work (audio).
class OutputThread : public LineWriter
{
public:
    explicit OutputThread(FILE* stream = stdout);
};

} // namespace Console
