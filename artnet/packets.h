// Byte layouts of every Art-Net packet the node reads or writes.
//
// All offsets count from the start of the UDP payload. Handlers read and write byte images at
// these offsets; nothing is cast onto a packed struct, so alignment and endianness never enter.
#pragma once

#include <QtGlobal>

namespace ArtNetPacket {

// Every datagram goes to and comes from this UDP port.
inline constexpr quint16 kPort = 6454; // 0x1936, written LE on the wire as 0x36 0x19

// Common header.
inline constexpr int kIdOffset = 0;
inline constexpr int kIdSize = 8; // seven characters and their NUL, compared as one
inline constexpr char kArtNetId[kIdSize + 1] = "Art-Net";
inline constexpr char kMadrixId[kIdSize + 1] = "MadrixN"; // sync extension, received only
inline constexpr int kOpCodeOffset = 8;                   // 16-bit LE
inline constexpr int kProtVerHiOffset = 10;
inline constexpr int kProtVerLoOffset = 11;
inline constexpr quint8 kProtVerHi = 0;
inline constexpr quint8 kProtVerLo = 14;

// Reception: a datagram must carry more than this many bytes to be examined at all.
inline constexpr int kMinimumIgnoredSize = 12;
// The first bytes of every examined datagram are copied into the receive header buffer.
inline constexpr int kHeaderCopySize = 12;
inline constexpr int kReceiveHeaderSize = 530;

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
inline constexpr int kPollReplyBindIpOffset = 207; // 4 bytes
inline constexpr int kPollReplyBindIndexOffset = 211;
inline constexpr int kPollReplyStatus2Offset = 212;
inline constexpr int kPollReplyMaxPorts = 4; // ports described by one reply
inline constexpr quint8 kPortTypeArtNetOutput = 0x85;
inline constexpr quint8 kGoodOutputTransmitting = 0x80;

// ArtTimeCode.
inline constexpr int kTimeCodeSize = 20;
inline constexpr int kTimeCodeFiller1Offset = 12;
inline constexpr int kTimeCodeStreamIdOffset = 13;
inline constexpr int kTimeCodeFramesOffset = 14;
inline constexpr int kTimeCodeSecondsOffset = 15;
inline constexpr int kTimeCodeMinutesOffset = 16;
inline constexpr int kTimeCodeHoursOffset = 17;
inline constexpr int kTimeCodeTypeOffset = 18;

// ArtDmx. Received packets are copied into a work area of header plus one full universe.
inline constexpr int kDmxSequenceOffset = 12;
inline constexpr int kDmxPhysicalOffset = 13;
inline constexpr int kDmxSubUniOffset = 14;   // universe low byte
inline constexpr int kDmxNetOffset = 15;      // universe high byte
inline constexpr int kDmxLengthHiOffset = 16; // Length is BE, unlike the rest of the protocol
inline constexpr int kDmxLengthLoOffset = 17;
inline constexpr int kDmxDataOffset = 18;
inline constexpr int kDmxHeaderSize = 18;
inline constexpr int kDmxMaxSlots = 512;
inline constexpr int kDmxMinSendSlots = 2;
inline constexpr int kDmxImageSize = kDmxHeaderSize + kDmxMaxSlots; // 530

// Sync extension (0x5101 / 0x5202).
inline constexpr int kSyncHoldOffset = 12; // signed byte

// Which of the two accepted packet ids a header carries.
enum class PacketId { None, ArtNet, Madrix };

// Classifies the first kIdSize bytes; the comparison includes the NUL and is case-sensitive.
PacketId packetId(const char* header);

inline quint16 readLe16(const char* bytes)
{
    return quint16(quint8(bytes[0]) | (quint8(bytes[1]) << 8));
}

inline quint16 opCode(const char* header)
{
    return readLe16(header + kOpCodeOffset);
}

// Fields of a received ArtDmx, read from the zero-padded 530-byte image.
inline quint16 dmxUniverse(const quint8* image)
{
    return quint16(image[kDmxSubUniOffset] | (image[kDmxNetOffset] << 8));
}

// Length as the sender wrote it, capped at one universe: the image holds no more than that.
inline quint16 dmxLength(const quint8* image)
{
    const int length = (image[kDmxLengthHiOffset] << 8) | image[kDmxLengthLoOffset];
    return quint16(qMin(length, kDmxMaxSlots));
}

} // namespace ArtNetPacket
