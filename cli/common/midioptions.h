// The MIDI options of the MTC commands: which MIDI system, the name of the command's own port,
// the port to connect it to, and the list of ports there are.
#pragma once

#include "mtc/midiport.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>

#include <optional>

class QCommandLineParser;

namespace MidiOptions {

// The name of the command's own port unless --port gives one.
inline constexpr char kDefaultPort[] = "Chronolume MTC";
// The client the ports belong to, as JACK and ALSA list it.
inline constexpr char kClient[] = "Chronolume";

struct Values
{
    std::optional<Midi::Api> api; // --midi-api; otherwise ALSA where there is a sequencer
    QString port = QLatin1String(kDefaultPort);
    QString connect; // empty: nothing connected, others connect to the port
    bool listPorts = false;
};

// --midi-api, --port, --connect and --list-ports, worded for a command that reads MTC
// (`input`) or writes it.
QList<QCommandLineOption> options(bool input);

// The values of those options (as options() gave them); a null string, or the complaint.
QString read(const QCommandLineParser& parser, const QList<QCommandLineOption>& options,
             Values* values);

// The API the values ask for, or the default one here.
Midi::Api api(const Values& values);

} // namespace MidiOptions
