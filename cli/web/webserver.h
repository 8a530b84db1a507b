// The server behind chronolume-cli web: one page and its files over HTTP, and at /ws a WebSocket
// to every open page that carries each sender's newest state as it arrives. Pages only listen;
// nothing they send is acted on.
#pragma once

#include "web/webrules.h"

#include "artnet.h"

#include <QHash>
#include <QHttpServer>
#include <QObject>

class QTcpServer;
class QWebSocket;

class WebServer : public QObject, public ArtNetObserver
{
    Q_OBJECT

public:
    // How often silence is judged and pages that stay behind are looked for.
    static constexpr int kTickMs = 50;
    // As many senders as the node keeps.
    static constexpr int kMaxSenders = 256;

    explicit WebServer(int maxClients, QObject* parent = nullptr);
    ~WebServer() override;

    // Listens on the address and port (0: any free one); false with the reason in *error.
    bool listen(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const;

    void timecodeReceived(const TimecodeRecord& record, const QHostAddress& sender, quint8 stream,
                          qint64 arrivalNs) override;
    void pollReplyReceived(const QByteArray& datagram, const QHostAddress& sender) override;

    // Judges every sender's silence and drops the pages that stayed behind; the command calls it
    // every kTickMs with the node's clock.
    void tick(qint64 nowNs);

    int clientCount() const { return int(clients.size()); }
    qint64 served() const { return servedClients; }
    qint64 dropped() const { return droppedClients; }
    qint64 refused() const { return refusedClients; }

private:
    struct Sender
    {
        WebRules::SenderView view;
        qint64 lastArrivalNs = 0;
        QString message;
    };

    void acceptWebSockets();
    void broadcast(int order, qint64 nowNs);
    void write(QWebSocket* socket, const QList<QByteArray>& messages);
    void drop(QWebSocket* socket);
    void refuse(QWebSocket* socket, int code, const QString& reason);

    const int maxClients;
    QHttpServer http;
    QTcpServer* tcp = nullptr; // a child of this
    QList<Sender> senders;     // in first-heard order
    QHash<quint64, int> senderIndex;
    QHash<quint32, QString> names; // by IPv4 address, from ArtPollReply
    QHash<QWebSocket*, WebRules::ClientQueue> clients;
    qint64 nextPingNs = 0;
    qint64 servedClients = 0;
    qint64 droppedClients = 0;
    qint64 refusedClients = 0;
};
