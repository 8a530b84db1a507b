// Where the commands' output goes: standard output for results, one line on standard error for
// each complaint, and a status line that is redrawn in place only on a terminal.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <atomic>

// The context the commands' user-visible texts are translated in.
class CliText
{
    Q_DECLARE_TR_FUNCTIONS(CliText)
};

namespace Console {

// Writes the text to standard output as it is and flushes.
void writeOut(const QString& text);

// "chronolume-cli: <message>" on standard error.
void error(const QString& message);

// Standard output is a terminal, so a status line can be redrawn in place.
bool stdoutIsTerminal();

// Redraws the status line: back to the line's start, the text, the rest of the line cleared.
void redrawStatus(const QString& text);

// SIGINT and SIGTERM only raise this flag from then on; a blocking wait they interrupt returns
// early, so the command can finish what it started and write its summary.
const std::atomic<bool>& installStopSignals();

// Lines drawn over the ones drawn before, so that a terminal shows a table standing still.
class TableOnTerminal
{
public:
    void draw(const QStringList& lines);

private:
    int drawn = 0;
};

} // namespace Console
