// The nodes that answered, in the lines `nodes` prints: JSON Lines and a table from the same
// values.
#pragma once

#include "nodes/nodelist.h"

#include <QString>
#include <QStringList>

#include <array>

namespace NodeList {

QString macText(const std::array<quint8, 6>& mac);
QString jsonLine(const Node& node);
// The table: a header line and one line per node. With a width (a terminal's), the columns that
// do not fit are left out, least important first, and no line is longer than width - 1
// characters, as monitor's table (TextOutput::fittedLines).
QStringList tableLines(const QList<Node>& nodes, int width = 0);

} // namespace NodeList
