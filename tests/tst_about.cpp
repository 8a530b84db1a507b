// The About window on its own: its title, its texts with their links, and its Ok button.
#include "aboutinfo.h"
#include "aboutprobes.h"
#include "chronolume_config.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

class AboutTest : public QObject
{
    Q_OBJECT

private slots:
    void texts()
    {
        const AboutInfo about(QStringLiteral(":/images/chronolume.png"), nullptr);
        QCOMPARE(about.windowTitle(), QStringLiteral("About Chronolume"));
        // Major and minor only in the text; the link tells the update page the full version.
        QCOMPARE(AboutInfoProbe::infoLabel(about)->text(),
                 QStringLiteral("<center><b>Chronolume</b><br>Version 1.0<br>Date Jul 17 2012<br>"
                                "Written by Orin Brakke<br><a href=\"http://%1/update_view.php?"
                                "software=chronolume&currentversion=1.0.2.0\">%1</a></center>")
                     .arg(QLatin1String(chronolume::kWebHost)));
        // The Qt this program is built with, under the licence Qt 6 is offered under.
        QCOMPARE(AboutInfoProbe::creditsLabel(about)->text(),
                 QStringLiteral("<center>use <br><a href=\"https://www.qt.io/\">QT (%1)</a> by <a "
                                "href=\"https://www.gnu.org/licenses/lgpl-3.0.html\">LGPL</a>"
                                "</center>")
                     .arg(QLatin1String(QT_VERSION_STR)));
        QCOMPARE(AboutInfoProbe::okButton(about)->toolTip(),
                 QStringLiteral("press okay for close about window"));
    }
};

QTEST_MAIN(AboutTest)
#include "tst_about.moc"
