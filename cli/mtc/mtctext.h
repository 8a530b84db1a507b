// The context the MTC library's user-visible texts are translated in: the one of the commands
// that say them, since the library sits below chronolume-cli's own code and may not include it.
#pragma once

#include <QCoreApplication>

class MtcText
{
    Q_DECLARE_TR_FUNCTIONS(CliText)
};
