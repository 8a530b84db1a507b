// Where the commands' output goes: standard output for results, one line on standard error for
// each complaint, and a status line or table that is redrawn in place only on a terminal.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
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

// Lines drawn over the ones drawn before, so that a terminal shows a table standing still.
class TableOnTerminal
{
public:
    // The text that draws the lines over the last ones drawn; the cursor ends below them.
    QString text(const QStringList& lines);

private:
    int drawn = 0;
};

// Standard output written from a thread of its own, so that a command's own work (pacing
// frames, receiving datagrams) never waits for a terminal that is paused (Ctrl-S) or a pipe
// that is full: only this thread waits. Handing text over takes a short lock, never a write.
// Standard error instead, for a command whose standard output carries its work (audio).
class OutputThread
{
public:
    explicit OutputThread(FILE* stream = stdout);
    // Writes everything handed over, then ends the thread.
    ~OutputThread();
    OutputThread(const OutputThread&) = delete;
    OutputThread& operator=(const OutputThread&) = delete;

    // A status line, redrawn in place with the cursor left at its end. While the output is held
    // up, a newer one replaces the one not yet written: the newest is written once it moves.
    void redrawLine(const QString& text);
    // A table drawn over the last one (TableOnTerminal), replaced in the same way.
    void redrawTable(const QStringList& lines);
    // Text written in full and in order.
    void append(const QString& text);
    // Returns once everything handed over so far is written.
    void flush();

private:
    enum class Kind { Line, Table, Text };
    struct Item
    {
        Kind kind;
        QStringList lines; // the line or table drawn, or the text
    };
    void handOver(Kind kind, const QStringList& lines);
    void run();

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Item> queue;
    bool writing = false;
    bool ending = false;
    TableOnTerminal table; // the writing thread's own
    FILE* const stream;
    std::thread thread;
};

} // namespace Console
