#include "nodes/nodereport.h"
#include "common/textoutput.h"
#include "pollreply.h"

namespace NodeList {

QString macText(const std::array<quint8, 6>& mac)
{
    QStringList bytes;
    for (const quint8 byte : mac)
        bytes.append(QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')));
    return bytes.join(QLatin1Char(':'));
}

namespace {

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

QStringList tableLines(const QList<Node>& nodes, int width)
{
    // Left to right as printed; on a narrow terminal the highest rank goes first: the address and
    // the names, which say what a node is (a generator's long name says what it sends), stay
    // longest.
    const QList<TextOutput::Column> columns = {
        {QStringLiteral("IP"), 0},         {QStringLiteral("BIND"), 3},
        {QStringLiteral("SHORT NAME"), 1}, {QStringLiteral("OEM"), 9},
        {QStringLiteral("VERSION"), 8},    {QStringLiteral("PORTS"), 7},
        {QStringLiteral("OUT"), 4},        {QStringLiteral("IN"), 5},
        {QStringLiteral("MAC"), 6},        {QStringLiteral("LONG NAME"), 2},
    };
    QList<QStringList> rows;
    for (const Node& node : nodes) {
        rows.append({node.ip.toString(), QString::number(node.bindIndex),
                     ArtNetPoll::printableName(node.shortName),
                     QStringLiteral("0x%1").arg(node.oem, 4, 16, QLatin1Char('0')),
                     versionText(node), QString::number(node.ports),
                     universesText(node.universesOut), universesText(node.universesIn),
                     macText(node.mac), ArtNetPoll::printableName(node.longName)});
    }
    return TextOutput::fittedLines(columns, rows, width);
}

} // namespace NodeList
