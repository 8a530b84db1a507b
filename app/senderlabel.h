// A label with one line per sender, any of which can be drawn dimmed for a sender that went
// silent. Its text stays the plain text, so the font fit measures what it always measured and
// a change of colour costs no new text.
#pragma once

#include <QLabel>
#include <QList>

class SenderLabel : public QLabel
{
    Q_OBJECT

public:
    explicit SenderLabel(QWidget* parent);

    // One flag per line of the text, true for a line to draw dimmed; lines past the list are
    // drawn in full colour. Repaints only when the flags change.
    void setDimmedLines(const QList<bool>& dimmed);
    const QList<bool>& dimmedLines() const { return dimmed; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<bool> dimmed;
};
