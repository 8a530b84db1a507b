// Reads and closes the message boxes and popup menus that the code under test opens, the way a
// user would: it looks every few milliseconds, also while such a window runs its own event loop.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace TestSupport {

class PopupWatcher
{
public:
    PopupWatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] { look(); });
        timer.start(10);
    }

    // "information|Update Check|No updates available.": one line per box, in the order opened.
    QStringList boxes;
    // Asked at every look with the number of the box on screen; it stays open while this is true.
    std::function<bool(int index)> holdBox;

private:
    void look()
    {
        // A menu is closed once its own opening has been handled; closed in the middle of it,
        // it would stay the active window.
        if (QWidget* popup = QApplication::activePopupWidget()) {
            QMetaObject::invokeMethod(popup, &QWidget::close, Qt::QueuedConnection);
            return;
        }
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        // A mark on the box, not its address: a later box may reuse a closed one's address.
        bool seen = false;
        int index = box->property("watcherIndex").toInt(&seen);
        if (!seen) {
            index = int(boxes.size());
            box->setProperty("watcherIndex", index);
            const char* icon = box->icon() == QMessageBox::Information ? "information"
                               : box->icon() == QMessageBox::Warning   ? "warning"
                                                                       : "other";
            boxes << QLatin1String(icon) + QLatin1Char('|') + box->windowTitle() +
                         QLatin1Char('|') + box->text();
        }
        if (holdBox && holdBox(index))
            return;
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }

    QTimer timer;
};

} // namespace TestSupport
