#include "nodes/nodereport.h"
#include "common/textoutput.h"

namespace NodeList {

QString macText(const std::array<quint8, 6>& mac)
{
    QStringList bytes;
    for (const quint8 byte : mac)
        bytes.append(QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')));
    return bytes.join(QLatin1Char(':'));
}

namespace {

// Names come from the network, a byte each: no control character among them (C0, DEL, or C1,
// which a terminal may read as the start of a command) may reach the terminal. Each is shown
// as \xHH.
QString printable(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString versionText(const Node& node)
{
    return QStringLiteral("%1.%2").arg(node.versionHi).arg(node.versionLo);
}

QString universesText(const QList<int>& universes)
{
    if (universes.isEmpty())
        return QStringLiteral("-");
    QStringList numbers;
    for (const int universe : universes)
        numbers.append(QString::number(universe));
    return numbers.join(QLatin1Char(','));
}

} // namespace

QString jsonLine(const Node& node)
{
    TextOutput::JsonObject o;
    o.add("ip", node.ip.toString());
    o.add("bind_index", qint64(node.bindIndex));
    o.add("short_name", node.shortName);
    o.add("long_name", node.longName);
    o.add("oem", qint64(node.oem));
    o.add("version", versionText(node));
    o.add("ports", qint64(node.ports));
    o.add("universes_out", node.universesOut);
    o.add("universes_in", node.universesIn);
    o.add("mac", macText(node.mac));
    return o.text();
}

QStringList tableLines(const QList<Node>& nodes)
{
    TextOutput::Table table({QStringLiteral("IP"), QStringLiteral("BIND"),
                             QStringLiteral("SHORT NAME"), QStringLiteral("OEM"),
                             QStringLiteral("VERSION"), QStringLiteral("PORTS"),
                             QStringLiteral("OUT"), QStringLiteral("IN"), QStringLiteral("MAC"),
                             QStringLiteral("LONG NAME")});
    for (const Node& node : nodes) {
        table.add({node.ip.toString(), QString::number(node.bindIndex), printable(node.shortName),
                   QStringLiteral("0x%1").arg(node.oem, 4, 16, QLatin1Char('0')), versionText(node),
                   QString::number(node.ports), universesText(node.universesOut),
                   universesText(node.universesIn), macText(node.mac), printable(node.longName)});
    }
    return table.lines();
}

} // namespace NodeList
