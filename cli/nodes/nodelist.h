// The Art-Net nodes that answered a poll, each listed once.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

namespace NodeList {

// What one ArtPollReply says about its node, as listed: universes are 15-bit Port-Addresses.
struct Node
{
    QHostAddress ip;
    int bindIndex = 0;
    QString shortName;
    QString longName;
    quint16 oem = 0;
    quint8 versionHi = 0;
    quint8 versionLo = 0;
    int ports = 0;
    QList<int> universesOut;
    QList<int> universesIn;
    std::array<quint8, 6> mac{};
};

// Reads an ArtPollReply as received from sender; false when it is not one, or too short.
// The reply's own IP field names the node; sender stands in when that field is 0.0.0.0.
bool fromReply(const QByteArray& datagram, const QHostAddress& sender, Node* node);

// Nodes in the order first heard; a node that answers again (the same IP and BindIndex, as when
// its own poll echoes or two polls go out) replaces its earlier answer in place.
class Collected
{
public:
    void add(const Node& node);
    const QList<Node>& nodes() const { return all; }

private:
    QList<Node> all;
};

} // namespace NodeList
