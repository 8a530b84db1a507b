#include "windowoptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

namespace WindowOptions {

namespace {

const QString kFullScreen = QStringLiteral("full-screen");
const QString kScreen = QStringLiteral("screen");
const QString kListScreens = QStringLiteral("list-screens");
const QString kLayout = QStringLiteral("layout");

} // namespace

std::optional<Layout> layoutNamed(const QString& name)
{
    if (name == QLatin1String("blocks"))
        return Layout::Blocks;
    if (name == QLatin1String("rows"))
        return Layout::Rows;
    return std::nullopt;
}

void addTo(QCommandLineParser& parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(
        {QCommandLineOption(kFullScreen,
                            QCoreApplication::translate("main", "Start in the dark full screen.")),
         QCommandLineOption(kScreen,
                            QCoreApplication::translate("main",
                                                        "Open the window on the screen of this "
                                                        "name (see --list-screens)."),
                            QStringLiteral("NAME")),
         QCommandLineOption(kListScreens, QCoreApplication::translate(
                                              "main", "Print the names of the screens, one a "
                                                      "line, and end.")),
         QCommandLineOption(
             kLayout,
             QCoreApplication::translate(
                 "main", "blocks (the default): every time, then every rate, then every address, "
                         "each in a block of its own; rows: each sender's time with its rate, "
                         "name and address under it, the senders in rows that flow into columns "
                         "when that makes the digits larger. Overrides the setting Layout."),
             QStringLiteral("blocks|rows"))});
}

Options read(const QStringList& arguments)
{
    QCommandLineParser parser;
    addTo(parser);
    // Qt's own arguments and any other make errors here, which are left as they always were;
    // only the window's own options are judged.
    parser.parse(arguments);
    Options options;
    options.fullScreen = parser.isSet(kFullScreen);
    options.listScreens = parser.isSet(kListScreens);
    options.screen = parser.value(kScreen);
    for (const QString& valued : {kScreen, kLayout}) {
        const QString option = QStringLiteral("--") + valued;
        if (arguments.size() > 1 &&
            (arguments.last() == option || arguments.last() == QStringLiteral("-") + valued)) {
            options.error = QStringLiteral("%1 needs a value").arg(option);
            return options;
        }
    }
    if (parser.isSet(kLayout)) {
        const QString name = parser.value(kLayout);
        options.layout = layoutNamed(name);
        if (!options.layout)
            options.error = QStringLiteral("--layout takes blocks or rows, not \"%1\"").arg(name);
    }
    return options;
}

bool noDisplay(const QString& platform, const QByteArray& qpaPlatform, const QByteArray& display,
               const QByteArray& waylandDisplay)
{
    const QString chosen = platform.isNull() ? QString::fromLocal8Bit(qpaPlatform) : platform;
    // Another platform (offscreen, wayland, vnc, ...) says for itself what it misses.
    if (!chosen.isEmpty() && !chosen.startsWith(QLatin1String("xcb")))
        return false;
    if (!display.isEmpty())
        return false;
    return !chosen.isEmpty() || waylandDisplay.isEmpty();
}

QString platformArgument(const QStringList& arguments)
{
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("-platform") ||
            arguments[i] == QLatin1String("--platform"))
            return arguments[i + 1];
    }
    return QString();
}

} // namespace WindowOptions
