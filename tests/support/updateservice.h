// A stand-in for the maker's update service: a small HTTP server on 127.0.0.1 that the whole
// application reaches as its HTTP proxy, so the program's compiled-in address arrives unchanged.
// It answers whatever a test chooses and remembers what it was asked.
#pragma once

#include "chronolume_config.h"

#include <QByteArray>
#include <QList>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace TestSupport {

// What the program's update check asks, as the service receives it.
inline const QByteArray kUpdateCheckRequestLine = QByteArray("GET http://") +
                                                  chronolume::kUpdateHost +
                                                  "/update_check.php?software=chronolume HTTP/1.1";

class UpdateService
{
public:
    struct Answer
    {
        QList<QByteArray> parts; // each one a delivery of its own, 300 ms after the one before
        int status = 200;        // 0: the connection is closed without a byte of answer
        bool endless = false;    // the headers promise more than the parts, and it never comes
    };

    UpdateService()
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [this, socket] { read(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                    ++connectionsEnded;
                    socket->deleteLater();
                });
            }
        });
        if (server.listen(QHostAddress::LocalHost, 0))
            QNetworkProxy::setApplicationProxy(QNetworkProxy(
                QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), server.serverPort()));
    }
    ~UpdateService() { QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy)); }
    bool isListening() const { return server.isListening(); }

    // The n-th request gets the n-th answer; the last one answers every later request too.
    QList<Answer> answers;
    // "GET http://host/path HTTP/1.1", one per request, in arrival order.
    QList<QByteArray> requestLines;
    // Connections closed by either side.
    int connectionsEnded = 0;

private:
    void read(QTcpSocket* socket)
    {
        const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        socket->setProperty("request", request);
        if (socket->property("answered").toBool() || !request.contains("\r\n\r\n"))
            return;
        socket->setProperty("answered", true);
        requestLines.append(request.left(request.indexOf("\r\n")));
        const Answer answer = answers.value(qMin(requestLines.size(), answers.size()) - 1);
        if (answer.status == 0) {
            socket->disconnectFromHost();
            return;
        }
        qsizetype length = answer.endless ? 1000 : 0;
        for (const QByteArray& part : answer.parts)
            length += part.size();
        socket->write("HTTP/1.1 " + QByteArray::number(answer.status) +
                      " Answer\r\nContent-Length: " + QByteArray::number(length) +
                      "\r\nConnection: close\r\n\r\n");
        send(socket, answer, 0);
    }

    void send(QTcpSocket* socket, const Answer& answer, int index)
    {
        if (index < answer.parts.size()) {
            socket->write(answer.parts.at(index));
            socket->flush();
        }
        // The socket is the timer's context: a client that has gone takes the rest with it.
        if (index + 1 < answer.parts.size())
            QTimer::singleShot(300, socket,
                               [this, socket, answer, index] { send(socket, answer, index + 1); });
        else if (!answer.endless)
            socket->disconnectFromHost();
    }

    QTcpServer server;
};

} // namespace TestSupport
