#include "web/webserver.h"

#include "timecode.h"

#include <QFile>
#include <QHttpServerResponse>
#include <QHttpServerRouterRule>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <functional>

namespace {

// The kernel's send buffer for each connection, kept small so that a page that stops reading
// shows up in the socket's bytesToWrite within seconds rather than after megabytes.
constexpr int kSendBufferBytes = 16 * 1024;
// Pages send nothing the server needs; anything larger than this is closed at once.
constexpr quint64 kLargestIncomingBytes = 1024;
// "try again later"
constexpr int kCloseTryAgainLater = 1013;
// A refused or dropped socket that does not finish its closing handshake goes after this.
constexpr int kCloseGraceMs = 2000;

bool asksForWebSocket(const QHttpServerRequest& request)
{
    return request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
}

// The WebSocket's path, matched only by a WebSocket request while there is room for one more
// page: a request beyond the limit falls to the missing handler, which can still answer it in
// HTTP before any upgrade, and so does a plain request for the path.
class WebSocketRule : public QHttpServerRouterRule
{
public:
    WebSocketRule(const QString& path, std::function<bool()> hasRoom, RouterHandler handler)
        : QHttpServerRouterRule(path, QHttpServerRequest::Method::Get, std::move(handler)),
          hasRoom(std::move(hasRoom))
    {
    }

protected:
    bool matches(const QHttpServerRequest& request, QRegularExpressionMatch* match) const override
    {
        return asksForWebSocket(request) && hasRoom() &&
               QHttpServerRouterRule::matches(request, match);
    }

private:
    const std::function<bool()> hasRoom;
};

class SmallBufferServer : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr handle) override
    {
        const int size = kSendBufferBytes;
        ::setsockopt(int(handle), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        // Each message is one small write that should leave at once, not wait for the
        // acknowledgement of the one before.
        const int on = 1;
        ::setsockopt(int(handle), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        QTcpServer::incomingConnection(handle);
    }
};

QHttpServerResponse pageFile(const char* name, const char* mimeType)
{
    QFile file(QStringLiteral(":/web/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return QHttpServerResponse(QHttpServerResponder::StatusCode::NotFound);
    QHttpServerResponse response(QByteArray(mimeType), file.readAll());
    response.addHeader("Cache-Control", "no-cache");
    return response;
}

} // namespace

WebServer::WebServer(const SenderTable& senders, int maxClients, QObject* parent)
    : QObject(parent), maxClients(maxClients), senders(senders)
{
    using Method = QHttpServerRequest::Method;
    http.route(QStringLiteral("/"), Method::Get,
               [] { return pageFile("index.html", "text/html; charset=utf-8"); });
    http.route(QStringLiteral("/clock.js"), Method::Get,
               [] { return pageFile("clock.js", "text/javascript; charset=utf-8"); });
    http.route(QStringLiteral("/clock.css"), Method::Get,
               [] { return pageFile("clock.css", "text/css; charset=utf-8"); });
    // Upgraded by the library once a rule takes the request; the handler has nothing to add.
    http.route<WebSocketRule>(QStringLiteral("/ws"), std::function<bool()>([this] {
                                  return clients.size() < this->maxClients;
                              }),
                              [](QHttpServerResponder&&) {});
    http.setMissingHandler(
        [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
            if (request.url().path() == QLatin1String("/ws") && asksForWebSocket(request)) {
                ++refusedClients;
                responder.write("try again later\n", "text/plain",
                                QHttpServerResponder::StatusCode::ServiceUnavailable);
                return;
            }
            responder.write(QHttpServerResponder::StatusCode::NotFound);
        });
    connect(&http, &QAbstractHttpServer::newWebSocketConnection, this,
            &WebServer::acceptWebSockets);
    gathered.setSingleShot(true);
    gathered.setTimerType(Qt::PreciseTimer);
    connect(&gathered, &QTimer::timeout, this, &WebServer::sendGathered);
}

WebServer::~WebServer()
{
    for (QWebSocket* socket : clients.keys()) {
        socket->disconnect(this);
        socket->abort();
    }
}

bool WebServer::listen(const QHostAddress& address, quint16 port, QString* error)
{
    tcp = new SmallBufferServer(this);
    if (!tcp->listen(address, port)) {
        *error = tcp->errorString();
        delete tcp;
        tcp = nullptr;
        return false;
    }
    http.bind(tcp);
    return true;
}

quint16 WebServer::port() const
{
    return tcp ? tcp->serverPort() : 0;
}

WebRules::SenderView WebServer::view(int order, qint64 nowNs) const
{
    const SenderEntry& entry = senders.at(order);
    WebRules::SenderView shown;
    shown.order = order;
    shown.address = entry.address;
    shown.stream = entry.stream;
    shown.name = entry.name;
    shown.timecode = entry.timecode;
    shown.silent = entry.silentAt(nowNs);
    shown.conflict = entry.twoSourcesAt(nowNs);
    return shown;
}

void WebServer::timecodeReceived(const SenderEntry& sender)
{
    // Now rather than the arrival: the pages' display frames are counted from the moments their
    // messages were written.
    broadcast(sender.order, artNetNowNs());
}

void WebServer::senderNamed(const SenderEntry& sender)
{
    broadcast(sender.order, artNetNowNs());
}

void WebServer::tick(qint64 nowNs)
{
    // A sender falls silent, or a second source stops, with no datagram to say so.
    for (int order = 0; order < senders.size(); ++order) {
        const SenderEntry& entry = senders.at(order);
        if (order >= told.size() || entry.silentAt(nowNs) != told[order].silent ||
            entry.twoSourcesAt(nowNs) != told[order].conflict)
            broadcast(order, nowNs);
    }
    // Asked of every page now and then: a pong comes back only from a page that reads.
    if (nowNs >= nextPingNs) {
        nextPingNs = nowNs + WebRules::kPingEveryNs;
        for (QWebSocket* socket : clients.keys())
            socket->ping();
    }
    QList<QWebSocket*> behind;
    for (auto client = clients.cbegin(); client != clients.cend(); ++client)
        if (client->queue.stayedBehind(nowNs))
            behind.append(client.key());
    for (QWebSocket* socket : behind)
        drop(socket);
}

void WebServer::broadcast(int order, qint64 nowNs)
{
    const WebRules::SenderView shown = view(order, nowNs);
    if (order >= told.size())
        told.resize(order + 1);
    told[order] = Told{shown.silent, shown.conflict};
    const QByteArray state = WebRules::senderMessage(shown);
    qint64 dueAtNs = -1;
    for (auto client = clients.begin(); client != clients.end(); ++client) {
        WebRules::ClientQueue& queue = client->queue;
        // The socket is asked only when something may leave: a few hundred pages' sockets
        // asked at every datagram cost more than their writes.
        if (queue.offer(order, state, nowNs))
            sendDue(client.key(), *client, nowNs);
        const qint64 due = queue.dueAtNs();
        if (due >= 0 && (dueAtNs < 0 || due < dueAtNs))
            dueAtNs = due;
    }
    schedule(dueAtNs);
}

void WebServer::sendGathered()
{
    gatheredAtNs = -1;
    const qint64 nowNs = artNetNowNs();
    qint64 dueAtNs = -1;
    for (auto client = clients.begin(); client != clients.end(); ++client) {
        WebRules::ClientQueue& queue = client->queue;
        if (queue.dueAtNs() >= 0 && queue.dueAtNs() <= nowNs)
            sendDue(client.key(), *client, nowNs);
        const qint64 due = queue.dueAtNs();
        if (due >= 0 && (dueAtNs < 0 || due < dueAtNs))
            dueAtNs = due;
    }
    schedule(dueAtNs);
}

void WebServer::schedule(qint64 dueAtNs)
{
    if (dueAtNs < 0 || (gathered.isActive() && gatheredAtNs <= dueAtNs))
        return;
    gatheredAtNs = dueAtNs;
    // Rounded up: a timer that fires early would find nothing due yet.
    const qint64 waitNs = std::max<qint64>(0, dueAtNs - artNetNowNs());
    gathered.start(int((waitNs + 999'999) / 1'000'000));
}

QAbstractSocket* WebServer::underneath(QWebSocket* socket) const
{
    // Our server's connections are its children until they close (QTcpServer makes them so);
    // QWebSocket writes through the one it was upgraded from.
    if (!tcp)
        return nullptr;
    const auto connections = tcp->findChildren<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly);
    for (QTcpSocket* connection : connections)
        if (connection->state() == QAbstractSocket::ConnectedState &&
            connection->peerPort() == socket->peerPort() &&
            connection->peerAddress() == socket->peerAddress())
            return connection;
    return nullptr;
}

void WebServer::sendDue(QWebSocket* socket, Client& client, qint64 nowNs)
{
    const qint64 unwritten = client.tcp ? client.tcp->bytesToWrite() : socket->bytesToWrite();
    const QList<QByteArray> states = client.queue.due(unwritten, nowNs);
    if (states.isEmpty())
        return;
    if (states != lastStates) {
        lastStates = states;
        lastFrame = WebRules::textFrame(WebRules::joined(states));
    }
    if (client.descriptor < 0) {
        socket->sendTextMessage(QString::fromUtf8(WebRules::joined(states)));
        return;
    }
    // Written by the kernel at once while nothing of Qt's waits before it: the same frame
    // QWebSocket would write, without its buffer, its signals and a turn of the event loop
    // watching every page's socket for room. What the kernel does not take waits in Qt's buffer,
    // in order before anything QWebSocket writes after it.
    if (client.tcp->state() != QAbstractSocket::ConnectedState)
        return; // going: its descriptor may already be closed
    qint64 sent = 0;
    if (unwritten == 0) {
        sent = ::send(client.descriptor, lastFrame.constData(), size_t(lastFrame.size()),
                      MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return; // the connection is gone, as its socket says once the event loop reads it
        sent = std::max<qint64>(sent, 0);
    }
    if (sent < lastFrame.size())
        client.tcp->write(lastFrame.constData() + sent, lastFrame.size() - sent);
}

void WebServer::acceptWebSockets()
{
    while (http.hasPendingWebSocketConnections()) {
        QWebSocket* socket = http.nextPendingWebSocketConnection().release();
        if (!socket)
            continue;
        socket->setParent(this);
        if (socket->requestUrl().path() != QLatin1String("/ws")) {
            refuse(socket, QWebSocketProtocol::CloseCodePolicyViolated,
                   QStringLiteral("no such path"));
            continue;
        }
        if (clients.size() >= maxClients) {
            ++refusedClients;
            refuse(socket, kCloseTryAgainLater, QStringLiteral("try again later"));
            continue;
        }
        socket->setMaxAllowedIncomingFrameSize(kLargestIncomingBytes);
        socket->setMaxAllowedIncomingMessageSize(kLargestIncomingBytes);
        Client& client = clients[socket];
        client.queue.answered(artNetNowNs());
        client.tcp = underneath(socket);
        if (client.tcp)
            client.descriptor = int(client.tcp->socketDescriptor());
        ++servedClients;
        connect(socket, &QWebSocket::pong, this, [this, socket] {
            auto client = clients.find(socket);
            if (client != clients.end())
                client->queue.answered(artNetNowNs());
        });
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            if (clients.remove(socket))
                socket->deleteLater();
        });
        // What a page has missed: every sender as it stands, silent ones too, in first-heard
        // order, in one message.
        const qint64 now = artNetNowNs();
        QList<QByteArray> states;
        for (int order = 0; order < senders.size(); ++order)
            states.append(WebRules::senderMessage(view(order, now)));
        if (!states.isEmpty()) {
            socket->sendTextMessage(QString::fromUtf8(WebRules::joined(states)));
            clients[socket].queue.sent(now);
        }
    }
}

void WebServer::drop(QWebSocket* socket)
{
    if (!clients.remove(socket))
        return;
    ++droppedClients;
    socket->disconnect(this);
    // Its queue is what it failed to read: nothing more is worth a closing handshake.
    socket->abort();
    socket->deleteLater();
}

void WebServer::refuse(QWebSocket* socket, int code, const QString& reason)
{
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    socket->close(QWebSocketProtocol::CloseCode(code), reason);
    QTimer::singleShot(kCloseGraceMs, socket, [socket] { socket->abort(); });
}
