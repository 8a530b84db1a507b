// Captures what the code under test writes to standard output and to Qt's debug channel.
#pragma once

#include <QByteArray>
#include <QStringList>

namespace TestSupport {

// Standard output is redirected into a file for the capture's lifetime, so writes through
// stdio and through the file descriptor are both seen, in order. Debug messages are collected
// apart. Call finish() before asserting: until then QtTest's own output would be captured too.
class OutputCapture
{
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    // Ends the capture (once) and returns everything written to standard output.
    QByteArray finish();
    // The standard output lines, split at line breaks, without the last empty piece.
    QStringList lines();
    // The debug messages received while capturing.
    QStringList debugMessages() const { return debug; }

private:
    int savedStdout = -1;
    int file = -1;
    bool finished = false;
    QByteArray output;
    QStringList debug;
};

} // namespace TestSupport
