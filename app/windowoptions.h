// The window's command line: its own options, read before the display is opened, so that a
// mistake in them is told without one, and whether there is a display to open at all.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

namespace WindowOptions {

// How the senders stand in the window: the time, the rate and the address of every sender in
// three stacked blocks, or each sender's time with its rate, name and address under it, the
// senders in rows that flow into columns.
enum class Layout { Blocks, Rows };

// "blocks" or "rows", as the option and the setting Layout name them; nothing for any other text.
std::optional<Layout> layoutNamed(const QString& name);

// Adds the window's options to a parser, which reads Qt's single-dash options (-platform,
// -style) as long ones rather than as bundled short ones.
void addTo(QCommandLineParser& parser);

struct Options
{
    bool fullScreen = false;
    bool listScreens = false;
    QString screen;               // empty: wherever the window manager puts the window
    std::optional<Layout> layout; // nothing: the setting's
    QString error;                // a usage error, as the line says it after "chronolume: "
};

// Reads the window's options from the program's arguments; every other argument is Qt's or is
// ignored, as it always was.
Options read(const QStringList& arguments);

// Whether the program would find no display to open: the platform is X11 (named, or Qt's default
// where none is named) and no DISPLAY says where it is, nor WAYLAND_DISPLAY, by which Qt may
// choose Wayland instead. platform is the value of a -platform argument, null without one.
bool noDisplay(const QString& platform, const QByteArray& qpaPlatform, const QByteArray& display,
               const QByteArray& waylandDisplay);

// The -platform (or --platform) argument's value; null without one.
QString platformArgument(const QStringList& arguments);

} // namespace WindowOptions
