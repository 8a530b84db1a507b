#include "web/webcommand.h"
#include "common/commandline.h"
#include "common/console.h"
#include "common/exitstatus.h"
#include "common/listening.h"
#include "common/optionvalues.h"
#include "web/pageurls.h"
#include "web/webserver.h"

#include "artnet.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkInterface>
#include <QTimer>

namespace {

QtMessageHandler qtMessages = nullptr;

// Qt HttpServer warns of every WebSocket request that no route takes: each page turned away
// beyond --max-clients (answered 503 all the same) or asking for another path. Nothing went
// wrong, so nothing is said.
void withoutTurnedAwayWarnings(QtMsgType type, const QMessageLogContext& context,
                               const QString& message)
{
    if (type == QtWarningMsg && context.category &&
        qstrcmp(context.category, "qt.httpserver") == 0 &&
        message.startsWith(QLatin1String("WebSocket received but no slots connected")))
        return;
    qtMessages(type, context, message);
}

constexpr int kMostClients = 100000;

} // namespace

bool parseWebOptions(const QStringList& arguments, WebOptions* parsed, int* status)
{
    QCommandLineParser parser;
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QCoreApplication::translate("web", "The TCP port the page is served on (8080)."),
        QStringLiteral("PORT"));
    const QCommandLineOption bindOption(
        QStringLiteral("bind"),
        QCoreApplication::translate("web", "Serve on this local address only (every address)."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption maxClientsOption(
        QStringLiteral("max-clients"),
        QCoreApplication::translate("web", "Pages served at once, 1 to %1; more are turned away "
                                           "(500).")
            .arg(kMostClients),
        QStringLiteral("COUNT"));
    if (!CommandLine::parse(
            parser, QStringLiteral("web"),
            QCoreApplication::translate(
                "web", "Listens for ArtTimeCode on UDP port 6454 and serves a clock page that "
                       "shows every sender's timecode, rate, name and address, kept up to date "
                       "in every browser that opens it. The page only listens: it cannot change "
                       "anything. ") +
                listeningHelp(),
            {portOption, bindOption, maxClientsOption}, arguments, status))
        return false;

    WebOptions options;
    QString complaint;
    if (parser.isSet(portOption)) {
        int port = 0;
        complaint = OptionValues::readWholeNumber(
            QStringLiteral("--port"), CommandLine::lastValue(parser, portOption), 1, 65535, &port);
        options.port = quint16(port);
    }
    if (complaint.isNull() && parser.isSet(maxClientsOption))
        complaint = OptionValues::readWholeNumber(QStringLiteral("--max-clients"),
                                                  CommandLine::lastValue(parser, maxClientsOption),
                                                  1, kMostClients, &options.maxClients);
    const QString bindText = CommandLine::lastValue(parser, bindOption);
    if (complaint.isNull() && !bindText.isNull()) {
        options.everyAddress = false;
        if (!options.address.setAddress(bindText))
            complaint = QStringLiteral("--bind needs an IP address, not \"%1\"").arg(bindText);
    }
    if (!complaint.isNull()) {
        *status = CommandLine::refuse(QStringLiteral("web: ") + complaint);
        return false;
    }
    *parsed = options;
    *status = ExitStatus::kOk;
    return true;
}

int runWeb(const QStringList& arguments)
{
    WebOptions options;
    int status = ExitStatus::kOk;
    if (!parseWebOptions(arguments, &options, &status))
        return status;
    const QHostAddress& address = options.address;
    const quint16 port = options.port;
    const int maxClients = options.maxClients;

    qtMessages = qInstallMessageHandler(withoutTurnedAwayWarnings);
    artnet::setDiagnosticLines(false);
    artnet node;
    WebServer server(node.senders(), maxClients);
    QString error;
    if (!server.listen(address, quint16(port), &error)) {
        Console::error(QStringLiteral("web: cannot serve on %1 port %2: %3")
                           .arg(address.toString())
                           .arg(port)
                           .arg(error));
        return ExitStatus::kFailure;
    }
    if (!listenBesideOthers(node, &server, QStringLiteral("web")))
        return ExitStatus::kFailure;
    // What is written waits on a thread of its own: a paused terminal holds up no page.
    Console::OutputThread output;
    QString urls;
    for (const QString& url : pageUrls(address, QNetworkInterface::allAddresses(), server.port()))
        urls += QCoreApplication::translate("web", "serving the clock page at %1\n").arg(url);
    output.append(urls);

    const std::atomic<bool>& stop = Console::installStopSignals();
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (stop.load()) {
            loop.quit();
            return;
        }
        server.tick(artNetNowNs());
    });
    tick.start(WebServer::kTickMs);
    loop.exec();
    node.setObserver(nullptr);
    const QString served =
        server.served() == 1
            ? QCoreApplication::translate("web", "served 1 page")
            : QCoreApplication::translate("web", "served %1 pages").arg(server.served());
    output.appendAtEnd(served + QCoreApplication::translate("web", "; %1 turned away, %2 dropped "
                                                                   "for not reading\n")
                                    .arg(server.refused())
                                    .arg(server.dropped()));
    output.flush();
    return ExitStatus::kOk;
}
