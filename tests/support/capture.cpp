#include "capture.h"

#include "diagnostics.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace TestSupport {

namespace {

QStringList* activeDebug = nullptr;
QtMessageHandler previousHandler = nullptr;

void collect(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtDebugMsg && activeDebug)
        activeDebug->append(message);
    else if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

OutputCapture::OutputCapture()
{
    // Lines queued before the capture are not the code under test's.
    ArtNetOutput::flush();
    std::fflush(stdout);
    char path[] = "/tmp/chronolume-stdout-XXXXXX";
    file = mkstemp(path);
    if (file < 0)
        qFatal("cannot create a capture file");
    unlink(path);
    savedStdout = dup(STDOUT_FILENO);
    dup2(file, STDOUT_FILENO);
    activeDebug = &debug;
    previousHandler = qInstallMessageHandler(collect);
}

OutputCapture::~OutputCapture()
{
    finish();
}

QByteArray OutputCapture::finish()
{
    if (finished)
        return output;
    finished = true;
    // The node's lines reach the output from a thread of their own.
    ArtNetOutput::flush();
    std::fflush(stdout);
    qInstallMessageHandler(previousHandler);
    activeDebug = nullptr;
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);

    lseek(file, 0, SEEK_SET);
    char buffer[4096];
    ssize_t n;
    while ((n = read(file, buffer, sizeof buffer)) > 0)
        output.append(buffer, int(n));
    close(file);
    return output;
}

QStringList OutputCapture::lines()
{
    QStringList result = QString::fromLocal8Bit(finish()).split(QLatin1Char('\n'));
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

} // namespace TestSupport
