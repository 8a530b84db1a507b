#include "windowoutput.h"

#include "diagnostics.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace WindowOutput {

namespace {

std::atomic<bool> openingDisplay{false};

void handOver(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString text = qFormatLogMessage(type, context, message) + QLatin1Char('\n');
    if (type == QtFatalMsg) {
        ArtNetOutput::flush(100);
        // Qt's own last words here advise reinstalling the program; the warnings before them
        // (which display could not be reached) are already written.
        if (openingDisplay.load()) {
            std::fprintf(stderr, "%s\n", kNoDisplay);
            std::fflush(stderr);
            std::_Exit(1);
        }
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

void setOpeningDisplay(bool opening)
{
    openingDisplay.store(opening);
}

} // namespace WindowOutput
