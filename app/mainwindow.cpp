// Start-up and shut-down of the window, and the widgets of its central panel.
#include "mainwindow.h"

#include "aboutinfo.h"
#include "artnet.h"
#include "checksoftwareupdate.h"
#include "chronolume_config.h"
#include "displayrules.h"
#include "sendernames.h"
#include "senderrows.h"
#include "weblinks.h"

#include <QCloseEvent>
#include <QFont>
#include <QIcon>
#include <QLCDNumber>
#include <QLabel>
#include <QPixmap>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Just under 25 refreshes a second: every frame of a 24 or 25 fps show gets drawn.
constexpr int kRefreshIntervalMs = 41;
// While datagrams keep coming, the node reads them at most this often. Each wakeup of the event
// loop costs far more than a datagram read with it, and a flood of ArtDmx that arrives spread
// out (as a broadcast does when its sender is busier per datagram) woke the window every few
// datagrams, some ten thousand times a second. A millisecond is nothing against the 41 ms
// refresh, the arrivals stay the kernel's stamps, and the receive buffer holds far more.
constexpr int kReadIntervalMs = 1;

} // namespace

MainWindow::MainWindow(QWidget* parent, std::optional<WindowOptions::Layout> chosenLayout)
    : QMainWindow(parent, Qt::WindowFlags())
{
    updateLink = chronolume::updatePageLink();
    helpLink = chronolume::helpPageLink();

    // Read once and never written: the key exists only if the user put it there.
    QSettings settings{QLatin1String(chronolume::kWebDomain),
                       QLatin1String(chronolume::kProductName)};
    useLcd = settings.value(QStringLiteral("UseLcd"), false).toBool();
    // A value the window does not know reads as the default, as a missing one does.
    displayLayout = chosenLayout.value_or(
        WindowOptions::layoutNamed(settings.value(QStringLiteral("Layout")).toString())
            .value_or(WindowOptions::Layout::Blocks));

    artnetNode = new artnet;
    if (artnetNode) {
        artnetNode->shareBind = true;
        artnetNode->versionHi = 1;
        artnetNode->versionLo = 0;
        artnetNode->oemHi = SenderNaming::kWindowOemHi;
        artnetNode->oemLo = SenderNaming::kWindowOemLo;
        // The node knows its own replies by these when they come back: they name no sender.
        artnetNode->setNames(QStringLiteral("Tempolis"),
                             QLatin1String(chronolume::kProductName) + QLatin1Char(' ') +
                                 chronolume::versionText() + QStringLiteral(" by ") +
                                 QLatin1String(chronolume::kWebHost));
        artnetNode->setReadInterval(kReadIntervalMs);
        artnetNode->setPollReplyEnabled(true);
        senderNamer = new SenderNamer(artnetNode);
        artnetNode->setObserver(senderNamer);
    }

    setWindowTitle(tr("Chronolume"));
    buildCentralWidget();
    setWindowIcon(QIcon(QPixmap(QStringLiteral(":/images/chronolume.png"))));

    timecodeTimer = new QTimer(this);
    connect(timecodeTimer, &QTimer::timeout, this, &MainWindow::SendTimecodeTimeOut);
    timecodeTimer->start(kRefreshIntervalMs);
    createFullScreenKeys();

    CheckForSoftwareUpdate(false);
}

void MainWindow::buildCentralWidget()
{
    centralPanel = new QWidget(nullptr, Qt::WindowFlags());
    mainLayout = new QVBoxLayout;

    if (displayLayout == WindowOptions::Layout::Rows) {
        senderRows = new SenderRows(useLcd, this);
        senderRows->setEntries(
            {{tr("--:--:--:--"), tr("-- fps") + QStringLiteral(" \u00B7 ") + tr("0.0.0.0")}});
    } else if (useLcd) {
        timecodeColumn = new QWidget(this);
        rateColumn = new QWidget(this);
        for (QWidget* column : {timecodeColumn, rateColumn}) {
            auto* lines = new QVBoxLayout(column);
            lines->setContentsMargins(QMargins());
            lines->setSpacing(0);
        }
        timecodeLcd = addLcd(timecodeColumn, 11, tr("--:--:--:--"));
        rateLcd = addLcd(rateColumn, 6, tr("-- fps"));
    } else {
        timecodeLabel = new SenderLabel(this);
        timecodeLabel->setAlignment(Qt::AlignCenter);
        timecodeLabel->setText(tr("--:--:--:--"));
        rateLabel = new SenderLabel(this);
        rateLabel->setAlignment(Qt::AlignCenter);
        rateLabel->setText(tr("-- fps"));
    }
    if (!senderRows) {
        sourceLabel = new SenderLabel(this);
        sourceLabel->setAlignment(Qt::AlignCenter);
        sourceLabel->setText(tr("0.0.0.0"));
        sourcesFont = sourceLabel->font();
    }

    if (timecodeLabel && rateLabel) {
        const QFont font(timecodeLabel->font().family(), DisplayRules::kFloorPointSize, QFont::Bold,
                         false);
        timecodeLabel->setFont(font);
        rateLabel->setFont(font);
    }

    titleLabel = new QLabel;
    titleLabel->setText(
        tr("%1 %2").arg(QLatin1String(chronolume::kProductName), chronolume::versionText()));
    titleLabel->setAlignment(Qt::AlignCenter);

    linkLabel = new QLabel;
    linkLabel->setText(chronolume::downloadPageLink());
    linkLabel->setAlignment(Qt::AlignCenter);
    linkLabel->setOpenExternalLinks(true);
    linkLabel->setToolTip(tr("Visit homepage for download updates and help."));

    if (senderRows) {
        mainLayout->addWidget(senderRows, 1);
    } else {
        QWidget* timecodeWidget = timecodeColumn ? timecodeColumn : timecodeLabel;
        QWidget* rateWidget = rateColumn ? rateColumn : rateLabel;
        mainLayout->addWidget(timecodeWidget, 0);
        mainLayout->addWidget(rateWidget, 0);
        mainLayout->addWidget(sourceLabel, 0);
        mainLayout->setStretchFactor(timecodeWidget, 2);
    }
    mainLayout->addWidget(titleLabel, 0);
    mainLayout->addWidget(linkLabel, 0);

    centralPanel->setLayout(mainLayout);
    setCentralWidget(centralPanel);
    // The room for the text at the floor size, not at the fitted one: a label as large as its
    // fitted font would raise the window's minimum, the layout would grow the window and the
    // next fit the font.
    setTimecodeFloor();
    if (senderRows)
        senderRows->setRoom(roomOnScreen({senderRows}));
}

MainWindow::~MainWindow()
{
    // The timer goes before the node it reads from.
    if (timecodeTimer) {
        timecodeTimer->stop();
        delete timecodeTimer;
        timecodeTimer = nullptr;
    }
    if (artnetNode) {
        artnetNode->setObserver(nullptr);
        delete artnetNode;
        artnetNode = nullptr;
    }
    delete senderNamer;
    senderNamer = nullptr;
    closeAboutWindow();
    if (updateChecker) {
        delete updateChecker;
        updateChecker = nullptr;
    }

    // The numbers of further lines go with their columns, after the first pair.
    timecodeLcds.clear();
    rateLcds.clear();
    delete timecodeLabel;
    timecodeLabel = nullptr;
    delete rateLabel;
    rateLabel = nullptr;
    delete timecodeLcd;
    timecodeLcd = nullptr;
    delete rateLcd;
    rateLcd = nullptr;
    delete timecodeColumn;
    timecodeColumn = nullptr;
    delete rateColumn;
    rateColumn = nullptr;
    delete sourceLabel;
    sourceLabel = nullptr;
    delete senderRows;
    senderRows = nullptr;
    delete titleLabel;
    titleLabel = nullptr;
    delete linkLabel;
    linkLabel = nullptr;
    delete mainLayout;
    mainLayout = nullptr;
    delete centralPanel;
    centralPanel = nullptr;

    updateLink.clear();
    helpLink.clear();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The About window is a top-level window of its own; it must not outlive the program's
    // last window.
    closeAboutWindow();
    event->accept();
}

void MainWindow::closeAboutWindow()
{
    if (aboutDialog) {
        aboutDialog->hide();
        delete aboutDialog;
        aboutDialog = nullptr;
    }
}
