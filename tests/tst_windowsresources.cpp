// The Windows executable's own resources, checked here where they are made: the icon group's
// images (each size at each colour depth, and the large one) and the version information.
// Windows reads them; nothing in the program does, so nothing else would notice a wrong one.
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QtTest>

namespace {

QByteArray sourceFile(const char* name)
{
    QFile file(QStringLiteral(CHRONOLUME_IMAGES_DIR "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

quint32 littleEndian(const QByteArray& bytes, qsizetype offset, int size)
{
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(offset + i));
    return value;
}

struct IconEntry
{
    int size;     // pixels, square
    int bitCount; // bits per pixel
};

bool operator==(const IconEntry& a, const IconEntry& b)
{
    return a.size == b.size && a.bitCount == b.bitCount;
}

} // namespace

namespace QTest {
template <> char* toString(const IconEntry& entry)
{
    return qstrdup(QByteArray::number(entry.size) + " px at " + QByteArray::number(entry.bitCount) +
                   " bpp");
}
} // namespace QTest

class WindowsResourcesTest : public QObject
{
    Q_OBJECT

private slots:
    void iconDirectory()
    {
        // ICONDIR: reserved 0, type 1 (icon), count; then one 16-byte ICONDIRENTRY each.
        const QByteArray ico = sourceFile("chronolume.ico");
        QVERIFY(ico.size() > 6);
        QCOMPARE(littleEndian(ico, 0, 2), 0u);
        QCOMPARE(littleEndian(ico, 2, 2), 1u);
        const int count = int(littleEndian(ico, 4, 2));

        QList<IconEntry> entries;
        for (int i = 0; i < count; ++i) {
            const qsizetype at = 6 + 16 * i;
            QVERIFY(ico.size() >= at + 16);
            const int width = quint8(ico.at(at)) ? quint8(ico.at(at)) : 256; // 0 means 256
            const int height = quint8(ico.at(at + 1)) ? quint8(ico.at(at + 1)) : 256;
            QCOMPARE(width, height);
            const quint32 bytes = littleEndian(ico, at + 8, 4);
            const quint32 offset = littleEndian(ico, at + 12, 4);
            QVERIFY(offset + bytes <= quint32(ico.size()));
            entries.append({width, int(littleEndian(ico, at + 6, 2))});
        }
        // 16, 32 and 48 pixels at 4, 8 and 32 bits per pixel, and 256 pixels at 32.
        const QList<IconEntry> expected = {{16, 4},  {16, 8}, {16, 32}, {32, 4},  {32, 8},
                                           {32, 32}, {48, 4}, {48, 8},  {48, 32}, {256, 32}};
        QCOMPARE(entries, expected);
    }

    void iconImagesShowTheDiamond()
    {
        QByteArray ico = sourceFile("chronolume.ico");
        QBuffer buffer(&ico);
        QImageReader reader(&buffer, "ico");
        QCOMPARE(reader.imageCount(), 10);
        for (int i = 0; i < reader.imageCount(); ++i) {
            QVERIFY(reader.jumpToImage(i));
            const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
            QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
            const int s = image.width();
            const QByteArray where = QByteArray::number(s) + " px, image " + QByteArray::number(i);
            // Clear in the corners, solid in the middle.
            QVERIFY2(qAlpha(image.pixel(0, 0)) == 0, where.constData());
            QVERIFY2(qAlpha(image.pixel(s - 1, s - 1)) == 0, where.constData());
            QVERIFY2(qAlpha(image.pixel(s / 2, s / 2)) == 255, where.constData());
            // Violet-blue at the upper left of the face, red at the lower right.
            const QRgb upperLeft = image.pixel(s * 3 / 8, s * 3 / 8);
            const QRgb lowerRight = image.pixel(s * 5 / 8, s * 5 / 8);
            QVERIFY2(qBlue(upperLeft) > qRed(upperLeft), where.constData());
            QVERIFY2(qRed(lowerRight) > qBlue(lowerRight), where.constData());
        }
    }

    void versionInformation()
    {
        const QString rc = QString::fromLatin1(sourceFile("chronolume.rc"));
        QVERIFY(!rc.isEmpty());
        QVERIFY(rc.contains(
            QRegularExpression(QStringLiteral("^IDI_ICON1\\s+ICON\\s+\"chronolume.ico\"\\s*$"),
                               QRegularExpression::MultilineOption)));
        for (const char* key : {"FILEVERSION", "PRODUCTVERSION"}) {
            QVERIFY2(rc.contains(QRegularExpression(
                         QStringLiteral("^%1\\s+1,0,2,0\\s*$").arg(QLatin1String(key)),
                         QRegularExpression::MultilineOption)),
                     key);
        }
        for (const char* value :
             {"VALUE \"ProductName\", \"Chronolume\"", "VALUE \"FileVersion\", \"1.0.2.0\"",
              "VALUE \"ProductVersion\", \"1.0.2.0\""})
            QVERIFY2(rc.contains(QLatin1String(value)), value);
    }
};

QTEST_GUILESS_MAIN(WindowsResourcesTest)
#include "tst_windowsresources.moc"
