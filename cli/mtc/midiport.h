// The MIDI ports of the MTC commands, through RtMidi, which speaks the ALSA sequencer and JACK
// (PipeWire's JACK too): an input whose messages go to a callback, an output, the ports there
// are to connect to, and which of them a name given by the user means. Kept thin: what the
// messages mean is the rest of this library's business.
#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class RtMidiIn;
class RtMidiOut;

namespace Midi {

enum class Api { Alsa, Jack };

// "alsa" or "jack", as --midi-api takes them.
QString apiName(Api api);
bool readApi(const QString& text, Api* api);

// The ALSA sequencer's device is there (snd-seq is loaded, or PipeWire provides it).
bool alsaSequencerPresent();
// What a command uses unless told: ALSA where it has a sequencer, JACK otherwise.
Api defaultApi(bool alsaSequencer);

// Why the API cannot be used here now (no sequencer device, no JACK server running); a null
// string when it can.
QString unavailable(Api api);

// The port that `text` names among `names`: the one whose name it is, else the only one whose
// name holds it, case aside ("MTC" for "Ardour:MTC out"). A null string with *index set, or the
// complaint: no port, or several (named).
QString choosePort(const QStringList& names, const QString& text, int* index);

// The first error the MIDI system reported to a port, from whichever thread met it.
struct Errors
{
    std::mutex mutex;
    QString first;
    bool refused = false; // an error rather than a warning since it was last cleared
};

enum class Opened {
    Yes,
    NoSuchPort, // the port to connect to is not there, or the name fits several
    Failed,     // the MIDI system refused
};

class Input
{
public:
    // Each whole message, on the thread the MIDI system calls back on.
    using Receive = std::function<void(const unsigned char* bytes, size_t size)>;

    Input();
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // Joins the MIDI system as `client`; false with errorText().
    bool open(Api api, const QString& client);
    // The ports it can connect to: other programs' outputs.
    QStringList ports();
    // Makes its own port `name`, connected to the port `connect` names unless that is empty,
    // and starts receiving.
    Opened start(const QString& name, const QString& connect, Receive receive);
    // The first thing that went wrong, as the MIDI system said it.
    QString errorText() const;
    // The full name of the port it was connected to; empty when none was asked for.
    QString connectedPort() const { return connected; }

private:
    static void received(double, std::vector<unsigned char>* message, void* input);

    std::unique_ptr<RtMidiIn> midi;
    Receive receive;
    // Raised once `receive` is set: JACK calls back from the moment the client is open, and
    // RtMidi hands its callback over without a barrier.
    std::atomic<bool> receiving{false};
    QString connected;
    mutable Errors errors;
};

class Output
{
public:
    Output();
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    bool open(Api api, const QString& client);
    // The ports it can connect to: other programs' inputs.
    QStringList ports();
    Opened start(const QString& name, const QString& connect);
    // Any one thread at a time.
    void send(const unsigned char* bytes, size_t size);
    QString errorText() const;
    QString connectedPort() const { return connected; }

private:
    std::unique_ptr<RtMidiOut> midi;
    std::vector<unsigned char> message; // the sending thread's own
    QString connected;
    mutable Errors errors;
};

} // namespace Midi
