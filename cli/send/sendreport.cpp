#include "send/sendreport.h"
#include "common/console.h"
#include "common/optionvalues.h"

#include "timecode.h"

QString statusText(const TimecodeRecord& record, qint64 sent, quint8 type, qint64 failed,
                   const QString& firstFailure, int width)
{
    QString text = Timecode::text(record) + QStringLiteral("  ") +
                   CliText::tr("%1 fps").arg(OptionValues::rateText(type)) + QStringLiteral("  ");
    // Counted as sent while every frame fails, the line would say all is well until the end.
    if (failed > 0)
        text += CliText::tr("%1 of %2 frames failed; the first failure: %3")
                    .arg(failed)
                    .arg(sent)
                    .arg(firstFailure);
    else
        text += CliText::tr("%1 frames sent").arg(sent);
    if (width > 0)
        text.truncate(width - 1);
    return text;
}

QString summaryText(const PacingResult& result, qint64 failed, quint8 type)
{
    const QString sent = result.sent == 1 ? CliText::tr("sent %1 frame in %2 s at %3 fps")
                                          : CliText::tr("sent %1 frames in %2 s at %3 fps");
    QString text = sent.arg(result.sent)
                       .arg(double(result.elapsedNs) / 1e9, 0, 'f', 3)
                       .arg(OptionValues::rateText(type));
    if (result.skipped > 0)
        text += CliText::tr(", %1 skipped").arg(result.skipped);
    if (failed > 0)
        text += CliText::tr(", %1 failed").arg(failed);
    return text + QLatin1Char('\n');
}
