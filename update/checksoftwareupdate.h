// Asks the maker's update service whether a newer release exists, and tells the user.
#pragma once

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>

class QNetworkReply;

class CheckSoftwareUpdate : public QObject
{
    Q_OBJECT

public:
    // Stands in the announcement text for the version found.
    static constexpr char kVersionMarker[] = "$$$VERSION$$$";

    CheckSoftwareUpdate();
    ~CheckSoftwareUpdate() override;

    void setGiveInfoForNoUpdates(bool give);
    void setInfoText(const QString& text);
    void setOwnVersion(int major, int minor, int patch, int build);
    // Requests the answer from url after delaySeconds; 0 asks as soon as the event loop runs.
    void startCheck(const QString& url, int delaySeconds);

private slots:
    void httpFinished();
    void httpReadyRead();
    void updateDataReadProgress(qint64 bytesRead, qint64 totalBytes);
    bool CheckForUpdateIntern();

private:
    friend class CheckSoftwareUpdateProbe; // test access

    void parseReply(const QByteArray& bytes);
    void retireReply();
    void releaseRetiredReplies();

    bool giveInfoForNoUpdates = false;
    bool dataReceived = false;
    QNetworkAccessManager manager;
    QNetworkReply* reply = nullptr;
    QString infoText;
    QString url;
    int ownVersion[4] = {0, 0, 0, 0};
    bool updateFound = false;

    // Replies replaced while one of their signals was still being handled (a message box runs
    // a nested event loop); they are released once that handler has returned.
    QList<QNetworkReply*> retiredReplies;
    int handlerDepth = 0;
};
