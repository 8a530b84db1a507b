// The pictures that chronolume_images embeds under ":/images" without any Q_INIT_RESOURCE, and
// the Windows executable's icon and version information and the desktop's icons beside them,
// which nothing in the program reads, so nothing else would notice a wrong one. Every committed
// picture is what the drawing program draws today, byte for byte.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QResource>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class ResourcesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_redrawn;

private slots:
    void initTestCase()
    {
        QVERIFY(m_redrawn.isValid());
        QProcess draw;
        draw.setProcessChannelMode(QProcess::ForwardedChannels);
        draw.start(QStringLiteral(CHRONOLUME_DRAWIMAGES), {m_redrawn.path()});
        QVERIFY(draw.waitForFinished(120000));
        QCOMPARE(draw.exitStatus(), QProcess::NormalExit);
        QCOMPARE(draw.exitCode(), 0);
    }

    // The drawing program draws exactly the committed pictures, no more: a picture drawn but
    // never committed would be missing from the build, one committed but no longer drawn would
    // silently drift from the artwork.
    void redrawnFiles()
    {
        QStringList drawn;
        QDirIterator it(m_redrawn.path(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            drawn << QDir(m_redrawn.path()).relativeFilePath(it.next());
        drawn.sort();
        QCOMPARE(drawn,
                 (QStringList{QStringLiteral("check_update.xpm"), QStringLiteral("chronolume.ico"),
                              QStringLiteral("chronolume.png"), QStringLiteral("helpHelp.xpm"),
                              QStringLiteral("hicolor/chronolume-16.png"),
                              QStringLiteral("hicolor/chronolume-24.png"),
                              QStringLiteral("hicolor/chronolume-256.png"),
                              QStringLiteral("hicolor/chronolume-32.png"),
                              QStringLiteral("hicolor/chronolume-48.png"),
                              QStringLiteral("hicolor/chronolume-512.png"),
                              QStringLiteral("hicolor/chronolume-64.png")}));
    }

    void redrawn_data()
    {
        QTest::addColumn<QString>("file");
        QDirIterator it(m_redrawn.path(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = QDir(m_redrawn.path()).relativeFilePath(it.next());
            QTest::newRow(qPrintable(file)) << file;
        }
    }

    void redrawn()
    {
        QFETCH(QString, file);
        const QByteArray committed = fileBytes(QStringLiteral(CHRONOLUME_IMAGES_DIR "/") + file);
        const QByteArray drawn = fileBytes(m_redrawn.filePath(file));
        QVERIFY(!drawn.isEmpty());
        QVERIFY2(committed == drawn, "the committed file is not what the drawing program draws");
    }

    // The desktop's icons: each the diamond at the size its name gives, on a clear square.
    void hicolorIcons_data()
    {
        QTest::addColumn<int>("size");
        for (const int size : {16, 24, 32, 48, 64, 256, 512})
            QTest::newRow(qPrintable(QString::number(size))) << size;
    }

    void hicolorIcons()
    {
        QFETCH(int, size);
        const QImage icon(
            QStringLiteral(CHRONOLUME_IMAGES_DIR "/hicolor/chronolume-%1.png").arg(size));
        QCOMPARE(icon.size(), QSize(size, size));
        QCOMPARE(icon.format(), QImage::Format_ARGB32);
        QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(icon.pixel(size - 1, size - 1)), 0);
        const QRgb upperLeft = icon.pixel(size * 3 / 8, size * 3 / 8);
        const QRgb lowerRight = icon.pixel(size * 5 / 8, size * 5 / 8);
        QCOMPARE(qAlpha(upperLeft), 255);
        QCOMPARE(qAlpha(lowerRight), 255);
        QVERIFY(qBlue(upperLeft) > qRed(upperLeft));
        QVERIFY(qRed(lowerRight) > qBlue(lowerRight));
    }

    // Only these three: no quit picture, nor the Windows icon or the drawing program beside them.
    void listing()
    {
        QCOMPARE(QDir(QStringLiteral(":/images")).entryList(),
                 (QStringList{QStringLiteral("check_update.xpm"), QStringLiteral("chronolume.png"),
                              QStringLiteral("helpHelp.xpm")}));
    }

    void entries_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QResource::Compression>("compression");

        // The PNG is already deflated and stored as it is; the XPM text is stored with zlib.
        QTest::newRow("icon, 8-bit RGBA PNG")
            << QStringLiteral(":/images/chronolume.png") << QSize(128, 128)
            << QByteArray("\x89PNG\r\n\x1a\n"    // signature
                          "\0\0\0\x0dIHDR"       // first chunk: 13 bytes of image header
                          "\0\0\0\x80\0\0\0\x80" // width and height 128
                          "\x08\x06",            // 8 bits a channel, truecolour with alpha
                          26)
            << QResource::NoCompression;
        QTest::newRow("check update")
            << QStringLiteral(":/images/check_update.xpm") << QSize(32, 32)
            << QByteArray("/* XPM */") << QResource::ZlibCompression;
        QTest::newRow("help") << QStringLiteral(":/images/helpHelp.xpm") << QSize(32, 32)
                              << QByteArray("/* XPM */") << QResource::ZlibCompression;
    }

    void entries()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QFETCH(QByteArray, start);
        QFETCH(QResource::Compression, compression);

        QCOMPARE(QResource(path).compressionAlgorithm(), compression);
        QVERIFY(fileBytes(path).startsWith(start));
        const QImage image(path);
        QCOMPARE(image.size(), size);
        QVERIFY(image.hasAlphaChannel());
    }

    // Exactly the colours of the picture's table, each used, and no blended pixels; 0 is clear.
    void pictureColours_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QList<QRgb>>("colours");
        QTest::newRow("check update") << QStringLiteral(":/images/check_update.xpm")
                                      << QList<QRgb>{0, 0xff00ff00, 0xff333333};
        QTest::newRow("help") << QStringLiteral(":/images/helpHelp.xpm")
                              << QList<QRgb>{0, 0xff000000};
    }

    void pictureColours()
    {
        QFETCH(QString, path);
        QFETCH(QList<QRgb>, colours);

        const QImage image = QImage(path).convertToFormat(QImage::Format_ARGB32);
        QList<QRgb> found;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = qAlpha(image.pixel(x, y)) == 0 ? 0 : image.pixel(x, y);
                if (!found.contains(pixel))
                    found << pixel;
            }
        }
        std::sort(found.begin(), found.end());
        QCOMPARE(found, colours);
    }

    // A diamond on a clear square, violet-blue at the upper left and red at the lower right.
    void iconShape_data()
    {
        QTest::addColumn<QPoint>("pixel");
        QTest::addColumn<QString>("look");
        QTest::newRow("corner") << QPoint(0, 0) << QStringLiteral("clear");
        QTest::newRow("beyond a sloping edge") << QPoint(20, 20) << QStringLiteral("clear");
        QTest::newRow("near the left corner") << QPoint(12, 64) << QStringLiteral("blue");
        QTest::newRow("upper-left face") << QPoint(50, 50) << QStringLiteral("blue");
        QTest::newRow("lower-right face") << QPoint(80, 80) << QStringLiteral("red");
        QTest::newRow("near the right corner") << QPoint(115, 64) << QStringLiteral("red");
    }

    void iconShape()
    {
        QFETCH(QPoint, pixel);
        QFETCH(QString, look);

        const QRgb colour = QImage(QStringLiteral(":/images/chronolume.png")).pixel(pixel);
        const char* seen = qAlpha(colour) == 0            ? "clear"
                           : qAlpha(colour) < 255         ? "blended"
                           : qBlue(colour) > qRed(colour) ? "blue"
                                                          : "red";
        QCOMPARE(QLatin1String(seen), look);
    }

    void windowsResources()
    {
        // Icon directory: reserved 0, type 1 (icon), ten images; then 16 bytes for each, width
        // first (0 for 256) and bits per pixel at 6.
        const QByteArray ico = fileBytes(QStringLiteral(CHRONOLUME_IMAGES_DIR "/chronolume.ico"));
        QVERIFY(ico.startsWith(QByteArray("\0\0\1\0\x0a\0", 6)) && ico.size() > 6 + 160);
        QStringList entries;
        for (int at = 6; at < 6 + 160; at += 16)
            entries << QStringLiteral("%1@%2")
                           .arg(quint8(ico[at]) ? quint8(ico[at]) : 256)
                           .arg(quint8(ico[at + 6]));
        QCOMPARE(entries.join(QLatin1Char(' ')),
                 QStringLiteral("16@4 16@8 16@32 32@4 32@8 32@32 48@4 48@8 48@32 256@32"));

        const QByteArray rc = fileBytes(QStringLiteral(CHRONOLUME_IMAGES_DIR "/chronolume.rc"));
        for (const char* line :
             {"IDI_ICON1 ICON \"chronolume.ico\"", "FILEVERSION 1,0,2,0", "PRODUCTVERSION 1,0,2,0",
              "VALUE \"ProductName\", \"Chronolume\"", "VALUE \"ProductVersion\", \"1.0.2.0\""})
            QVERIFY2(rc.contains(line), line);
    }
};

QTEST_MAIN(ResourcesTest)
#include "tst_resources.moc"
