// A stand-in for the maker's update service: a small HTTP server on 127.0.0.1 that answers with
// whatever a test chooses, and remembers what it was asked.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

namespace TestSupport {

class UpdateService : public QObject
{
    Q_OBJECT

public:
    struct Answer
    {
        enum class Kind {
            Respond, // a status line, headers and the body, part by part
            Close,   // the connection is closed without a byte of answer
            Hold     // nothing is sent; the connection stays open until the client goes
        };
        Kind kind = Kind::Respond;
        int status = 200;
        QByteArray reason = "OK";
        // Each part is sent as a delivery of its own: written, flushed, then a pause.
        QList<QByteArray> parts;
        // Respond only: the headers promise more than the parts, and after them the service
        // waits, so the answer never ends.
        bool endless = false;
    };

    static Answer respond(const QList<QByteArray>& parts, int status = 200,
                          const QByteArray& reason = "OK");
    static Answer respondThenHold(const QList<QByteArray>& parts);
    static Answer closeWithoutAnswer();
    static Answer hold();

    explicit UpdateService(QObject* parent = nullptr);
    // Ends held connections and gives the application its direct connections back.
    ~UpdateService() override;

    // Listens on 127.0.0.1 at a free port.
    bool start();
    quint16 port() const { return server.serverPort(); }

    // Sends the whole application's HTTP through this service, as through a proxy: the program's
    // compiled-in address then reaches us unchanged, and the request line names it in full.
    void becomeApplicationProxy();

    // The n-th request gets the n-th answer; the last one answers every later request too.
    void setAnswers(const QList<Answer>& list) { answers = list; }
    // The pause between two parts of an answer, so that the client sees them apart.
    void setPartPause(int milliseconds) { partPause = milliseconds; }

    // "GET http://host/path HTTP/1.1", one per request, in arrival order.
    QList<QByteArray> requestLines() const { return requests; }
    // Connections the client has closed from its end (an aborted request closes its own).
    int connectionsClosedByClient() const { return closedByClient; }

private:
    void accept();
    void readRequest(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Answer& answer);
    void sendPart(QTcpSocket* socket, const QList<QByteArray>& parts, int index, bool endless);

    QTcpServer server;
    QList<Answer> answers;
    QList<QByteArray> requests;
    int closedByClient = 0;
    int partPause = 300;
    bool proxying = false;
};

} // namespace TestSupport
