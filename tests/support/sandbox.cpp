#include "sandbox.h"

#include <QNetworkInterface>

namespace TestSupport {

QString privateNetworkProblem()
{
    const QByteArray reason = qgetenv("CHRONOLUME_NO_PRIVATE_NETWORK");
    if (!reason.isEmpty())
        return QString::fromLocal8Bit(reason);
    // Whatever started us, refuse to send anything where a real network is attached: the
    // node broadcasts to every local network.
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const QString name = interface.name();
        if (interface.type() != QNetworkInterface::Loopback &&
            !name.startsWith(QLatin1String("clt")))
            return QStringLiteral("interface %1 is attached; run through tests/support/netns-run")
                .arg(name);
    }
    return QString();
}

} // namespace TestSupport
