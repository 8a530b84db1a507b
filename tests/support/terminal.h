// A pseudo-terminal for a program's standard output, paused as Ctrl-S pauses a terminal.
#pragma once

#include <QByteArray>
#include <QString>

namespace TestSupport {

// The test holds both ends: the program writes to the one named by name(), and what it wrote
// is read from the other. pause() writes XOFF, which a terminal with IXON set (the default)
// takes as Ctrl-S: every write to it then waits until resume() writes XON.
class PausableTerminal
{
public:
    PausableTerminal();
    ~PausableTerminal();
    PausableTerminal(const PausableTerminal&) = delete;
    PausableTerminal& operator=(const PausableTerminal&) = delete;

    bool isOpen() const { return master >= 0; }
    QString name() const { return path; }
    // The size the program reads with TIOCGWINSZ.
    bool setSize(int columns, int rows);
    bool pause();
    bool resume();
    // Everything written so far that was not read yet; never waits.
    QByteArray read();

private:
    int master = -1;
    int slave = -1;
    QString path;
};

} // namespace TestSupport
