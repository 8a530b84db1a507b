// Art-Net packets: the byte layout of every packet the node reads or writes, and the one place
// that writes and reads them.
//
// All offsets count from the start of the UDP payload. Packets are written and read as byte
// images at these offsets; nothing is cast onto a packed struct, so alignment and endianness
// never enter.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// The timecode of one sender, the five bytes exactly as ArtTimeCode carries them.
struct TimecodeRecord
{
    quint8 frames = 0;
    quint8 seconds = 0;
    quint8 minutes = 0;
    quint8 hours = 0;
    quint8 type = 0; // 0 film 24, 1 EBU 25, 2 drop-frame 29.97, 3 SMPTE 30; others kept as sent
};

namespace ArtNetPacket {

// Every datagram goes to and comes from this UDP port.
inline constexpr quint16 kPort = 6454; // 0x1936, written LE on the wire as 0x36 0x19

// Common header.
inline constexpr int kIdOffset = 0;
inline constexpr int kIdSize = 8; // seven characters and their NUL, compared as one
inline constexpr char kArtNetId[kIdSize + 1] = "Art-Net";
inline constexpr char kMadrixId[kIdSize + 1] = "MadrixN"; // sync extension, received only
inline constexpr int kOpCodeOffset = 8;                   // 16-bit LE
inline constexpr int kIdAndOpCodeSize = 10;
inline constexpr int kProtVerHiOffset = 10;
inline constexpr int kProtVerLoOffset = 11;
inline constexpr quint8 kProtVerHi = 0;
inline constexpr quint8 kProtVerLo = 14;

// The common header: ID, OpCode and the protocol version (ArtPollReply has its IP there).
inline constexpr int kHeaderSize = 12;

// Reception: a datagram of this many bytes or fewer is ignored; only a longer one is examined.
inline constexpr int kLargestIgnoredSize = 12;
// The node's scratch copy of a received header is as large as an ArtDmx work area.
inline constexpr int kReceiveHeaderSize = 530; // as large as the ArtDmx work area, kDmxImageSize

// OpCodes known to the node.
inline constexpr quint16 kOpPoll = 0x2000;
inline constexpr quint16 kOpPollReply = 0x2100;
inline constexpr quint16 kOpDmx = 0x5000;
inline constexpr quint16 kOpSyncPre = 0x5101;  // extension, also under the MadrixN id
inline constexpr quint16 kOpSyncPost = 0x5202; // extension, also under the MadrixN id
inline constexpr quint16 kOpTimeCode = 0x9700;

// ArtPoll.
inline constexpr int kPollSize = 14;
inline constexpr int kPollTalkToMeOffset = 12;
inline constexpr int kPollPriorityOffset = 13;

// ArtPollReply, sent as 240 bytes: one more than the published 239-byte layout.
inline constexpr int kPollReplySize = 240;
inline constexpr int kPollReplyIpOffset = 10;   // 4 bytes, first octet first
inline constexpr int kPollReplyPortOffset = 14; // 2 bytes LE
inline constexpr int kPollReplyVersInfoHOffset = 16;
inline constexpr int kPollReplyVersInfoLOffset = 17;
inline constexpr int kPollReplyNetSwitchOffset = 18;
inline constexpr int kPollReplySubSwitchOffset = 19;
inline constexpr int kPollReplyOemHiOffset = 20;
inline constexpr int kPollReplyOemLoOffset = 21;
inline constexpr int kPollReplyUbeaVersionOffset = 22;
inline constexpr int kPollReplyStatus1Offset = 23;
inline constexpr int kPollReplyEstaManOffset = 24; // 2 bytes
inline constexpr int kPollReplyShortNameOffset = 26;
inline constexpr int kPollReplyShortNameSize = 18;
inline constexpr int kPollReplyLongNameOffset = 44;
inline constexpr int kPollReplyLongNameSize = 64;
inline constexpr int kPollReplyNodeReportOffset = 108;
inline constexpr int kPollReplyNodeReportSize = 64;
inline constexpr int kPollReplyNumPortsHiOffset = 172;
inline constexpr int kPollReplyNumPortsLoOffset = 173;
inline constexpr int kPollReplyPortTypesOffset = 174;  // 4 bytes
inline constexpr int kPollReplyGoodInputOffset = 178;  // 4 bytes
inline constexpr int kPollReplyGoodOutputOffset = 182; // 4 bytes
inline constexpr int kPollReplySwInOffset = 186;       // 4 bytes
inline constexpr int kPollReplySwOutOffset = 190;      // 4 bytes
inline constexpr int kPollReplySwVideoOffset = 194;
inline constexpr int kPollReplySwMacroOffset = 195;
inline constexpr int kPollReplySwRemoteOffset = 196;
inline constexpr int kPollReplyStyleOffset = 200;
inline constexpr int kPollReplyMacOffset = 201; // 6 bytes
inline constexpr int kPollReplyMacSize = 6;
inline constexpr int kPollReplyBindIpOffset = 207; // 4 bytes, first octet first
inline constexpr int kPollReplyBindIndexOffset = 211;
inline constexpr int kPollReplyStatus2Offset = 212;
inline constexpr int kPollReplyMaxPorts = 4; // ports described by one reply
inline constexpr quint8 kPortTypeArtNetOutput = 0x85;
inline constexpr quint8 kPortTypeCanOutput = 0x80; // bit of a PortTypes byte
inline constexpr quint8 kPortTypeCanInput = 0x40;  // bit of a PortTypes byte
inline constexpr quint8 kGoodOutputTransmitting = 0x80;
// Reading a reply: every field up to the MAC must be there. Nodes of older protocol versions
// end their replies before BindIp; the fields from there on are read only when present.
inline constexpr int kPollReplyMinimumSize = kPollReplyBindIpOffset;
// Port-Address: Net (7 bits), Sub-Net (4 bits) and the port's Universe (4 bits).
inline constexpr quint8 kNetSwitchMask = 0x7F;
inline constexpr quint8 kSubSwitchMask = 0x0F;
inline constexpr quint8 kPortSwitchMask = 0x0F;

// ArtTimeCode.
inline constexpr int kTimeCodeSize = 20;
inline constexpr int kTimeCodeFiller1Offset = 12;
inline constexpr int kTimeCodeStreamIdOffset = 13;
inline constexpr int kTimeCodeFramesOffset = 14;
inline constexpr int kTimeCodeSecondsOffset = 15;
inline constexpr int kTimeCodeMinutesOffset = 16;
inline constexpr int kTimeCodeHoursOffset = 17;
inline constexpr int kTimeCodeTypeOffset = 18;
inline constexpr int kTimeCodePadOffset = 19;
// Type is the last field read: a shorter ArtTimeCode is a fragment.
inline constexpr int kTimeCodeMinimumSize = kTimeCodeTypeOffset + 1;

// ArtDmx. Received packets are copied into a work area of header plus one full universe.
inline constexpr int kDmxSequenceOffset = 12;
inline constexpr int kDmxPhysicalOffset = 13;
inline constexpr int kDmxSubUniOffset = 14;   // universe low byte
inline constexpr int kDmxNetOffset = 15;      // universe high byte
inline constexpr int kDmxLengthHiOffset = 16; // Length is BE, unlike the rest of the protocol
inline constexpr int kDmxLengthLoOffset = 17;
inline constexpr int kDmxDataOffset = 18; // the header is everything before it
inline constexpr int kDmxMaxSlots = 512;
inline constexpr int kDmxMinSendSlots = 2;
inline constexpr int kDmxImageSize = kDmxDataOffset + kDmxMaxSlots; // 530

// The 15-bit Port-Address (Net, Sub-Net, Universe) names this many universes: no node has more
// ports to report.
inline constexpr quint32 kPortAddressCount = 32768;

// Sync extension (0x5101 / 0x5202).
inline constexpr int kSyncHoldOffset = 12; // signed byte

// Reading and writing: every packet the node sends is written here, every packet it acts on is
// read here into plain values. Readers take the datagram's bytes and its real size; they never
// read past that size.

// Which of the two accepted packet ids a header carries.
enum class PacketId { None, ArtNet, Madrix };

struct Header
{
    PacketId id = PacketId::None;
    quint16 opCode = 0;
};

// The ID, compared over all eight bytes with its NUL and case-sensitive, and the OpCode. Fewer
// bytes than ID and OpCode are no packet (PacketId::None).
Header readHeader(const char* data, int size);

// The five timecode bytes, no value limited; nothing for a fragment that ends before Type
// (fewer than kTimeCodeMinimumSize bytes). Bytes after Type are not read.
std::optional<TimecodeRecord> readTimeCode(const char* data, int size);
// The StreamId of an ArtTimeCode; 0 (the master stream) for a datagram too short to carry one.
quint8 readTimeCodeStream(const char* data, int size);

// A received ArtDmx, read through the caller's work area of kDmxImageSize bytes, which takes the
// datagram's first bytes: `data` points into it. Nothing for a datagram that ends inside the
// header (fewer than kDmxDataOffset bytes); otherwise `length` is the Length field, capped at
// one universe, or the slots that arrived, whichever is fewer: a Length field is never trusted
// over the datagram's size.
struct DmxFrame
{
    quint16 universe = 0; // 15-bit Port-Address: SubUni low, Net high
    quint16 length = 0;   // slots carried: min(Length, kDmxMaxSlots, size - kDmxDataOffset)
    const quint8* data = nullptr;
};
std::optional<DmxFrame> readDmx(const char* data, int size, quint8* image);

// The hold byte of a sync packet, signed on the wire: 0xFF is -1, which holds like any non-zero
// value.
qint16 readSyncHold(const char* data, int size);

// The first kPollSize bytes of an ArtPoll, zero past a short datagram's end.
void readPoll(const char* data, int size, quint8* poll);

// What a node says of itself in an ArtPollReply, field by field. Written as it is (the
// universe lists aside); read with the universe lists filled.
struct PollReply
{
    quint32 ip = 0; // first octet in the high byte
    quint16 port = 0;
    quint8 versionHi = 0;
    quint8 versionLo = 0;
    quint8 netSwitch = 0;
    quint8 subSwitch = 0;
    quint8 oemHi = 0;
    quint8 oemLo = 0;
    quint8 status1 = 0;
    quint16 estaMan = 0;
    QString shortName; // written cut one short of its field, so that a NUL always ends it
    QString longName;
    QString nodeReport;
    quint16 numPorts = 0; // as reported; at most kPollReplyMaxPorts are described
    quint8 portTypes[kPollReplyMaxPorts] = {};
    quint8 goodInput[kPollReplyMaxPorts] = {};
    quint8 goodOutput[kPollReplyMaxPorts] = {};
    quint8 swIn[kPollReplyMaxPorts] = {};
    quint8 swOut[kPollReplyMaxPorts] = {};
    QList<quint16> inputUniverses;  // read: Port-Address of every described port that can input
    QList<quint16> outputUniverses; // read: Port-Address of every described port that can output
    quint8 style = 0;
    quint8 mac[kPollReplyMacSize] = {};
    quint32 bindIp = 0;   // read as 0 when the reply ends before it
    quint8 bindIndex = 0; // read as 0 when the reply ends before it
};

// Reads an ArtPollReply; nothing when the datagram is not one or ends before the MAC.
std::optional<PollReply> readPollReply(const char* data, int size);

// The 15-bit Port-Address of one port of a reply.
quint16 portAddress(quint8 netSwitch, quint8 subSwitch, quint8 portSwitch);

// Writes ID, OpCode and protocol version: the first kHeaderSize bytes of every packet the node
// sends but ArtPollReply.
void writeHeader(quint8* packet, quint16 opCode);

// The ArtDmx template: its header and kDmxMaxSlots zero slots, kDmxImageSize bytes in all.
void writeDmxTemplate(quint8* dmxTemplate);

// An ArtDmx of `length` slots: the header from the template, then universe, Length and data.
// Returns the packet's size.
int writeDmx(quint8* packet, const quint8* dmxTemplate, quint8 subUni, quint8 net,
             const quint8* data, quint16 length);

// An ArtTimeCode of kTimeCodeSize bytes, of the stream `stream` (0: the master).
void writeTimeCode(quint8* packet, const TimecodeRecord& timecode, quint8 stream = 0);

// An ArtPoll that asks for nothing more than replies: TalkToMe and Priority 0.
QByteArray pollPacket();

// An ArtPollReply of kPollReplySize bytes.
QByteArray pollReplyPacket(const PollReply& reply);

} // namespace ArtNetPacket
