// Read access to the update checker's private state for the update-check tests.
#pragma once

#include "checksoftwareupdate.h"

#include <QList>
#include <QNetworkReply>
#include <QTimer>

class CheckSoftwareUpdateProbe
{
public:
    static bool giveInfoForNoUpdates(const CheckSoftwareUpdate& checker)
    {
        return checker.giveInfoForNoUpdates;
    }
    static bool dataReceived(const CheckSoftwareUpdate& checker) { return checker.dataReceived; }
    static QNetworkReply* reply(const CheckSoftwareUpdate& checker) { return checker.reply; }
    static const QString& infoText(const CheckSoftwareUpdate& checker) { return checker.infoText; }
    static const QString& url(const CheckSoftwareUpdate& checker) { return checker.url; }
    static QList<int> ownVersion(const CheckSoftwareUpdate& checker)
    {
        return {checker.ownVersion[0], checker.ownVersion[1], checker.ownVersion[2],
                checker.ownVersion[3]};
    }
    static bool updateFound(const CheckSoftwareUpdate& checker) { return checker.updateFound; }
    static qsizetype retiredReplies(const CheckSoftwareUpdate& checker)
    {
        return checker.retiredReplies.size();
    }
    // The timers armed by startCheck that have not run out yet.
    static QList<QTimer*> pendingChecks(const CheckSoftwareUpdate& checker)
    {
        QList<QTimer*> result;
        for (QTimer* timer : checker.findChildren<QTimer*>(QStringLiteral("updateCheckDelay"),
                                                           Qt::FindDirectChildrenOnly)) {
            if (timer->isActive())
                result.append(timer);
        }
        return result;
    }
};
