// The program as the user has it, for the tests of its commands and its update check: the
// window, a stand-in update service and a watcher that reads and closes its message boxes.
#pragma once

#include "mainwindow.h"
#include "popupwatcher.h"
#include "updateprobes.h"
#include "updateservice.h"
#include "windowprobes.h"

#include <QNetworkReply>

namespace TestSupport {

// The service is made first and goes last, after the window's requests.
struct Program
{
    explicit Program(const QList<UpdateService::Answer>& answers) { service.answers = answers; }
    UpdateService service;
    PopupWatcher watcher;
    MainWindow window;

    CheckSoftwareUpdate& checker() const { return *MainWindowProbe::updateChecker(window); }
    // As the Search Updates action does it: the slot's form without argument.
    bool check() { return QMetaObject::invokeMethod(&window, "CheckForSoftwareUpdate"); }
    // The running request has ended, and with it every box it brought: the boxes are shown
    // from the reply's own signals, which return only once the watcher has closed them.
    bool ended() const
    {
        const QNetworkReply* reply = CheckSoftwareUpdateProbe::reply(checker());
        return reply && reply->isFinished();
    }
};

} // namespace TestSupport
