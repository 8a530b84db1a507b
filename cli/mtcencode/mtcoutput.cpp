#include "mtcencode/mtcoutput.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "mtcencode/mtcencodeoptions.h"

namespace MtcOutput {

int open(Midi::Output& output, const MtcEncodeOptions& options)
{
    if (!output.open(MidiOptions::api(options.midi), QLatin1String(MidiOptions::kClient))) {
        Console::error(QStringLiteral("mtc-encode: ") + output.errorText());
        return ExitStatus::kFailure;
    }
    const Midi::Opened opened = output.start(options.midi.port, options.midi.connect);
    if (opened == Midi::Opened::Yes)
        return ExitStatus::kOk;
    Console::error(QStringLiteral("mtc-encode: ") + output.errorText());
    return opened == Midi::Opened::NoSuchPort ? ExitStatus::kUsage : ExitStatus::kFailure;
}

QString destination(const Midi::Output& output, const MtcEncodeOptions& options)
{
    if (!output.connectedPort().isEmpty())
        return QStringLiteral("\"%1\"").arg(output.connectedPort());
    return CliText::tr("the port \"%1\"").arg(options.midi.port);
}

Mtc::MessageWriter::Send sendingTo(Midi::Output& output)
{
    return [&output](const quint8* bytes, int size) { output.send(bytes, size_t(size)); };
}

} // namespace MtcOutput
