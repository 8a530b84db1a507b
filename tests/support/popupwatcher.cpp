#include "popupwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>

namespace TestSupport {

namespace {

// Marks a box as seen, with its number; a pointer is no mark, as a later box may reuse the
// address of one that has gone.
const char kBoxIndex[] = "popupWatcherIndex";
const char kMenuPending[] = "popupWatcherPending";

} // namespace

QString iconName(QMessageBox::Icon icon)
{
    switch (icon) {
    case QMessageBox::NoIcon:
        return QStringLiteral("none");
    case QMessageBox::Information:
        return QStringLiteral("information");
    case QMessageBox::Warning:
        return QStringLiteral("warning");
    case QMessageBox::Critical:
        return QStringLiteral("critical");
    case QMessageBox::Question:
        return QStringLiteral("question");
    }
    return QStringLiteral("unknown");
}

PopupWatcher::PopupWatcher(QObject* parent) : QObject(parent)
{
    connect(&timer, &QTimer::timeout, this, &PopupWatcher::look);
    timer.start(10);
}

QStringList PopupWatcher::boxSummaries() const
{
    QStringList result;
    for (const Box& box : seenBoxes)
        result << iconName(box.icon) + QLatin1Char('|') + box.title + QLatin1Char('|') + box.text;
    return result;
}

void PopupWatcher::clear()
{
    seenBoxes.clear();
    seenMenus.clear();
}

void PopupWatcher::look()
{
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        if (menu->property(kMenuPending).toBool())
            return;
        menu->setProperty(kMenuPending, true);
        seenMenus.append({menu, menu->pos(), menu->activeAction() != nullptr});
        // Handled outside this timer's slot: a chosen item may open a box with a loop of its
        // own, in which the timer, not re-entered while its slot runs, must go on looking.
        const QPointer<QMenu> seen(menu);
        QMetaObject::invokeMethod(
            this,
            [this, seen] {
                if (!seen)
                    return;
                if (onMenu)
                    onMenu(seen);
                // Closed as soon as it has been read, so every opening is seen once.
                if (seen) {
                    seen->setProperty(kMenuPending, false);
                    seen->close();
                }
            },
            Qt::QueuedConnection);
        return;
    }

    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    bool known = false;
    const int index = box->property(kBoxIndex).toInt(&known);
    if (!known) {
        box->setProperty(kBoxIndex, int(seenBoxes.size()));
        seenBoxes.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                          box->parentWidget(), box->isModal()});
        if (holdBox && holdBox(int(seenBoxes.size()) - 1, box))
            return;
    } else if (holdBox && holdBox(index, box)) {
        return;
    }
    // Closed with its own button, as the user would.
    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->reject();
}

} // namespace TestSupport
