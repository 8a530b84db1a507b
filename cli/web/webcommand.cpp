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

} // namespace

int runWeb(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QCoreApplication::translate("web", "The TCP port the page is served on (8080)."),
        QStringLiteral("PORT"), QStringLiteral("8080"));
    const QCommandLineOption bindOption(
        QStringLiteral("bind"),
        QCoreApplication::translate("web", "Serve on this local address only (every address)."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption maxClientsOption(
        QStringLiteral("max-clients"),
        QCoreApplication::translate("web", "Pages served at once; more are turned away (500)."),
        QStringLiteral("COUNT"), QStringLiteral("500"));
    int status = ExitStatus::kOk;
    if (!CommandLine::parse(
            parser, QStringLiteral("web"),
            QCoreApplication::translate(
                "web", "Listens for ArtTimeCode on UDP port 6454 and serves a clock page that "
                       "shows every sender's timecode, rate, name and address, kept up to date "
                       "in every browser that opens it. The page only listens: it cannot change "
                       "anything. ") +
                listeningHelp(),
            {portOption, bindOption, maxClientsOption}, arguments, &status))
        return status;

    int port = 0;
    const QString portText = CommandLine::lastValue(parser, portOption);
    if (!OptionValues::readWholeNumber(portText.isNull() ? QStringLiteral("8080") : portText, 1,
                                       65535, &port))
        return CommandLine::refuse(
            QStringLiteral("web: --port needs a port from 1 to 65535, not \"%1\"").arg(portText));
    int maxClients = 0;
    const QString maxText = CommandLine::lastValue(parser, maxClientsOption);
    if (!OptionValues::readWholeNumber(maxText.isNull() ? QStringLiteral("500") : maxText, 1,
                                       100000, &maxClients))
        return CommandLine::refuse(
            QStringLiteral("web: --max-clients needs a number from 1 to 100000, not \"%1\"")
                .arg(maxText));
    QHostAddress address(QHostAddress::Any);
    const QString bindText = CommandLine::lastValue(parser, bindOption);
    if (!bindText.isNull() && !address.setAddress(bindText))
        return CommandLine::refuse(
            QStringLiteral("web: --bind needs an IP address, not \"%1\"").arg(bindText));

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
    output.append(served + QCoreApplication::translate("web", "; %1 turned away, %2 dropped for "
                                                              "not reading\n")
                               .arg(server.refused())
                               .arg(server.dropped()));
    output.flush();
    return ExitStatus::kOk;
}
