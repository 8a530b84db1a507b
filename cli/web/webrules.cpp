#include "web/webrules.h"

#include "timecode.h"

#include <QJsonDocument>
#include <QJsonObject>

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

QList<QByteArray> ClientQueue::offer(int sender, const QByteArray& message, qint64 bytesToWrite,
                                     qint64 nowNs)
{
    if (keepsUp(bytesToWrite))
        return {message};
    held.insert(sender, message);
    if (behindSinceNs < 0)
        behindSinceNs = nowNs;
    return drained(bytesToWrite);
}

QList<QByteArray> ClientQueue::drained(qint64 bytesToWrite)
{
    if (bytesToWrite >= kBehindBytes)
        return {};
    QList<QByteArray> out = held.values();
    held.clear();
    behindSinceNs = -1;
    return out;
}

bool ClientQueue::stayedBehind(qint64 nowNs) const
{
    return (behindSinceNs >= 0 && nowNs - behindSinceNs > kDropAfterNs) ||
           (lastAnswerNs >= 0 && nowNs - lastAnswerNs > kUnansweredAfterNs);
}

} // namespace WebRules
