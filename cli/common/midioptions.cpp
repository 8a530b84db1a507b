#include "common/midioptions.h"
#include "common/commandline.h"
#include "common/console.h"

#include <QCommandLineParser>

namespace MidiOptions {

QList<QCommandLineOption> options(bool input)
{
    return {
        QCommandLineOption(QStringLiteral("midi-api"),
                           CliText::tr("The MIDI system: alsa (the ALSA sequencer, the default "
                                       "where there is one) or jack (JACK, or PipeWire's JACK)."),
                           QStringLiteral("API")),
        QCommandLineOption(QStringLiteral("port"),
                           CliText::tr("The name of the command's own MIDI port (default "
                                       "\"%1\").")
                               .arg(QLatin1String(kDefaultPort)),
                           QStringLiteral("NAME")),
        QCommandLineOption(
            QStringLiteral("connect"),
            input ? CliText::tr("Connect the port to this MIDI output (the sender's MTC out), "
                                "by its name or a part of it, as --list-ports shows them. "
                                "Without it the port waits for a connection made elsewhere "
                                "(the DAW, aconnect, jack_connect, a patchbay).")
                  : CliText::tr("Connect the port to this MIDI input (the receiver's MTC in), "
                                "by its name or a part of it, as --list-ports shows them. "
                                "Without it the port waits for a connection made elsewhere "
                                "(the DAW, aconnect, jack_connect, a patchbay)."),
            QStringLiteral("PORT")),
        QCommandLineOption(QStringLiteral("list-ports"),
                           input ? CliText::tr("List the MIDI outputs there are to read from, "
                                               "one a line, and exit.")
                                 : CliText::tr("List the MIDI inputs there are to write to, one "
                                               "a line, and exit.")),
    };
}

QString read(const QCommandLineParser& parser, const QList<QCommandLineOption>& options,
             Values* values)
{
    const QCommandLineOption& api = options.at(0);
    const QCommandLineOption& port = options.at(1);
    const QCommandLineOption& connect = options.at(2);
    const QCommandLineOption& listPorts = options.at(3);
    Values read;
    if (parser.isSet(api)) {
        Midi::Api chosen = Midi::Api::Alsa;
        if (!Midi::readApi(CommandLine::lastValue(parser, api), &chosen))
            return CliText::tr("--midi-api \"%1\" is not alsa or jack")
                .arg(CommandLine::lastValue(parser, api));
        read.api = chosen;
    }
    if (parser.isSet(port)) {
        read.port = CommandLine::lastValue(parser, port);
        // JACK names a port "client:port"; a colon of its own would make another name.
        if (read.port.trimmed().isEmpty() || read.port.contains(QLatin1Char(':')))
            return CliText::tr("--port \"%1\" is not a port name: give some text, without a "
                               "colon")
                .arg(read.port);
    }
    if (parser.isSet(connect)) {
        read.connect = CommandLine::lastValue(parser, connect);
        if (read.connect.isEmpty())
            return CliText::tr("--connect needs the name of a port (see --list-ports)");
    }
    read.listPorts = parser.isSet(listPorts);
    *values = read;
    return {};
}

Midi::Api api(const Values& values)
{
    return values.api ? *values.api : Midi::defaultApi(Midi::alsaSequencerPresent());
}

} // namespace MidiOptions
