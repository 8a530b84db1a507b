// The pictures that chronolume_images embeds under ":/images" without any Q_INIT_RESOURCE, and
// the Windows executable's icon and version information and the desktop's icons beside them,
// which nothing in the program reads, so nothing else would notice a wrong one. Every committed
// picture is what the drawing program draws today, byte for byte.
#include <QDirIterator>
#include <QProcess>
#include <QResource>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

const QList<int> kHicolorSizes{16, 24, 32, 48, 64, 256, 512};

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString committed(const QString& file)
{
    return QStringLiteral(CHRONOLUME_IMAGES_DIR "/") + file;
}

} // namespace

class ResourcesTest : public QObject
{
    Q_OBJECT

private slots:
    // The drawing program draws exactly the committed pictures, no more: a picture drawn but
    // never committed would be missing from the build, one committed but no longer drawn would
    // silently drift from the artwork.
    void committedPicturesAreDrawn()
    {
        QTemporaryDir redrawn;
        QVERIFY(redrawn.isValid());
        QCOMPARE(QProcess::execute(QStringLiteral(CHRONOLUME_DRAWIMAGES), {redrawn.path()}), 0);

        QStringList expected{QStringLiteral("check_update.xpm"), QStringLiteral("chronolume.ico"),
                             QStringLiteral("chronolume.png"), QStringLiteral("helpHelp.xpm")};
        for (const int size : kHicolorSizes)
            expected << QStringLiteral("hicolor/chronolume-%1.png").arg(size);
        QStringList drawn;
        QDirIterator it(redrawn.path(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            drawn << QDir(redrawn.path()).relativeFilePath(it.next());
        expected.sort();
        drawn.sort();
        QCOMPARE(drawn, expected);
        for (const QString& file : std::as_const(drawn))
            QVERIFY2(fileBytes(committed(file)) == fileBytes(redrawn.filePath(file)),
                     qPrintable(file + QStringLiteral(" is not what the drawing program draws")));
    }

    // Only these three: no quit picture, nor the Windows icon or the drawing program beside them.
    void listing()
    {
        QCOMPARE(QDir(QStringLiteral(":/images")).entryList(),
                 (QStringList{QStringLiteral("check_update.xpm"), QStringLiteral("chronolume.png"),
                              QStringLiteral("helpHelp.xpm")}));
    }

    void embedded_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QResource::Compression>("compression");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSet<QRgb>>("colours");

        // The PNG is already deflated and stored as it is; the XPM text is stored with zlib. An
        // XPM holds exactly the colours of its table, each used, and no blended pixels (0 is
        // clear); the shaded icon's look is checked with the desktop's.
        QTest::newRow("icon, 8-bit RGBA PNG")
            << QStringLiteral(":/images/chronolume.png") << QResource::NoCompression
            << QByteArray("\x89PNG\r\n\x1a\n"    // signature
                          "\0\0\0\x0dIHDR"       // first chunk: 13 bytes of image header
                          "\0\0\0\x80\0\0\0\x80" // width and height 128
                          "\x08\x06",            // 8 bits a channel, truecolour with alpha
                          26)
            << QSize(128, 128) << QSet<QRgb>{};
        QTest::newRow("check update")
            << QStringLiteral(":/images/check_update.xpm") << QResource::ZlibCompression
            << QByteArray("/* XPM */") << QSize(32, 32) << QSet<QRgb>{0, 0xff00ff00, 0xff333333};
        QTest::newRow("help") << QStringLiteral(":/images/helpHelp.xpm")
                              << QResource::ZlibCompression << QByteArray("/* XPM */")
                              << QSize(32, 32) << QSet<QRgb>{0, 0xff000000};
    }

    void embedded()
    {
        QFETCH(QString, path);
        QFETCH(QResource::Compression, compression);
        QFETCH(QByteArray, start);
        QFETCH(QSize, size);
        QFETCH(QSet<QRgb>, colours);

        QCOMPARE(QResource(path).compressionAlgorithm(), compression);
        QVERIFY(fileBytes(path).startsWith(start));
        const QImage image = QImage(path).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), size);
        if (colours.isEmpty())
            return;
        QSet<QRgb> found;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                found << (qAlpha(image.pixel(x, y)) ? image.pixel(x, y) : 0);
        QCOMPARE(found, colours);
    }

    // The diamond on a clear square, violet-blue at the upper left and red at the lower right:
    // the embedded icon and the desktop's, each at the size its name gives.
    void icons_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("size");
        QTest::newRow("embedded") << QStringLiteral(":/images/chronolume.png") << 128;
        for (const int size : kHicolorSizes)
            QTest::newRow(qPrintable(QStringLiteral("hicolor %1").arg(size)))
                << committed(QStringLiteral("hicolor/chronolume-%1.png").arg(size)) << size;
    }

    void icons()
    {
        QFETCH(QString, path);
        QFETCH(int, size);
        const QImage icon(path);
        QCOMPARE(icon.size(), QSize(size, size));
        QCOMPARE(icon.format(), QImage::Format_ARGB32);

        // Points in 128ths of the side, 128 being the last pixel: the corners and beyond a
        // sloping edge, near the left corner and on the upper-left face, on the lower-right face
        // and near the right corner.
        QStringList looks;
        for (const QPoint point : {QPoint(0, 0), QPoint(128, 128), QPoint(20, 20), QPoint(12, 64),
                                   QPoint(48, 48), QPoint(80, 80), QPoint(115, 64)}) {
            const QRgb colour = icon.pixel(std::min(point.x() * size / 128, size - 1),
                                           std::min(point.y() * size / 128, size - 1));
            looks << (qAlpha(colour) == 0            ? "clear"
                      : qAlpha(colour) < 255         ? "blended"
                      : qBlue(colour) > qRed(colour) ? "blue"
                                                     : "red");
        }
        QCOMPARE(looks.join(QLatin1Char(' ')),
                 QStringLiteral("clear clear clear blue blue red red"));
    }

    void windowsResources()
    {
        // Icon directory: reserved 0, type 1 (icon), ten images; then 16 bytes for each, width
        // first (0 for 256) and bits per pixel at 6.
        const QByteArray ico = fileBytes(committed(QStringLiteral("chronolume.ico")));
        QVERIFY(ico.startsWith(QByteArray("\0\0\1\0\x0a\0", 6)) && ico.size() > 6 + 160);
        QStringList entries;
        for (int at = 6; at < 6 + 160; at += 16)
            entries << QStringLiteral("%1@%2")
                           .arg(quint8(ico[at]) ? quint8(ico[at]) : 256)
                           .arg(quint8(ico[at + 6]));
        QCOMPARE(entries.join(QLatin1Char(' ')),
                 QStringLiteral("16@4 16@8 16@32 32@4 32@8 32@32 48@4 48@8 48@32 256@32"));

        const QByteArray rc = fileBytes(committed(QStringLiteral("chronolume.rc")));
        for (const char* line :
             {"IDI_ICON1 ICON \"chronolume.ico\"", "FILEVERSION 1,0,2,0", "PRODUCTVERSION 1,0,2,0",
              "VALUE \"ProductName\", \"Chronolume\"", "VALUE \"ProductVersion\", \"1.0.2.0\""})
            QVERIFY2(rc.contains(line), line);
    }
};

QTEST_MAIN(ResourcesTest)
#include "tst_resources.moc"
