// The whole numbers every command of chronolume-cli takes, read by its own option parser as a
// plain function: digits only, within the option's range, and one refusal worded alike
// everywhere, with exit status 2.
#include "common/optionvalues.h"
#include "ltcbridge/ltcbridgeoptions.h"
#include "ltcencode/ltcencodeoptions.h"
#include "nodes/nodescommand.h"
#include "send/sendoptions.h"
#include "web/webcommand.h"

#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

// What a parser wrote on standard error while it ran.
QString standardErrorOf(const std::function<void()>& run)
{
    QTemporaryFile file;
    if (!file.open())
        return QStringLiteral("no temporary file");
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(file.handle(), STDERR_FILENO);
    run();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    file.seek(0);
    return QString::fromLocal8Bit(file.readAll());
}

// Runs the command's parser on the arguments: the exit status, and what it said.
int parse(const QString& command, const QStringList& arguments, QString* said)
{
    int status = -1;
    *said = standardErrorOf([&] {
        if (command == QLatin1String("send")) {
            SendOptions options;
            parseSendOptions(arguments, &options, &status);
        } else if (command == QLatin1String("ltc-bridge")) {
            LtcBridgeOptions options;
            parseLtcBridgeOptions(arguments, &options, &status);
        } else if (command == QLatin1String("ltc-encode")) {
            LtcEncodeOptions options;
            parseLtcEncodeOptions(arguments, &options, &status);
        } else if (command == QLatin1String("web")) {
            WebOptions options;
            parseWebOptions(arguments, &options, &status);
        } else if (command == QLatin1String("nodes")) {
            NodesOptions options;
            parseNodesOptions(arguments, &options, &status);
        }
    });
    return status;
}

} // namespace

class CliOptionsTest : public QObject
{
    Q_OBJECT

private slots:
    void wholeNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("read");
        QTest::newRow("the lowest") << "10" << true;
        QTest::newRow("one below it") << "9" << false;
        QTest::newRow("the highest") << "20" << true;
        QTest::newRow("one above it") << "21" << false;
        QTest::newRow("leading zeros") << "012" << true;
        QTest::newRow("a plus sign") << "+12" << false;
        QTest::newRow("a minus sign") << "-12" << false;
        QTest::newRow("a space before") << " 12" << false;
        QTest::newRow("a space after") << "12 " << false;
        QTest::newRow("a space inside") << "1 2" << false;
        QTest::newRow("a tab") << "\t12" << false;
        QTest::newRow("a decimal point") << "12.0" << false;
        QTest::newRow("hexadecimal") << "0x10" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("beyond 64 bits") << "99999999999999999999" << false;
    }

    // Digits only, from 10 to 20; *value is left alone by a refusal.
    void wholeNumber()
    {
        QFETCH(QString, text);
        QFETCH(bool, read);
        int value = -1;
        const QString complaint =
            OptionValues::readWholeNumber(QStringLiteral("--n"), text, 10, 20, &value);
        QCOMPARE(complaint.isNull(), read);
        QCOMPARE(value, read ? text.toInt() : -1);
        if (!read)
            QCOMPARE(
                complaint,
                QStringLiteral("--n needs a whole number from 10 to 20, not \"%1\"").arg(text));
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("said"); // empty: taken

        const auto row = [](const char* name, const char* command, QStringList arguments,
                            const char* said) {
            QTest::newRow(name) << QString::fromLatin1(command) << arguments
                                << QString::fromUtf8(said);
        };
        const auto refused = [&row](const char* command, QStringList arguments, const char* option,
                                    const char* range, const char* text) {
            const QByteArray name = QByteArray(command) + ' ' + arguments.join(' ').toUtf8();
            const QByteArray said = QByteArray("chronolume-cli: ") + command + ": " + option +
                                    " needs a whole number from " + range + ", not \"" + text +
                                    "\"\n";
            row(name.constData(), command, arguments, said.constData());
        };

        row("send --stream 0", "send", {"--stream", "0"}, "");
        row("send --stream 255", "send", {"--stream", "255"}, "");
        refused("send", {"--stream", "256"}, "--stream", "0 to 255", "256");
        refused("send", {"--stream", "+5"}, "--stream", "0 to 255", "+5");
        refused("send", {"--stream", " 7"}, "--stream", "0 to 255", " 7");
        refused("send", {"--stream", "-1"}, "--stream", "0 to 255", "-1");
        refused("send", {"--stream", ""}, "--stream", "0 to 255", "");
        row("send --frames 1", "send", {"--frames", "1"}, "");
        refused("send", {"--frames", "0"}, "--frames", "1 to 1000000000000000", "0");
        refused("send", {"--frames", "+3"}, "--frames", "1 to 1000000000000000", "+3");

        row("ltc-bridge --stream 255", "ltc-bridge", {"--stream", "255"}, "");
        refused("ltc-bridge", {"--stream", "256"}, "--stream", "0 to 255", "256");
        refused("ltc-bridge", {"--stream", "+5"}, "--stream", "0 to 255", "+5");
        refused("ltc-bridge", {"--stream", " 7"}, "--stream", "0 to 255", " 7");
        refused("ltc-bridge", {"--stream", "7 "}, "--stream", "0 to 255", "7 ");
        row("ltc-bridge --freewheel 0", "ltc-bridge", {"--freewheel", "0"}, "");
        row("ltc-bridge --freewheel 1800", "ltc-bridge", {"--freewheel", "1800"}, "");
        refused("ltc-bridge", {"--freewheel", "1801"}, "--freewheel", "0 to 1800", "1801");
        refused("ltc-bridge", {"--freewheel", "-1"}, "--freewheel", "0 to 1800", "-1");
        row("ltc-bridge --sample-rate 32000", "ltc-bridge", {"--sample-rate", "32000"}, "");
        row("ltc-bridge --sample-rate 192000", "ltc-bridge", {"--sample-rate", "192000"}, "");
        refused("ltc-bridge", {"--sample-rate", "31999"}, "--sample-rate", "32000 to 192000",
                "31999");
        refused("ltc-bridge", {"--sample-rate", "192001"}, "--sample-rate", "32000 to 192000",
                "192001");
        refused("ltc-bridge", {"--sample-rate", "+48000"}, "--sample-rate", "32000 to 192000",
                "+48000");
        row("ltc-bridge --channel 1", "ltc-bridge", {"--channel", "1"}, "");
        refused("ltc-bridge", {"--channel", "0"}, "--channel", "1 to 1024", "0");
        refused("ltc-bridge", {"--channel", " 1"}, "--channel", "1 to 1024", " 1");

        // One range for --freewheel in both commands.
        row("ltc-encode --follow --freewheel 1800", "ltc-encode",
            {"--follow", "--freewheel", "1800"}, "");
        refused("ltc-encode", {"--follow", "--freewheel", "1801"}, "--freewheel", "0 to 1800",
                "1801");
        refused("ltc-encode", {"--follow", "--freewheel", "+25"}, "--freewheel", "0 to 1800",
                "+25");
        row("ltc-encode --follow 127.0.0.1:+5", "ltc-encode", {"--follow", "127.0.0.1:+5"},
            "chronolume-cli: ltc-encode: --follow \"127.0.0.1:+5\": the stream is a whole number "
            "from 0 to 255\n");
        row("ltc-encode --follow 127.0.0.1:255", "ltc-encode", {"--follow", "127.0.0.1:255"}, "");
        row("ltc-encode --sample-rate +48000", "ltc-encode",
            {"--sample-rate", "+48000", "--output", "-"},
            "chronolume-cli: ltc-encode: --sample-rate \"+48000\" is not 44100, 48000 or 96000\n");
        row("ltc-encode --bits \" 24\"", "ltc-encode",
            {"--bits", " 24", "--output", "x.wav", "--frames", "1"},
            "chronolume-cli: ltc-encode: --bits \" 24\" is not 16 or 24\n");
        refused("ltc-encode", {"--frames", "0", "--output", "x.wav"}, "--frames",
                "1 to 1000000000000000", "0");

        row("web --port 1", "web", {"--port", "1"}, "");
        row("web --port 65535", "web", {"--port", "65535"}, "");
        refused("web", {"--port", "0"}, "--port", "1 to 65535", "0");
        refused("web", {"--port", "65536"}, "--port", "1 to 65535", "65536");
        refused("web", {"--port", " +8080"}, "--port", "1 to 65535", " +8080");
        row("web --max-clients 100000", "web", {"--max-clients", "100000"}, "");
        refused("web", {"--max-clients", "0"}, "--max-clients", "1 to 100000", "0");
        refused("web", {"--max-clients", "100001"}, "--max-clients", "1 to 100000", "100001");

        row("nodes --wait 1", "nodes", {"--wait", "1"}, "");
        row("nodes --wait 3600000", "nodes", {"--wait", "3600000"}, "");
        refused("nodes", {"--wait", "0"}, "--wait", "1 to 3600000", "0");
        refused("nodes", {"--wait", "3600001"}, "--wait", "1 to 3600000", "3600001");
        refused("nodes", {"--wait", "1.5"}, "--wait", "1 to 3600000", "1.5");
        refused("nodes", {"--wait", "+5"}, "--wait", "1 to 3600000", "+5");
    }

    // Refused before anything is done, with one line on standard error and status 2; a value
    // in range is taken without a word.
    void refusals()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, arguments);
        QFETCH(QString, said);
        QString written;
        const int status = parse(command, arguments, &written);
        QCOMPARE(written, said);
        QCOMPARE(status, said.isEmpty() ? 0 : 2);
    }
};

QTEST_GUILESS_MAIN(CliOptionsTest)
#include "tst_clioptions.moc"
