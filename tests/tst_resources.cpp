// Checks the pictures that chronolume_images embeds under ":/images": that they are registered
// without any Q_INIT_RESOURCE, that each one decodes to the expected picture, and that each is
// stored with the intended compression.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QList>
#include <QMap>
#include <QRegularExpression>
#include <QResource>
#include <QStringList>
#include <QTest>

#include <algorithm>

namespace {

QByteArray resourceBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

quint32 bigEndian32(const QByteArray& bytes, int offset)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | quint8(bytes.at(offset + i));
    return value;
}

// The key under which a pixel is counted: every fully transparent pixel is the same "colour".
constexpr QRgb kClear = 0x00000000;

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void entries_data();
    void entries();
    void absentEntries_data();
    void absentEntries();
    void directoryListing();
    void iconFileFormat();
    void iconCoverage_data();
    void iconCoverage();
    void iconShading_data();
    void iconShading();
    void pictureColours_data();
    void pictureColours();
};

void TestResources::entries_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QResource::Compression>("compression");

    // The PNG is already deflated; the XPM text compresses well and is stored with zlib.
    QTest::newRow("icon") << QStringLiteral(":/images/chronolume.png") << QSize(128, 128)
                          << QResource::NoCompression;
    QTest::newRow("check update") << QStringLiteral(":/images/check_update.xpm") << QSize(32, 32)
                                  << QResource::ZlibCompression;
    QTest::newRow("help") << QStringLiteral(":/images/helpHelp.xpm") << QSize(32, 32)
                          << QResource::ZlibCompression;
}

void TestResources::entries()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(QResource::Compression, compression);

    const QResource resource(path);
    QVERIFY2(resource.isValid(), qPrintable(path));
    QVERIFY(QFile::exists(path));
    QCOMPARE(resource.compressionAlgorithm(), compression);
    QVERIFY(resource.uncompressedSize() > 0);

    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
    // All three have a clear background.
    QVERIFY(image.hasAlphaChannel());
}

void TestResources::absentEntries_data()
{
    QTest::addColumn<QString>("path");

    QTest::newRow("quit picture") << QStringLiteral(":/images/quit.xpm");
    // Only the embedded pictures belong in the collection, not the Windows icon or the
    // drawing program that lives beside them.
    QTest::newRow("windows icon") << QStringLiteral(":/images/chronolume.ico");
    QTest::newRow("drawing program") << QStringLiteral(":/images/draw");
}

void TestResources::absentEntries()
{
    QFETCH(QString, path);

    QVERIFY2(!QResource(path).isValid(), qPrintable(path));
    QVERIFY2(!QFile::exists(path), qPrintable(path));
}

void TestResources::directoryListing()
{
    const QDir dir(QStringLiteral(":/images"));
    QVERIFY(dir.exists());
    QStringList names =
        dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    std::sort(names.begin(), names.end());
    const QStringList expected = {QStringLiteral("check_update.xpm"),
                                  QStringLiteral("chronolume.png"), QStringLiteral("helpHelp.xpm")};
    QCOMPARE(names, expected);
}

void TestResources::iconFileFormat()
{
    // 8-bit RGBA: anything else (palette, 16-bit, no alpha) looks wrong or bloats the program.
    const QByteArray png = resourceBytes(QStringLiteral(":/images/chronolume.png"));
    QVERIFY(png.size() > 33);
    QCOMPARE(png.left(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
    QCOMPARE(png.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(bigEndian32(png, 16), 128u);
    QCOMPARE(bigEndian32(png, 20), 128u);
    QCOMPARE(int(quint8(png.at(24))), 8); // bit depth
    QCOMPARE(int(quint8(png.at(25))), 6); // colour type: truecolour with alpha

    QCOMPARE(QImage(QStringLiteral(":/images/chronolume.png")).format(), QImage::Format_ARGB32);
}

void TestResources::iconCoverage_data()
{
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<bool>("opaque");

    // The diamond's corners touch the middle of each side of the picture.
    QTest::newRow("top-left corner") << QPoint(0, 0) << false;
    QTest::newRow("top-right corner") << QPoint(127, 0) << false;
    QTest::newRow("bottom-left corner") << QPoint(0, 127) << false;
    QTest::newRow("bottom-right corner") << QPoint(127, 127) << false;
    // Outside each sloping edge: the picture is a diamond, not a square.
    QTest::newRow("beyond upper-left edge") << QPoint(20, 20) << false;
    QTest::newRow("beyond upper-right edge") << QPoint(107, 20) << false;
    QTest::newRow("beyond lower-left edge") << QPoint(20, 107) << false;
    QTest::newRow("beyond lower-right edge") << QPoint(107, 107) << false;
    QTest::newRow("centre") << QPoint(64, 64) << true;
    QTest::newRow("near top corner") << QPoint(64, 8) << true;
    QTest::newRow("near right corner") << QPoint(119, 64) << true;
    QTest::newRow("near bottom corner") << QPoint(64, 119) << true;
    QTest::newRow("near left corner") << QPoint(8, 64) << true;
}

void TestResources::iconCoverage()
{
    QFETCH(QPoint, pixel);
    QFETCH(bool, opaque);

    const QImage icon =
        QImage(QStringLiteral(":/images/chronolume.png")).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!icon.isNull());
    QCOMPARE(qAlpha(icon.pixel(pixel)), opaque ? 255 : 0);
}

void TestResources::iconShading_data()
{
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<bool>("blueSide");

    // Shaded along the diagonal: violet-blue at the upper left, red at the lower right.
    QTest::newRow("upper-left bevel") << QPoint(36, 36) << true;
    QTest::newRow("upper-left of the face") << QPoint(50, 50) << true;
    QTest::newRow("left corner") << QPoint(12, 64) << true;
    QTest::newRow("lower-right of the face") << QPoint(80, 80) << false;
    QTest::newRow("lower-right bevel") << QPoint(92, 92) << false;
    QTest::newRow("right corner") << QPoint(115, 64) << false;
}

void TestResources::iconShading()
{
    QFETCH(QPoint, pixel);
    QFETCH(bool, blueSide);

    const QImage icon =
        QImage(QStringLiteral(":/images/chronolume.png")).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!icon.isNull());
    const QRgb colour = icon.pixel(pixel);
    QCOMPARE(qAlpha(colour), 255);
    const QByteArray where =
        QByteArray::number(qRed(colour)) + " red, " + QByteArray::number(qBlue(colour)) + " blue";
    if (blueSide)
        QVERIFY2(qBlue(colour) > qRed(colour), where.constData());
    else
        QVERIFY2(qRed(colour) > qBlue(colour), where.constData());
}

void TestResources::pictureColours_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("table");
    QTest::addColumn<QList<QRgb>>("colours");

    // Each picture uses exactly the colours of its table, each at least once, and no blended
    // (anti-aliased) pixels.
    QTest::newRow("check update") << QStringLiteral(":/images/check_update.xpm")
                                  << QStringList{QStringLiteral("None"), QStringLiteral("#00FF00"),
                                                 QStringLiteral("#333333")}
                                  << QList<QRgb>{kClear, 0xff00ff00, 0xff333333};
    QTest::newRow("help") << QStringLiteral(":/images/helpHelp.xpm")
                          << QStringList{QStringLiteral("None"), QStringLiteral("#000000")}
                          << QList<QRgb>{kClear, 0xff000000};
}

void TestResources::pictureColours()
{
    QFETCH(QString, path);
    QFETCH(QStringList, table);
    QFETCH(QList<QRgb>, colours);

    // The colour table as written: "<width> <height> <colours> <chars per pixel>", then one
    // string per colour.
    const QByteArray xpm = resourceBytes(path);
    QVERIFY(xpm.startsWith("/* XPM */"));
    QStringList strings;
    const QRegularExpression quoted(QStringLiteral("\"([^\"]*)\""));
    for (const QRegularExpressionMatch& m : quoted.globalMatch(QString::fromLatin1(xpm)))
        strings << m.captured(1);
    QVERIFY(!strings.isEmpty());
    const QStringList header = strings.first().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QCOMPARE(header.size(), 4);
    QCOMPARE(header.at(0), QStringLiteral("32"));
    QCOMPARE(header.at(1), QStringLiteral("32"));
    QCOMPARE(header.at(2).toInt(), table.size());
    const int charsPerPixel = header.at(3).toInt();
    QVERIFY(charsPerPixel >= 1);
    QCOMPARE(strings.size(), 1 + table.size() + 32);
    QStringList written;
    const QRegularExpression colourKey(QStringLiteral("(?:^|\\s)c\\s+(\\S+)"));
    for (int i = 1; i <= table.size(); ++i) {
        const QRegularExpressionMatch m = colourKey.match(strings.at(i).mid(charsPerPixel));
        QVERIFY2(m.hasMatch(), qPrintable(strings.at(i)));
        written << m.captured(1).toUpper();
    }
    QStringList expectedTable;
    for (const QString& spec : table)
        expectedTable << spec.toUpper();
    written.sort();
    expectedTable.sort();
    QCOMPARE(written, expectedTable);

    // The decoded picture.
    const QImage image = QImage(path).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!image.isNull());
    QMap<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            QVERIFY2(qAlpha(pixel) == 0 || qAlpha(pixel) == 255,
                     qPrintable(QStringLiteral("blended pixel at %1,%2").arg(x).arg(y)));
            ++counts[qAlpha(pixel) == 0 ? kClear : pixel];
        }
    }
    QList<QRgb> found = counts.keys();
    std::sort(found.begin(), found.end());
    std::sort(colours.begin(), colours.end());
    QCOMPARE(found, colours);
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
