#include "windowoutput.h"

#include "diagnostics.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>

namespace WindowOutput {

namespace {

void handOver(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString text = qFormatLogMessage(type, context, message) + QLatin1Char('\n');
    if (type == QtFatalMsg) {
        ArtNetOutput::flush(100);
        std::fputs(qPrintable(text), stderr);
        std::fflush(stderr);
        return;
    }
    ArtNetOutput::errorText(text);
}

} // namespace

void routeMessages()
{
    qInstallMessageHandler(handOver);
}

} // namespace WindowOutput
