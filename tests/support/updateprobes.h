// Read access to the update checker's private state for the update-check tests.
#pragma once

#include "checksoftwareupdate.h"

#include <QList>
#include <QNetworkReply>
#include <QTimer>

class CheckSoftwareUpdateProbe
{
public:
    static QNetworkReply* reply(const CheckSoftwareUpdate& checker) { return checker.reply; }
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
