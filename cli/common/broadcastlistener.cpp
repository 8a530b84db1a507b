#include "common/broadcastlistener.h"

#include "packets.h"

BroadcastListener::BroadcastListener(const QList<QHostAddress>& broadcastAddresses)
    : own(makeArtNetSocket(QHostAddress(QHostAddress::AnyIPv4), 0))
{
    for (const QHostAddress& address : broadcastAddresses) {
        if (std::unique_ptr<ArtNetTransport> socket = makeArtNetSocket(address))
            broadcasts.push_back(std::move(socket));
    }
}

BroadcastListener::~BroadcastListener()
{
    close();
}

bool BroadcastListener::open(bool, std::function<void()> ready)
{
    if (!opened.empty())
        return true;
    if (!own || !own->open(false, ready))
        return false;
    opened.push_back(own.get());
    bound = 0;
    for (const std::unique_ptr<ArtNetTransport>& socket : broadcasts) {
        // Shared always: the port is another program's, bound to every address.
        if (socket->open(true, ready)) {
            opened.push_back(socket.get());
            ++bound;
        }
    }
    if (bound == 0 && !broadcasts.empty()) {
        close();
        return false;
    }
    return true;
}

void BroadcastListener::close()
{
    if (opened.empty())
        return;
    ++closes;
    for (ArtNetTransport* socket : opened)
        socket->close();
    opened.clear();
    bound = 0;
}

void BroadcastListener::drain(const Receive& receive)
{
    const quint64 generation = closes;
    bool goOn = true;
    const Receive handOn = [&](const char* data, int size, const QHostAddress& sender,
                               qint64 arrivalNs) {
        goOn = receive(data, size, sender, arrivalNs) && generation == closes;
        return goOn;
    };
    // By index: a receive may close this transport, which empties the list.
    for (size_t i = 0; goOn && generation == closes && i < opened.size(); ++i)
        opened[i]->drain(handOn);
}

qint64 BroadcastListener::send(const char* data, int size, const QHostAddress& to, quint16 port)
{
    return opened.empty() ? -1 : own->send(data, size, to, port);
}

quint64 BroadcastListener::kernelDrops() const
{
    quint64 drops = own ? own->kernelDrops() : 0;
    for (const std::unique_ptr<ArtNetTransport>& socket : broadcasts)
        drops += socket->kernelDrops();
    return drops;
}
