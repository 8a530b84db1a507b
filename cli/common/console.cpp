#include "common/console.h"

#include <QByteArray>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace Console {

namespace {

std::atomic<bool> stopRequested{false};

void requestStop(int)
{
    stopRequested.store(true);
}

void write(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void writeOut(const QString& text)
{
    write(stdout, text);
}

void error(const QString& message)
{
    write(stderr, QStringLiteral("chronolume-cli: ") + message + QLatin1Char('\n'));
}

bool stdoutIsTerminal()
{
    return isatty(fileno(stdout)) == 1;
}

void redrawStatus(const QString& text)
{
    // Carriage return, the text, then "erase to end of line" for what a longer text left.
    write(stdout, QLatin1Char('\r') + text + QStringLiteral("\x1b[K"));
}

const std::atomic<bool>& installStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a sleep the signal interrupts must return, so the stop is seen at once.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return stopRequested;
}

void TableOnTerminal::draw(const QStringList& lines)
{
    QString text;
    if (drawn > 0)
        text += QStringLiteral("\x1b[%1A").arg(drawn); // up to the first line drawn
    for (const QString& line : lines)
        text += QLatin1Char('\r') + line + QStringLiteral("\x1b[K\n");
    text += QStringLiteral("\x1b[J"); // anything a longer table left below
    writeOut(text);
    drawn = int(lines.size());
}

} // namespace Console
