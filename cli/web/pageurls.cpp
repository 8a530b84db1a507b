#include "web/pageurls.h"

#include <algorithm>

namespace {

QString url(const QHostAddress& address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return QStringLiteral("http://%1:%2/").arg(host).arg(port);
}

} // namespace

QStringList pageUrls(const QHostAddress& served, const QList<QHostAddress>& local, quint16 port)
{
    const bool every = served == QHostAddress::Any;
    const bool everyIpv4 = served == QHostAddress::AnyIPv4;
    const bool everyIpv6 = served == QHostAddress::AnyIPv6;
    if (!every && !everyIpv4 && !everyIpv6)
        return {url(served, port)};
    QList<QHostAddress> ipv4;
    QList<QHostAddress> ipv6;
    for (const QHostAddress& address : local) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            ipv4.append(address);
        else if (address.protocol() == QAbstractSocket::IPv6Protocol && !address.isLinkLocal())
            ipv6.append(address);
    }
    QList<QHostAddress> shown = everyIpv6 || (every && ipv4.isEmpty()) ? ipv6 : ipv4;
    std::stable_partition(shown.begin(), shown.end(),
                          [](const QHostAddress& a) { return !a.isLoopback(); });
    QStringList urls;
    for (const QHostAddress& address : shown)
        urls.append(url(address, port));
    return urls;
}
