#include "aboutinfo.h"

#include "chronolume_config.h"
#include "weblinks.h"

#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The credit names the Qt this program is built with, under the licence that Qt version is
// offered under.
QString toolkitLink()
{
    return QStringLiteral("<a href=\"https://www.qt.io/\">%1</a>")
        .arg(QStringLiteral("QT (%1)").arg(QLatin1String(QT_VERSION_STR)));
}

QString licenceLink()
{
    return QStringLiteral("<a href=\"https://www.gnu.org/licenses/lgpl-3.0.html\">LGPL</a>");
}

} // namespace

AboutInfo::AboutInfo(const QString& iconPath, QWidget* parent) : QWidget(parent, Qt::WindowFlags())
{
    if (!iconPath.isEmpty())
        setWindowIcon(QIcon(QPixmap(iconPath)));
    setWindowTitle(tr("About %1").arg(QLatin1String(chronolume::kProductName)));

    okButton = new QPushButton(tr("Ok"), this);
    if (okButton) {
        okButton->setToolTip(tr("press okay for close about window"));
        connect(okButton, &QPushButton::clicked, this, &AboutInfo::pressOk);
    }

    // Major and minor only: the link carries the full version to the update page.
    const QString info =
        tr("<center><b>%1</b><br>Version %2.%3<br>Date %4<br>Written by Orin Brakke<br>%5</center>")
            .arg(QLatin1String(chronolume::kProductName))
            .arg(chronolume::kVersionMajor)
            .arg(chronolume::kVersionMinor)
            .arg(QLatin1String(chronolume::kReleaseDate))
            .arg(chronolume::updatePageLink());
    const QString credits =
        tr("<center>use <br>%1 by %2</center>").arg(toolkitLink()).arg(licenceLink());

    layout = new QVBoxLayout;
    infoLabel = new QLabel(info, this, Qt::WindowFlags());
    creditsLabel = new QLabel(credits, this, Qt::WindowFlags());
    if (infoLabel)
        infoLabel->setOpenExternalLinks(true);
    if (creditsLabel)
        creditsLabel->setOpenExternalLinks(true);

    layout->addWidget(infoLabel, 0);
    layout->addWidget(creditsLabel, 0);
    layout->addStretch(0);
    layout->addWidget(okButton, 0);
    setLayout(layout);
}

AboutInfo::~AboutInfo()
{
    delete okButton;
    okButton = nullptr;
    delete infoLabel;
    infoLabel = nullptr;
    delete creditsLabel;
    creditsLabel = nullptr;
    delete layout;
    layout = nullptr;
}

void AboutInfo::pressOk()
{
    // Hidden, not deleted: the About action shows the same window again.
    close();
}
