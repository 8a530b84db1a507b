// The About window on its own: its title, icon and texts, where its links lead, and that Ok and
// the title bar's close button only hide it.
#include "aboutinfo.h"
#include "aboutprobes.h"
#include "chronolume_config.h"
#include "urlcatcher.h"

#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>
#include <QtTest>

using namespace TestSupport;

namespace {

const QString kIcon = QStringLiteral(":/images/chronolume.png");

QString host()
{
    return QLatin1String(chronolume::kWebHost);
}

QString updatePage()
{
    return QStringLiteral("http://") + host() +
           QStringLiteral("/update_view.php?software=chronolume&currentversion=1.0.2.0");
}

} // namespace

class AboutTest : public QObject
{
    Q_OBJECT

private slots:
    void windowAndIcon()
    {
        AboutInfo about(kIcon, nullptr);
        QCOMPARE(about.windowTitle(), QStringLiteral("About Chronolume"));
        // A plain top-level window, shown by whoever made it.
        QVERIFY(about.isWindow());
        QVERIFY(!about.isVisible());
        QVERIFY(!about.isModal());
        QVERIFY(!about.testAttribute(Qt::WA_DeleteOnClose));

        QVERIFY(about.testAttribute(Qt::WA_SetWindowIcon));
        const QImage expected = QImage(kIcon).convertToFormat(QImage::Format_ARGB32);
        const QImage shown = about.windowIcon()
                                 .pixmap(QSize(128, 128))
                                 .toImage()
                                 .convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(shown, expected);
    }

    void noIconPathNoIcon()
    {
        AboutInfo about(QString(), nullptr);
        QVERIFY(!about.testAttribute(Qt::WA_SetWindowIcon));
        QCOMPARE(about.windowTitle(), QStringLiteral("About Chronolume"));
    }

    void texts()
    {
        AboutInfo about(kIcon, nullptr);
        QLabel* info = AboutInfoProbe::infoLabel(about);
        QLabel* credits = AboutInfoProbe::creditsLabel(about);
        QVERIFY(info && credits);

        // Major and minor only in the text; the link tells the update page the full version.
        QCOMPARE(info->text(), QStringLiteral("<center><b>Chronolume</b><br>Version 1.0<br>"
                                              "Date Jul 17 2012<br>Written by Orin Brakke<br>"
                                              "<a href=\"http://") +
                                   host() +
                                   QStringLiteral("/update_view.php?software=chronolume&"
                                                  "currentversion=1.0.2.0\">") +
                                   host() + QStringLiteral("</a></center>"));
        // The Qt this program is built with, under the licence Qt 6 comes with.
        QCOMPARE(credits->text(),
                 QStringLiteral("<center>use <br><a href=\"https://www.qt.io/\">QT (") +
                     QLatin1String(QT_VERSION_STR) +
                     QStringLiteral(")</a> by <a href=\"https://www.gnu.org/licenses/"
                                    "lgpl-3.0.html\">LGPL</a></center>"));
        QVERIFY(credits->text().contains(QStringLiteral("QT (6.")));

        for (QLabel* label : {info, credits}) {
            QCOMPARE(label->parentWidget(), &about);
            QCOMPARE(label->textFormat(), Qt::AutoText);
            QVERIFY(Qt::mightBeRichText(label->text()));
            QVERIFY(label->openExternalLinks());
        }
    }

    void layoutTopToBottom()
    {
        AboutInfo about(kIcon, nullptr);
        QVBoxLayout* layout = AboutInfoProbe::layout(about);
        // Installed on the window (the member hides QWidget::layout()).
        QCOMPARE(static_cast<QWidget&>(about).layout(), layout);
        QCOMPARE(layout->count(), 4);
        QCOMPARE(layout->itemAt(0)->widget(), AboutInfoProbe::infoLabel(about));
        QCOMPARE(layout->itemAt(1)->widget(), AboutInfoProbe::creditsLabel(about));
        QVERIFY(layout->itemAt(2)->spacerItem());
        QCOMPARE(layout->itemAt(3)->widget(), AboutInfoProbe::okButton(about));
        for (int i = 0; i < layout->count(); ++i) {
            QCOMPARE(layout->stretch(i), 0);
            QCOMPARE(layout->itemAt(i)->alignment(), Qt::Alignment());
        }

        QPushButton* ok = AboutInfoProbe::okButton(about);
        QCOMPARE(ok->text(), QStringLiteral("Ok"));
        QCOMPARE(ok->toolTip(), QStringLiteral("press okay for close about window"));
        QCOMPARE(ok->parentWidget(), &about);
    }

    // Clicked, the links open in the desktop's browser.
    void linksOpenInTheBrowser()
    {
        UrlCatcher catcher;
        AboutInfo about(kIcon, nullptr);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));

        QCOMPARE(catcher.clickEveryLink(AboutInfoProbe::infoLabel(about)),
                 QList<QUrl>{QUrl(updatePage())});
        QCOMPARE(catcher.clickEveryLink(AboutInfoProbe::creditsLabel(about)),
                 (QList<QUrl>{QUrl(QStringLiteral("https://www.qt.io/")),
                              QUrl(QStringLiteral("https://www.gnu.org/licenses/lgpl-3.0.html"))}));
    }

    void slotTable()
    {
        const QMetaObject& meta = AboutInfo::staticMetaObject;
        QCOMPARE(meta.className(), "AboutInfo");
        QCOMPARE(meta.methodCount() - meta.methodOffset(), 1);
        const QMetaMethod ok = meta.method(meta.methodOffset());
        QCOMPARE(ok.methodSignature(), QByteArray("pressOk()"));
        QCOMPARE(ok.methodType(), QMetaMethod::Slot);
        QCOMPARE(ok.access(), QMetaMethod::Private);
    }

    void okAndCloseOnlyHide_data()
    {
        QTest::addColumn<bool>("byOkButton");
        QTest::newRow("Ok button") << true;
        QTest::newRow("title bar close") << false;
    }

    void okAndCloseOnlyHide()
    {
        QFETCH(bool, byOkButton);

        QPointer<AboutInfo> about = new AboutInfo(kIcon, nullptr);
        about->show();
        QVERIFY(QTest::qWaitForWindowExposed(about));
        const QString info = AboutInfoProbe::infoLabel(*about)->text();

        if (byOkButton)
            QTest::mouseClick(AboutInfoProbe::okButton(*about), Qt::LeftButton);
        else
            QVERIFY(about->windowHandle()->close()); // as the window system's close request

        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(about);
        QVERIFY(!about->isVisible());

        // Shown again, unchanged.
        about->show();
        QVERIFY(QTest::qWaitForWindowExposed(about));
        QCOMPARE(AboutInfoProbe::infoLabel(*about)->text(), info);
        delete about;
    }
};

QTEST_MAIN(AboutTest)
#include "tst_about.moc"
