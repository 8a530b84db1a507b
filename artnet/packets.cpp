// Writing the packets the node sends and reading those it acts on.
#include "packets.h"

#include <algorithm>
#include <cstring>

namespace ArtNetPacket {

namespace {

// The first min(size, areaSize) bytes of the datagram over a zeroed area: a short packet reads
// as zeros past its end.
void copyPadded(quint8* area, int areaSize, const char* data, int size)
{
    const int kept = std::clamp(size, 0, areaSize);
    std::memcpy(area, data, size_t(kept));
    std::memset(area + kept, 0, size_t(areaSize - kept));
}

quint16 readLe16(const quint8* bytes)
{
    return quint16(bytes[0] | (bytes[1] << 8));
}

quint32 readBe32(const quint8* bytes)
{
    return quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16 | quint32(bytes[2]) << 8 | bytes[3];
}

void writeBe32(char* bytes, quint32 value)
{
    bytes[0] = char(value >> 24);
    bytes[1] = char(value >> 16);
    bytes[2] = char(value >> 8);
    bytes[3] = char(value);
}

// 8-bit text up to its first NUL, or the whole field when a sender left none.
QString readName(const quint8* packet, int offset, int fieldSize)
{
    const char* field = reinterpret_cast<const char*>(packet + offset);
    const void* end = std::memchr(field, '\0', size_t(fieldSize));
    const int length = end ? int(static_cast<const char*>(end) - field) : fieldSize;
    return QString::fromLatin1(field, length);
}

// 8-bit text cut one short of its field, so that a NUL always ends it.
void writeName(QByteArray& packet, int offset, int fieldSize, const QString& text)
{
    const QByteArray bytes = text.toLatin1().left(fieldSize - 1);
    std::memcpy(packet.data() + offset, bytes.constData(), size_t(bytes.size()));
}

void writeIdAndOpCode(quint8* packet, quint16 opCode)
{
    std::memcpy(packet + kIdOffset, kArtNetId, kIdSize);
    packet[kOpCodeOffset] = quint8(opCode & 0xFF);
    packet[kOpCodeOffset + 1] = quint8(opCode >> 8);
}

} // namespace

Header readHeader(const char* data, int size)
{
    Header header;
    if (size < kIdAndOpCodeSize)
        return header;
    if (std::memcmp(data + kIdOffset, kArtNetId, kIdSize) == 0)
        header.id = PacketId::ArtNet;
    else if (std::memcmp(data + kIdOffset, kMadrixId, kIdSize) == 0)
        header.id = PacketId::Madrix;
    header.opCode = readLe16(reinterpret_cast<const quint8*>(data) + kOpCodeOffset);
    return header;
}

std::optional<TimecodeRecord> readTimeCode(const char* data, int size)
{
    // Zeros for the missing fields would show a false time.
    if (size < kTimeCodeMinimumSize)
        return std::nullopt;
    const auto* packet = reinterpret_cast<const quint8*>(data);
    TimecodeRecord record;
    record.frames = packet[kTimeCodeFramesOffset];
    record.seconds = packet[kTimeCodeSecondsOffset];
    record.minutes = packet[kTimeCodeMinutesOffset];
    record.hours = packet[kTimeCodeHoursOffset];
    record.type = packet[kTimeCodeTypeOffset];
    return record;
}

quint8 readTimeCodeStream(const char* data, int size)
{
    return size > kTimeCodeStreamIdOffset ? quint8(data[kTimeCodeStreamIdOffset]) : 0;
}

std::optional<DmxFrame> readDmx(const char* data, int size, quint8* image)
{
    if (size < kDmxDataOffset)
        return std::nullopt;
    copyPadded(image, kDmxImageSize, data, size);
    DmxFrame frame;
    frame.universe = quint16(image[kDmxSubUniOffset] | (image[kDmxNetOffset] << 8));
    // Length is BE, unlike the rest of the protocol; the work area holds no more than one
    // universe, and slots that never arrived are not data.
    const int length = (image[kDmxLengthHiOffset] << 8) | image[kDmxLengthLoOffset];
    frame.length = quint16(std::min({length, kDmxMaxSlots, size - kDmxDataOffset}));
    frame.data = image + kDmxDataOffset;
    return frame;
}

qint16 readSyncHold(const char* data, int size)
{
    if (size <= kSyncHoldOffset)
        return 0;
    return qint16(qint8(data[kSyncHoldOffset]));
}

void readPoll(const char* data, int size, quint8* poll)
{
    copyPadded(poll, kPollSize, data, size);
}

quint16 portAddress(quint8 netSwitch, quint8 subSwitch, quint8 portSwitch)
{
    return quint16((netSwitch & kNetSwitchMask) << 8 | (subSwitch & kSubSwitchMask) << 4 |
                   (portSwitch & kPortSwitchMask));
}

std::optional<PollReply> readPollReply(const char* data, int size)
{
    const Header header = readHeader(data, size);
    if (header.id != PacketId::ArtNet || header.opCode != kOpPollReply ||
        size < kPollReplyMinimumSize)
        return std::nullopt;

    quint8 packet[kPollReplySize];
    copyPadded(packet, kPollReplySize, data, size);
    PollReply info;
    info.ip = readBe32(packet + kPollReplyIpOffset);
    info.port = readLe16(packet + kPollReplyPortOffset);
    info.versionHi = packet[kPollReplyVersInfoHOffset];
    info.versionLo = packet[kPollReplyVersInfoLOffset];
    info.netSwitch = packet[kPollReplyNetSwitchOffset];
    info.subSwitch = packet[kPollReplySubSwitchOffset];
    info.oemHi = packet[kPollReplyOemHiOffset];
    info.oemLo = packet[kPollReplyOemLoOffset];
    info.status1 = packet[kPollReplyStatus1Offset];
    // EstaMan alone of the reply's 16-bit fields is LE.
    info.estaMan = readLe16(packet + kPollReplyEstaManOffset);
    info.shortName = readName(packet, kPollReplyShortNameOffset, kPollReplyShortNameSize);
    info.longName = readName(packet, kPollReplyLongNameOffset, kPollReplyLongNameSize);
    info.nodeReport = readName(packet, kPollReplyNodeReportOffset, kPollReplyNodeReportSize);
    info.numPorts =
        quint16(packet[kPollReplyNumPortsHiOffset] << 8 | packet[kPollReplyNumPortsLoOffset]);
    const int described = std::min<int>(info.numPorts, kPollReplyMaxPorts);
    for (int i = 0; i < kPollReplyMaxPorts; ++i) {
        info.portTypes[i] = packet[kPollReplyPortTypesOffset + i];
        info.goodInput[i] = packet[kPollReplyGoodInputOffset + i];
        info.goodOutput[i] = packet[kPollReplyGoodOutputOffset + i];
        info.swIn[i] = packet[kPollReplySwInOffset + i];
        info.swOut[i] = packet[kPollReplySwOutOffset + i];
        if (i >= described)
            continue;
        if (info.portTypes[i] & kPortTypeCanInput)
            info.inputUniverses.append(portAddress(info.netSwitch, info.subSwitch, info.swIn[i]));
        if (info.portTypes[i] & kPortTypeCanOutput)
            info.outputUniverses.append(portAddress(info.netSwitch, info.subSwitch, info.swOut[i]));
    }
    info.style = packet[kPollReplyStyleOffset];
    std::memcpy(info.mac, packet + kPollReplyMacOffset, kPollReplyMacSize);
    // Past a short reply's end the area is zero, which is what older nodes mean there.
    info.bindIp = readBe32(packet + kPollReplyBindIpOffset);
    info.bindIndex = packet[kPollReplyBindIndexOffset];
    return info;
}

void writeHeader(quint8* packet, quint16 opCode)
{
    writeIdAndOpCode(packet, opCode);
    packet[kProtVerHiOffset] = kProtVerHi;
    packet[kProtVerLoOffset] = kProtVerLo;
}

void writeDmxTemplate(quint8* dmxTemplate)
{
    std::memset(dmxTemplate, 0, kDmxImageSize);
    writeHeader(dmxTemplate, kOpDmx);
    // Sequence, Physical, SubUni, Net, Length and the data stay 0.
}

int writeDmx(quint8* packet, const quint8* dmxTemplate, quint8 subUni, quint8 net,
             const quint8* data, quint16 length)
{
    std::memcpy(packet, dmxTemplate, kDmxDataOffset); // the header
    packet[kDmxSubUniOffset] = subUni;
    packet[kDmxNetOffset] = net;
    packet[kDmxLengthHiOffset] = quint8(length >> 8);
    packet[kDmxLengthLoOffset] = quint8(length & 0xFF);
    std::memcpy(packet + kDmxDataOffset, data, length);
    return kDmxDataOffset + length;
}

void writeTimeCode(quint8* packet, const TimecodeRecord& timecode, quint8 stream)
{
    std::memset(packet, 0, kTimeCodeSize);
    writeHeader(packet, kOpTimeCode);
    // Filler1 and the pad byte after Type stay 0.
    packet[kTimeCodeStreamIdOffset] = stream;
    packet[kTimeCodeFramesOffset] = timecode.frames;
    packet[kTimeCodeSecondsOffset] = timecode.seconds;
    packet[kTimeCodeMinutesOffset] = timecode.minutes;
    packet[kTimeCodeHoursOffset] = timecode.hours;
    packet[kTimeCodeTypeOffset] = timecode.type;
}

QByteArray pollPacket()
{
    QByteArray packet(kPollSize, '\0');
    writeHeader(reinterpret_cast<quint8*>(packet.data()), kOpPoll);
    // TalkToMe and Priority stay 0.
    return packet;
}

QByteArray pollReplyPacket(const PollReply& reply)
{
    QByteArray bytes(kPollReplySize, '\0');
    char* packet = bytes.data();
    writeIdAndOpCode(reinterpret_cast<quint8*>(packet), kOpPollReply);
    writeBe32(packet + kPollReplyIpOffset, reply.ip);       // first octet first
    packet[kPollReplyPortOffset] = char(reply.port & 0xFF); // LE
    packet[kPollReplyPortOffset + 1] = char(reply.port >> 8);
    packet[kPollReplyVersInfoHOffset] = char(reply.versionHi);
    packet[kPollReplyVersInfoLOffset] = char(reply.versionLo);
    packet[kPollReplyNetSwitchOffset] = char(reply.netSwitch);
    packet[kPollReplySubSwitchOffset] = char(reply.subSwitch);
    packet[kPollReplyOemHiOffset] = char(reply.oemHi);
    packet[kPollReplyOemLoOffset] = char(reply.oemLo);
    packet[kPollReplyStatus1Offset] = char(reply.status1);
    packet[kPollReplyEstaManOffset] = char(reply.estaMan & 0xFF); // LE
    packet[kPollReplyEstaManOffset + 1] = char(reply.estaMan >> 8);
    writeName(bytes, kPollReplyShortNameOffset, kPollReplyShortNameSize, reply.shortName);
    writeName(bytes, kPollReplyLongNameOffset, kPollReplyLongNameSize, reply.longName);
    writeName(bytes, kPollReplyNodeReportOffset, kPollReplyNodeReportSize, reply.nodeReport);
    packet[kPollReplyNumPortsHiOffset] = char(reply.numPorts >> 8);
    packet[kPollReplyNumPortsLoOffset] = char(reply.numPorts & 0xFF);
    std::memcpy(packet + kPollReplyPortTypesOffset, reply.portTypes, kPollReplyMaxPorts);
    std::memcpy(packet + kPollReplyGoodInputOffset, reply.goodInput, kPollReplyMaxPorts);
    std::memcpy(packet + kPollReplyGoodOutputOffset, reply.goodOutput, kPollReplyMaxPorts);
    std::memcpy(packet + kPollReplySwInOffset, reply.swIn, kPollReplyMaxPorts);
    std::memcpy(packet + kPollReplySwOutOffset, reply.swOut, kPollReplyMaxPorts);
    packet[kPollReplyStyleOffset] = char(reply.style);
    std::memcpy(packet + kPollReplyMacOffset, reply.mac, kPollReplyMacSize);
    writeBe32(packet + kPollReplyBindIpOffset, reply.bindIp);
    packet[kPollReplyBindIndexOffset] = char(reply.bindIndex);
    return bytes;
}

} // namespace ArtNetPacket
