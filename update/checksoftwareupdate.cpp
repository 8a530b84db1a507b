#include "checksoftwareupdate.h"
#include "updateanswer.h"

#include <QMessageBox>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace {

// Counts a reply handler on the stack for as long as it runs, message boxes included.
class HandlerScope
{
public:
    explicit HandlerScope(int& depth) : depth(depth) { ++depth; }
    ~HandlerScope() { --depth; }
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

private:
    int& depth;
};

} // namespace

CheckSoftwareUpdate::CheckSoftwareUpdate() : QObject(nullptr), manager(nullptr) {}

CheckSoftwareUpdate::~CheckSoftwareUpdate()
{
    if (reply) {
        // Disconnected first: an aborted reply reports finished() at once, and a box about a
        // request we cancelled ourselves must not appear during shut-down.
        reply->disconnect(this);
        reply->abort();
        delete reply;
        reply = nullptr;
    }
    qDeleteAll(retiredReplies);
    retiredReplies.clear();
}

void CheckSoftwareUpdate::setGiveInfoForNoUpdates(bool give)
{
    giveInfoForNoUpdates = give;
}

void CheckSoftwareUpdate::setInfoText(const QString& text)
{
    infoText = text;
}

void CheckSoftwareUpdate::setOwnVersion(int major, int minor, int patch, int build)
{
    ownVersion[0] = major;
    ownVersion[1] = minor;
    ownVersion[2] = patch;
    ownVersion[3] = build;
}

void CheckSoftwareUpdate::startCheck(const QString& checkUrl, int delaySeconds)
{
    url = checkUrl;
    // Every request arms its own timer; an earlier one still runs out as planned.
    auto* timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("updateCheckDelay"));
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &CheckSoftwareUpdate::CheckForUpdateIntern);
    connect(timer, &QTimer::timeout, timer, &QObject::deleteLater);
    timer->start(delaySeconds * 1000);
}

void CheckSoftwareUpdate::httpFinished()
{
    {
        HandlerScope scope(handlerDepth);
        if (dataReceived) {
            dataReceived = false;
        } else if (giveInfoForNoUpdates) {
            QMessageBox::warning(nullptr, tr("Update Check"),
                                 tr("No internet connection for check updates available!"),
                                 QMessageBox::Ok);
        }
    }
    releaseRetiredReplies();
}

void CheckSoftwareUpdate::httpReadyRead()
{
    {
        HandlerScope scope(handlerDepth);
        dataReceived = true;
        // Each delivery is judged on its own.
        if (reply)
            parseReply(reply->readAll());
    }
    releaseRetiredReplies();
}

void CheckSoftwareUpdate::updateDataReadProgress(qint64 bytesRead, qint64 totalBytes)
{
    Q_UNUSED(bytesRead);
    Q_UNUSED(totalBytes);
}

bool CheckSoftwareUpdate::CheckForUpdateIntern()
{
    if (reply)
        retireReply();

    reply = manager.get(QNetworkRequest(QUrl(url)));
    dataReceived = false;
    connect(reply, &QNetworkReply::finished, this, &CheckSoftwareUpdate::httpFinished);
    connect(reply, &QNetworkReply::readyRead, this, &CheckSoftwareUpdate::httpReadyRead);
    connect(reply, &QNetworkReply::downloadProgress, this,
            &CheckSoftwareUpdate::updateDataReadProgress);
    return false;
}

void CheckSoftwareUpdate::retireReply()
{
    QNetworkReply* old = reply;
    reply = nullptr;
    // Cut loose before the abort, whose finished() would otherwise report a failure for a
    // request we cancelled ourselves.
    old->disconnect(this);
    old->abort();
    retiredReplies.append(old);
    releaseRetiredReplies();
}

void CheckSoftwareUpdate::releaseRetiredReplies()
{
    // Inside a handler the reply may still be emitting the signal that brought us here, and a
    // message box's event loop would carry out even a deferred delete at once: wait until the
    // outermost handler has returned.
    if (handlerDepth > 0)
        return;
    for (QNetworkReply* old : std::as_const(retiredReplies))
        old->deleteLater();
    retiredReplies.clear();
}

void CheckSoftwareUpdate::parseReply(const QByteArray& bytes)
{
    if (bytes.size() < 1)
        return;

    const UpdateAnswer::Version own{ownVersion[0], ownVersion[1], ownVersion[2], ownVersion[3]};
    if (const auto newer = UpdateAnswer::newerVersion(bytes, own)) {
        updateFound = true;
        QString text = infoText;
        text.replace(QLatin1String(kVersionMarker), UpdateAnswer::versionText(*newer));
        QMessageBox::information(nullptr, tr("Update Check"), text, QMessageBox::Ok);
        return;
    }
    if (giveInfoForNoUpdates) {
        QMessageBox::information(nullptr, tr("Update Check"), tr("No updates available."),
                                 QMessageBox::Ok);
    }
}
