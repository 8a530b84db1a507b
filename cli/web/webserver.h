// The server behind chronolume-cli web: one page and its files over HTTP, and at /ws a WebSocket
// to every open page that carries each sender's new states, gathered into one message per page
// and display frame at most (WebRules::ClientQueue). Pages only listen; nothing they send is
// acted on.
#pragma once

#include "web/webrules.h"

#include "artnet.h"

#include <QHash>
#include <QHttpServer>
#include <QObject>
#include <QTimer>

class QAbstractSocket;
class QTcpServer;
class QWebSocket;

class WebServer : public QObject, public ArtNetObserver
{
    Q_OBJECT

public:
    // How often silence is judged and pages that stay behind are looked for.
    static constexpr int kTickMs = 50;
    // The pages show the senders of the table, which the node keeps and outlives the server.
    WebServer(const SenderTable& senders, int maxClients, QObject* parent = nullptr);
    ~WebServer() override;

    // Listens on the address and port (0: any free one); false with the reason in *error.
    bool listen(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const;

    void timecodeReceived(const SenderEntry& sender) override;
    void senderNamed(const SenderEntry& sender) override;

    // Judges every sender's silence and drops the pages that stayed behind; the command calls it
    // every kTickMs with the node's clock.
    void tick(qint64 nowNs);

    int clientCount() const { return int(clients.size()); }
    qint64 served() const { return servedClients; }
    qint64 dropped() const { return droppedClients; }
    qint64 refused() const { return refusedClients; }

private:
    // What the pages were last told of a sender's state besides its frames.
    struct Told
    {
        bool silent = false;
        bool conflict = false;
    };

    // A page: its queue, and the TCP connection under its WebSocket, found once.
    struct Client
    {
        WebRules::ClientQueue queue;
        QAbstractSocket* tcp = nullptr;
        int descriptor = -1;
    };

    WebRules::SenderView view(int order, qint64 nowNs) const;
    void acceptWebSockets();
    void broadcast(int order, qint64 nowNs);
    // Every page's states that may leave now.
    void sendGathered();
    // The next sendGathered() no later than dueAtNs (-1: none needed).
    void schedule(qint64 dueAtNs);
    // The TCP connection under a page's WebSocket; none when it cannot be found.
    QAbstractSocket* underneath(QWebSocket* socket) const;
    // What may leave for a page now, written.
    void sendDue(QWebSocket* socket, Client& client, qint64 nowNs);
    void drop(QWebSocket* socket);
    void refuse(QWebSocket* socket, int code, const QString& reason);

    const int maxClients;
    QHttpServer http;
    QTcpServer* tcp = nullptr; // a child of this
    const SenderTable& senders;
    QList<Told> told; // by the table's order
    QHash<QWebSocket*, Client> clients;
    QTimer gathered;
    qint64 gatheredAtNs = -1; // when gathered fires, while it is active
    // The message last written and its frame: pages that keep up are sent the same states at
    // the same moment, so one frame serves them all.
    QList<QByteArray> lastStates;
    QByteArray lastFrame;
    qint64 nextPingNs = 0;
    qint64 servedClients = 0;
    qint64 droppedClients = 0;
    qint64 refusedClients = 0;
};
