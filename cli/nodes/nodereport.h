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
QStringList tableLines(const QList<Node>& nodes);

} // namespace NodeList
