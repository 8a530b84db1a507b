// The About window: name, version, date and author, the update page, and the toolkit's credit.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QVBoxLayout;

class AboutInfo : public QWidget
{
    Q_OBJECT

public:
    AboutInfo(const QString& iconPath, QWidget* parent);
    ~AboutInfo() override;

private slots:
    void pressOk();

private:
    friend class AboutInfoProbe; // test access

    QLabel* infoLabel = nullptr;
    QLabel* creditsLabel = nullptr;
    QVBoxLayout* layout = nullptr;
    QPushButton* okButton = nullptr;
};
