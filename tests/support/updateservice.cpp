#include "updateservice.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

namespace TestSupport {

namespace {

// Set on a socket once this end has started closing it, so that only the client's own
// closes are counted.
const char kClosingHere[] = "closingHere";

void closeHere(QTcpSocket* socket)
{
    socket->setProperty(kClosingHere, true);
    // Leaves after what was written has gone out.
    socket->disconnectFromHost();
}

} // namespace

UpdateService::Answer UpdateService::respond(const QList<QByteArray>& parts, int status,
                                             const QByteArray& reason)
{
    Answer result;
    result.kind = Answer::Kind::Respond;
    result.status = status;
    result.reason = reason;
    result.parts = parts;
    return result;
}

UpdateService::Answer UpdateService::respondThenHold(const QList<QByteArray>& parts)
{
    Answer result = respond(parts);
    result.endless = true;
    return result;
}

UpdateService::Answer UpdateService::closeWithoutAnswer()
{
    Answer result;
    result.kind = Answer::Kind::Close;
    return result;
}

UpdateService::Answer UpdateService::hold()
{
    Answer result;
    result.kind = Answer::Kind::Hold;
    return result;
}

UpdateService::UpdateService(QObject* parent) : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, &UpdateService::accept);
}

UpdateService::~UpdateService()
{
    if (proxying)
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    // The sockets are children of the server and go with it; they are not to count as closed
    // by the client on their way out.
    for (QTcpSocket* socket : server.findChildren<QTcpSocket*>())
        socket->disconnect(this);
}

bool UpdateService::start()
{
    return server.listen(QHostAddress::LocalHost, 0);
}

void UpdateService::becomeApplicationProxy()
{
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), port()));
    proxying = true;
}

void UpdateService::accept()
{
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (!socket->property(kClosingHere).toBool())
                ++closedByClient;
            socket->deleteLater();
        });
    }
}

void UpdateService::readRequest(QTcpSocket* socket)
{
    // One request per connection: the answer says "Connection: close".
    if (socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    QByteArray pending = socket->property("pending").toByteArray() + socket->readAll();
    const qsizetype headerEnd = pending.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        socket->setProperty("pending", pending);
        return;
    }
    socket->setProperty("answered", true);
    requests.append(pending.left(pending.indexOf("\r\n")));
    const qsizetype index = requests.size() - 1;
    if (answers.isEmpty())
        answer(socket, closeWithoutAnswer());
    else
        answer(socket, answers.at(qMin(index, answers.size() - 1)));
}

void UpdateService::answer(QTcpSocket* socket, const Answer& answer)
{
    switch (answer.kind) {
    case Answer::Kind::Hold:
        return;
    case Answer::Kind::Close:
        closeHere(socket);
        return;
    case Answer::Kind::Respond:
        break;
    }

    qsizetype length = 0;
    for (const QByteArray& part : answer.parts)
        length += part.size();
    if (answer.endless)
        length += 1000;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + answer.reason +
                      "\r\n"
                      "Content-Type: text/plain; charset=ISO-8859-1\r\n"
                      "Content-Length: " +
                      QByteArray::number(length) +
                      "\r\n"
                      "Connection: close\r\n"
                      "\r\n";
    socket->write(head);
    sendPart(socket, answer.parts, 0, answer.endless);
}

void UpdateService::sendPart(QTcpSocket* socket, const QList<QByteArray>& parts, int index,
                             bool endless)
{
    if (index < parts.size()) {
        socket->write(parts.at(index));
        socket->flush();
    }
    if (index + 1 >= parts.size()) {
        if (!endless)
            closeHere(socket);
        return;
    }
    // The socket is the timer's context: a client that has gone takes the rest with it.
    QTimer::singleShot(partPause, socket, [this, socket, parts, index, endless] {
        sendPart(socket, parts, index + 1, endless);
    });
}

} // namespace TestSupport
