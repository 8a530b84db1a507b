// A command-line program run to its end, as the tests of chronolume-cli's commands read it.
#pragma once

#include <QString>

class QProcess;

namespace TestSupport {

struct Finished
{
    int exitCode = -1; // -1 when the program crashed or did not end in time
    QString out;
    QString err;
};

// Waits for a started process to end; one still running after timeoutMs is killed, and its
// err says so.
Finished finish(QProcess& process, int timeoutMs);

} // namespace TestSupport
