// The yardstick for bench/window-cost: the least a Qt window can do that shows a running time,
// one label whose text a 41 ms timer sets anew each time, as the program's refresh does when
// every refresh has a new frame to show. It runs until it is ended.
#include <QApplication>
#include <QLabel>
#include <QString>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QLabel label;
    label.setAlignment(Qt::AlignCenter);
    label.setWindowTitle(QStringLiteral("Minimal window"));
    label.setText(QStringLiteral("00:00:00:00"));
    label.show();

    int frame = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &label, [&] {
        ++frame;
        label.setText(QStringLiteral("%1:%2:%3:%4")
                          .arg(frame / 90000 % 24, 2, 10, QLatin1Char('0'))
                          .arg(frame / 1500 % 60, 2, 10, QLatin1Char('0'))
                          .arg(frame / 25 % 60, 2, 10, QLatin1Char('0'))
                          .arg(frame % 25, 2, 10, QLatin1Char('0')));
    });
    timer.start(41);
    return application.exec();
}
