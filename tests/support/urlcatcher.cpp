#include "urlcatcher.h"

#include <QDesktopServices>
#include <QLabel>
#include <QTest>

namespace TestSupport {

UrlCatcher::UrlCatcher()
{
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
}

UrlCatcher::~UrlCatcher()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

QList<QUrl> UrlCatcher::clickEveryLink(QLabel* label)
{
    QList<QUrl> found;
    // Every third pixel: smaller than any character of the label's font.
    for (int y = 1; y < label->height(); y += 3) {
        for (int x = 1; x < label->width(); x += 3) {
            const qsizetype before = opened.size();
            QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
            for (qsizetype i = before; i < opened.size(); ++i) {
                if (!found.contains(opened.at(i)))
                    found.append(opened.at(i));
            }
        }
    }
    return found;
}

} // namespace TestSupport
