#include "web/webrules.h"

#include "timecode.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

namespace WebRules {

QByteArray senderMessage(const SenderView& sender)
{
    QHostAddress address = sender.address;
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        address = QHostAddress(v4); // "::ffff:10.0.0.5" reads as "10.0.0.5"
    const QJsonObject object{
        {QStringLiteral("n"), sender.order},
        {QStringLiteral("address"), address.toString()},
        {QStringLiteral("stream"), int(sender.stream)},
        {QStringLiteral("name"), sender.name},
        {QStringLiteral("tc"), Timecode::text(sender.timecode)},
        {QStringLiteral("rate"), QString::fromLatin1(Timecode::rateName(sender.timecode.type))},
        {QStringLiteral("silent"), sender.silent},
        {QStringLiteral("conflict"), sender.conflict},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray textFrame(const QByteArray& payload)
{
    const quint64 size = quint64(payload.size());
    QByteArray frame;
    frame.reserve(payload.size() + 10);
    frame += char(0x81); // FIN, text
    if (size < 126) {
        frame += char(size);
    } else if (size <= 0xffff) {
        frame += char(126);
        for (int shift = 8; shift >= 0; shift -= 8)
            frame += char((size >> shift) & 0xff);
    } else {
        frame += char(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += char((size >> shift) & 0xff);
    }
    frame += payload;
    return frame;
}

QByteArray joined(const QList<QByteArray>& states)
{
    qsizetype size = 2;
    for (const QByteArray& state : states)
        size += state.size() + 1;
    QByteArray message;
    message.reserve(size);
    message += '[';
    for (const QByteArray& state : states) {
        if (message.size() > 1)
            message += ',';
        message += state;
    }
    message += ']';
    return message;
}

bool ClientQueue::offer(int sender, const QByteArray& state, qint64 nowNs)
{
    if (held.isEmpty())
        firstHeldNs = nowNs;
    held.append(Held{sender, state});
    heldBytes += state.size();
    if (behind())
        keepNewest();
    return mayLeave(nowNs);
}

bool ClientQueue::mayLeave(qint64 nowNs) const
{
    return !held.isEmpty() && (nowNs >= dueNs || (!behind() && heldBytes >= kBehindBytes));
}

QList<QByteArray> ClientQueue::due(qint64 bytesToWrite, qint64 nowNs)
{
    if (!mayLeave(nowNs))
        return {};
    // The message's time is the display frame it belongs to: the one it waited for, or, when it
    // leaves at once, its first state's. A timer that wakes late, or a busy moment, must not
    // push every later message later still: the lateness would add up message by message
    // until each frame waited most of a display frame.
    const qint64 slotNs = nowNs < dueNs ? nowNs : std::max(dueNs, firstHeldNs);
    dueNs = slotNs + kDisplayFrameNs;
    if (bytesToWrite >= kBehindBytes) {
        // What the page will see once it reads again is each sender's newest.
        if (behindSinceNs < 0)
            behindSinceNs = nowNs;
        keepNewest();
        return {};
    }
    behindSinceNs = -1;
    QList<QByteArray> states;
    states.reserve(held.size());
    for (const Held& h : held)
        states.append(h.state);
    held.clear();
    heldBytes = 0;
    return states;
}

void ClientQueue::keepNewest()
{
    QSet<int> newer;
    QList<Held> kept;
    for (qsizetype i = held.size() - 1; i >= 0; --i) {
        if (newer.contains(held.at(i).sender)) {
            heldBytes -= held.at(i).state.size();
            continue;
        }
        newer.insert(held.at(i).sender);
        kept.append(held.at(i));
    }
    std::reverse(kept.begin(), kept.end());
    held = kept;
}

bool ClientQueue::stayedBehind(qint64 nowNs) const
{
    return (behindSinceNs >= 0 && nowNs - behindSinceNs > kDropAfterNs) ||
           (lastAnswerNs >= 0 && nowNs - lastAnswerNs > kUnansweredAfterNs);
}

} // namespace WebRules
