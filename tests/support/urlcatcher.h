// Catches the web addresses the program hands to the desktop's browser, so that a test sees
// them and no browser starts.
#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

class QLabel;

namespace TestSupport {

class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    // Takes over http and https for as long as it lives.
    UrlCatcher();
    ~UrlCatcher() override;

    QList<QUrl> urls() const { return opened; }

    // Clicks across the whole label, as a user hunting for its links would, and returns every
    // address that a click opened, in order of first appearance.
    QList<QUrl> clickEveryLink(QLabel* label);

public slots:
    void open(const QUrl& url) { opened.append(url); }

private:
    QList<QUrl> opened;
};

} // namespace TestSupport
