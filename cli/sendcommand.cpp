// chronolume-cli send: ArtTimeCode at a steady frame rate.
#include "commands.h"
#include "console.h"

int runSend(const QStringList& arguments)
{
    Q_UNUSED(arguments);
    Console::error(QStringLiteral("send: not available in this build"));
    return ExitStatus::kFailure;
}
