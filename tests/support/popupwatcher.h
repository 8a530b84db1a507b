// Reads and closes the modal message boxes and popup menus that the code under test opens, the
// way a user would: it looks at what is on screen every few milliseconds, also while such a
// window runs its own event loop.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class QMenu;

namespace TestSupport {

class PopupWatcher : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QPointer<QWidget> parent;
        bool modal = false;
    };
    struct Menu
    {
        QPointer<QMenu> menu;
        QPoint position;
        bool itemActive = false;
    };

    explicit PopupWatcher(QObject* parent = nullptr);

    QList<Box> boxes() const { return seenBoxes; }
    QList<Menu> menus() const { return seenMenus; }
    // "information|Update Check|No updates available.": one line per box, for comparisons.
    QStringList boxSummaries() const;
    void clear();

    // Asked at every look for a box that is on screen, with its number in the order seen; a box
    // stays open for as long as it answers true. Without it every box is closed at once.
    std::function<bool(int index, QMessageBox* box)> holdBox;
    // Runs once for every opening of a menu, before the menu is closed; it may choose an item.
    std::function<void(QMenu* menu)> onMenu;

private:
    void look();

    QTimer timer;
    QList<Box> seenBoxes;
    QList<Menu> seenMenus;
};

// "information", "warning", ... as summaries show the icon.
QString iconName(QMessageBox::Icon icon);

} // namespace TestSupport
