#include "mtc/midiport.h"
#include "mtc/mtctext.h"

#include <RtMidi.h>
#include <jack/jack.h>

#include <unistd.h>

namespace Midi {

namespace {

constexpr char kAlsaSequencer[] = "/dev/snd/seq";
// Messages RtMidi holds for a reader that polls: this one is called back instead.
constexpr unsigned int kInputQueue = 100;

RtMidi::Api rtMidiApi(Api api)
{
    return api == Api::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
}

void quiet(const char*) {}

// Whether a JACK server answers, asked without starting one. libjack writes its own lines on
// standard error when none does, and so would RtMidi: they are kept quiet, and the command says
// what is wrong in its own line.
bool jackServerRunning()
{
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    jack_status_t status{};
    jack_client_t* client = jack_client_open("chronolume-probe", JackNoStartServer, &status);
    if (!client)
        return false;
    jack_client_close(client);
    return true;
}

// Keeps the first error the MIDI system reports; RtMidi calls it instead of throwing once it
// is set.
void keepError(RtMidiError::Type type, const std::string& text, void* data)
{
    auto* errors = static_cast<Errors*>(data);
    const std::lock_guard<std::mutex> lock(errors->mutex);
    if (errors->first.isEmpty())
        errors->first = QString::fromStdString(text).trimmed();
    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
        errors->refused = true;
}

void setError(Errors& errors, const QString& text)
{
    const std::lock_guard<std::mutex> lock(errors.mutex);
    errors.first = text;
}

QString firstError(Errors& errors)
{
    const std::lock_guard<std::mutex> lock(errors.mutex);
    return errors.first;
}

template <typename Midi> QStringList portNames(Midi& midi)
{
    QStringList names;
    const unsigned int count = midi.getPortCount();
    for (unsigned int i = 0; i < count; ++i)
        names.append(QString::fromStdString(midi.getPortName(i)));
    return names;
}

// Opens the port of `midi`, virtual or connected to the one `connect` names.
template <typename Midi>
Opened openPort(Midi& midi, Errors& errors, const QString& name, const QString& connect,
                QString* connected)
{
    {
        const std::lock_guard<std::mutex> lock(errors.mutex);
        errors.refused = false;
    }
    midi.setErrorCallback(keepError, &errors);
    try {
        if (connect.isEmpty()) {
            midi.openVirtualPort(name.toStdString());
        } else {
            int index = -1;
            const QString complaint = choosePort(portNames(midi), connect, &index);
            if (!complaint.isNull()) {
                setError(errors, complaint);
                return Opened::NoSuchPort;
            }
            *connected = QString::fromStdString(midi.getPortName(unsigned(index)));
            midi.openPort(unsigned(index), name.toStdString());
        }
    } catch (const RtMidiError& error) {
        setError(errors, QString::fromStdString(error.getMessage()).trimmed());
        return Opened::Failed;
    }
    const std::lock_guard<std::mutex> lock(errors.mutex);
    return errors.refused ? Opened::Failed : Opened::Yes;
}

} // namespace

QString apiName(Api api)
{
    return api == Api::Alsa ? QStringLiteral("alsa") : QStringLiteral("jack");
}

bool readApi(const QString& text, Api* api)
{
    for (const Api candidate : {Api::Alsa, Api::Jack}) {
        if (text == apiName(candidate)) {
            *api = candidate;
            return true;
        }
    }
    return false;
}

bool alsaSequencerPresent()
{
    return access(kAlsaSequencer, R_OK | W_OK) == 0;
}

Api defaultApi(bool alsaSequencer)
{
    return alsaSequencer ? Api::Alsa : Api::Jack;
}

QString unavailable(Api api)
{
    if (api == Api::Alsa) {
        if (alsaSequencerPresent())
            return {};
        return MtcText::tr("there is no ALSA sequencer here (%1 is missing): load it with "
                           "\"modprobe snd-seq\", or use --midi-api jack")
            .arg(QLatin1String(kAlsaSequencer));
    }
    if (jackServerRunning())
        return {};
    const QString server = qEnvironmentVariable("JACK_DEFAULT_SERVER");
    if (!server.isEmpty())
        return MtcText::tr("the JACK server \"%1\" (JACK_DEFAULT_SERVER) is not running")
            .arg(server);
    return MtcText::tr("no JACK server is running: start one (jackd, or Carla, QjackCtl), or run "
                       "the command under PipeWire's JACK with pw-jack");
}

QString choosePort(const QStringList& names, const QString& text, int* index)
{
    const int exact = int(names.indexOf(text));
    if (exact >= 0) {
        *index = exact;
        return {};
    }
    QList<int> holding;
    for (int i = 0; i < names.size(); ++i) {
        if (names.at(i).contains(text, Qt::CaseInsensitive))
            holding.append(i);
    }
    if (holding.size() == 1) {
        *index = holding.first();
        return {};
    }
    if (holding.isEmpty())
        return names.isEmpty()
                   ? MtcText::tr("--connect \"%1\": there is no MIDI port to connect to").arg(text)
                   : MtcText::tr("--connect \"%1\" names none of the MIDI ports: %2")
                         .arg(text, names.join(QStringLiteral(", ")));
    QStringList several;
    for (const int i : holding)
        several.append(names.at(i));
    return MtcText::tr("--connect \"%1\" fits %2 MIDI ports: %3; give more of the name")
        .arg(text)
        .arg(several.size())
        .arg(several.join(QStringLiteral(", ")));
}

Input::Input() = default;

Input::~Input()
{
    // Closed first: the MIDI system's thread calls back into the members until then.
    if (midi)
        midi->cancelCallback();
    midi.reset();
}

bool Input::open(Api api, const QString& client)
{
    const QString why = unavailable(api);
    if (!why.isNull()) {
        setError(errors, why);
        return false;
    }
    try {
        midi = std::make_unique<RtMidiIn>(rtMidiApi(api), client.toStdString(), kInputQueue);
    } catch (const RtMidiError& failure) {
        setError(errors, QString::fromStdString(failure.getMessage()).trimmed());
        return false;
    }
    return true;
}

QStringList Input::ports()
{
    return midi ? portNames(*midi) : QStringList();
}

Opened Input::start(const QString& name, const QString& connect, Receive receiveMessage)
{
    receive = std::move(receiveMessage);
    receiving.store(true, std::memory_order_release);
    // SysEx carries the full frames, and the quarter frames count as MIDI's timing messages.
    midi->ignoreTypes(false, false, true);
    midi->setCallback(received, this);
    return openPort(*midi, errors, name, connect, &connected);
}

void Input::received(double, std::vector<unsigned char>* message, void* input)
{
    auto* self = static_cast<Input*>(input);
    if (message && !message->empty() && self->receiving.load(std::memory_order_acquire))
        self->receive(message->data(), message->size());
}

QString Input::errorText() const
{
    return firstError(errors);
}

Output::Output() = default;
Output::~Output()
{
    midi.reset();
}

bool Output::open(Api api, const QString& client)
{
    const QString why = unavailable(api);
    if (!why.isNull()) {
        setError(errors, why);
        return false;
    }
    try {
        midi = std::make_unique<RtMidiOut>(rtMidiApi(api), client.toStdString());
    } catch (const RtMidiError& failure) {
        setError(errors, QString::fromStdString(failure.getMessage()).trimmed());
        return false;
    }
    return true;
}

QStringList Output::ports()
{
    return midi ? portNames(*midi) : QStringList();
}

Opened Output::start(const QString& name, const QString& connect)
{
    return openPort(*midi, errors, name, connect, &connected);
}

void Output::send(const unsigned char* bytes, size_t size)
{
    message.assign(bytes, bytes + size);
    midi->sendMessage(&message);
}

QString Output::errorText() const
{
    return firstError(errors);
}

} // namespace Midi
