// The ArtPollReply that the viewer's node sends, written out byte by byte from the protocol's
// layout, independently of the node's own packet code; tests patch copies of it for variants.
#pragma once

#include "artnet.h"

#include <QByteArray>
#include <QString>

namespace TestSupport {

inline const QString kViewerLongName = QStringLiteral("Chronolume v1.0.2 by www.example.net");

// The identity the viewer's window gives its node.
inline void configureAsViewer(artnet& node)
{
    node.versionHi = 1;
    node.versionLo = 0;
    node.oemHi = 0x0C;
    node.oemLo = 0x12;
    node.setNames(QStringLiteral("Tempolis"), kViewerLongName);
    node.setPollReplyEnabled(true);
}

// A text field of the given size: the text, then NUL up to the end.
inline QByteArray field(const char* text, int size)
{
    QByteArray bytes(text);
    bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

// Six MAC bytes from the text "00:1A:...", read here without the node's parser.
inline QByteArray macBytes(const QString& text)
{
    return QByteArray::fromHex(text.toLatin1().replace(':', ""));
}

// The ArtPollReply of the viewer's configuration (no ports), written out field by field.
inline QByteArray viewerReply(const QByteArray& ip, const QByteArray& mac)
{
    QByteArray reply;
    reply += QByteArray("Art-Net\0", 8);                        // 0 ID
    reply += QByteArray::fromHex("0021");                       // 8 OpCode 0x2100, low byte first
    reply += ip;                                                // 10 IP Address, first octet first
    reply += QByteArray::fromHex("3619");                       // 14 Port 6454, low byte first
    reply += QByteArray::fromHex("0100");                       // 16 VersInfoH, VersInfoL: 1.0
    reply += QByteArray::fromHex("0000");                       // 18 NetSwitch, SubSwitch
    reply += QByteArray::fromHex("0c12");                       // 20 OemHi, Oem
    reply += QByteArray::fromHex("00");                         // 22 Ubea Version
    reply += QByteArray::fromHex("00");                         // 23 Status1
    reply += QByteArray::fromHex("0000");                       // 24 EstaMan
    reply += field("Tempolis", 18);                             // 26 ShortName
    reply += field("Chronolume v1.0.2 by www.example.net", 64); // 44 LongName
    reply += QByteArray(64, '\0');                              // 108 NodeReport, never set
    reply += QByteArray::fromHex("0000");                       // 172 NumPortsHi, NumPortsLo
    reply += QByteArray::fromHex("85858585");                   // 174 PortTypes: Art-Net output
    reply += QByteArray::fromHex("00000000");                   // 178 GoodInput
    reply += QByteArray::fromHex("80808080");                   // 182 GoodOutput
    reply += QByteArray::fromHex("00000000");                   // 186 SwIn
    reply += QByteArray::fromHex("00000000");                   // 190 SwOut
    reply += QByteArray::fromHex("000000");                     // 194 SwVideo, SwMacro, SwRemote
    reply += QByteArray::fromHex("000000");                     // 197 Spare
    reply += QByteArray::fromHex("00");                         // 200 Style: StNode
    reply += mac;                                               // 201 MAC
    reply += QByteArray::fromHex("00000000");                   // 207 BindIp
    reply += QByteArray::fromHex("00");                         // 211 BindIndex
    reply += QByteArray::fromHex("00");                         // 212 Status2
    reply += QByteArray(26, '\0');                              // 213 Filler
    reply += QByteArray::fromHex("00"); // 239 pad: one past the published 239
    return reply;
}

inline QByteArray patched(QByteArray bytes, int offset, const QByteArray& with)
{
    bytes.replace(offset, with.size(), with);
    return bytes;
}

} // namespace TestSupport
