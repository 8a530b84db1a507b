// Draws every picture that Chronolume embeds or installs, so that they can be redrawn instead of
// hand-edited:
//   chronolume.png    the window icon and About picture: a diamond shaded violet-blue to red
//   chronolume.ico    the same diamond for the Windows executable (16, 32, 48 px at 4, 8 and
//                     32 bits per pixel, and 256 px as PNG)
//   hicolor/chronolume-<size>.png
//                     the same diamond for the desktop's menu and task bar, one per size of the
//                     freedesktop hicolor icon theme that the installation fills (but 128 px,
//                     which is chronolume.png)
//   check_update.xpm  the "check for updates" action: radio waves around a mast
//   helpHelp.xpm      the help action: a question mark
//
// This program is not part of the Chronolume build (tst_resources builds it to check that the
// committed files are what it draws). To redraw, from the repository root:
//   cmake -S images/draw -B /tmp/draw-build
//   cmake --build /tmp/draw-build
//   /tmp/draw-build/drawimages images
// With the same Qt the output is byte for byte the same, so rerunning it on an unchanged drawing
// leaves the files as they are. No text is drawn, so no fonts and no QGuiApplication are needed.

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRadialGradient>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// The diamond

// The sizes installed into the hicolor icon theme (packaging/CMakeLists.txt installs the same).
// 128 px is chronolume.png itself.
constexpr int kHicolorSizes[] = {16, 24, 32, 48, 64, 256, 512};

QPainterPath diamondPath(qreal size, qreal inset)
{
    QPainterPath path;
    path.moveTo(size / 2, inset);
    path.lineTo(size - inset, size / 2);
    path.lineTo(size / 2, size - inset);
    path.lineTo(inset, size / 2);
    path.closeSubpath();
    return path;
}

// Draws the diamond at its final pixel size rather than scaling one large picture down, so that
// the small Windows icons keep crisp edges. Returns straight (not premultiplied) ARGB.
QImage drawDiamond(int size)
{
    const qreal s = size;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath outline = diamondPath(s, 0);

    // The shading runs across the diamond from its upper-left edge to its lower-right edge.
    // The middle stop keeps the blend saturated; a straight blue-to-red mix turns muddy.
    QLinearGradient face(s / 4, s / 4, 3 * s / 4, 3 * s / 4);
    face.setColorAt(0.0, QColor(0x4a, 0x3c, 0xf0));
    face.setColorAt(0.5, QColor(0xa6, 0x36, 0xd2));
    face.setColorAt(1.0, QColor(0xf0, 0x2a, 0x3a));
    painter.fillPath(outline, face);

    painter.setClipPath(outline);

    // A cut stone: a bevel of four facets around a flat top, lit from the upper left. Each facet
    // only lightens or darkens the gradient beneath it, so the shading still runs blue to red.
    const qreal bevel = s * 0.17;
    const QPointF top(s / 2, 0), right(s, s / 2), bottom(s / 2, s), left(0, s / 2);
    const QPointF innerTop(s / 2, bevel), innerRight(s - bevel, s / 2),
        innerBottom(s / 2, s - bevel), innerLeft(bevel, s / 2);
    const struct
    {
        QPolygonF facet;
        QColor overlay;
    } facets[] = {
        {QPolygonF({left, top, innerTop, innerLeft}), QColor(255, 255, 255, 70)},
        {QPolygonF({top, right, innerRight, innerTop}), QColor(255, 255, 255, 22)},
        {QPolygonF({left, innerLeft, innerBottom, bottom}), QColor(0, 0, 0, 22)},
        {QPolygonF({right, bottom, innerBottom, innerRight}), QColor(0, 0, 0, 60)},
    };
    painter.setPen(Qt::NoPen);
    if (size >= 32) { // at 16 px the facets would only smear the gradient
        for (const auto& f : facets) {
            painter.setBrush(f.overlay);
            painter.drawPolygon(f.facet);
        }
    }

    // A soft glint on the flat top.
    QRadialGradient light(QPointF(s * 0.40, s * 0.36), s * 0.34);
    light.setColorAt(0.0, QColor(255, 255, 255, 60));
    light.setColorAt(1.0, QColor(255, 255, 255, 0));
    painter.setBrush(light);
    painter.drawPath(diamondPath(s, bevel));
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// ---------------------------------------------------------------------------------------------
// The two action pictures. An XPM holds a small colour table, so these use only their named
// colours and no blended edge pixels. Qt's aliased rasteriser is not mirror-symmetric for small
// arcs and circles, so each colour is painted anti-aliased into its own layer and every pixel
// that layer covers at least half is then set to that colour.

const QColor kWaveGreen(0x00, 0xff, 0x00);
const QColor kMastGrey(0x33, 0x33, 0x33);
const QColor kInk(0x00, 0x00, 0x00);

// Coverage of one layer, in the alpha channel of a 32 x 32 image.
class Layer
{
public:
    Layer() : m_image(32, 32, QImage::Format_ARGB32_Premultiplied)
    {
        m_image.fill(Qt::transparent);
        m_painter.begin(&m_image);
        m_painter.setRenderHint(QPainter::Antialiasing);
    }
    QPainter& painter() { return m_painter; }
    const QImage& finish()
    {
        m_painter.end();
        return m_image;
    }

private:
    QImage m_image;
    QPainter m_painter;
};

// Flattens layers, later ones on top, into a picture of pure colours on a clear background.
QImage snapLayers(const std::vector<std::pair<QImage, QColor>>& layers)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (const auto& [coverage, colour] : layers) {
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (qAlpha(coverage.pixel(x, y)) >= 128)
                    image.setPixel(x, y, colour.rgb());
            }
        }
    }
    return image;
}

QImage drawCheckUpdate()
{
    // The waves spread from the tip of the mast. x = 16 is the picture's middle line.
    const QPointF tip(16, 11);

    Layer waves;
    waves.painter().setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::FlatCap));
    // Each wave spans 84 degrees on either side; Qt counts angles in 1/16 degree.
    const int span = 84 * 16;
    for (const qreal radius : {5.5, 9.5, 13.5}) {
        const QRectF ring(tip.x() - radius, tip.y() - radius, 2 * radius, 2 * radius);
        waves.painter().drawArc(ring, -42 * 16, span);
        waves.painter().drawArc(ring, 138 * 16, span);
    }

    // A mast widening towards its foot, on a base, with a round top.
    Layer mast;
    mast.painter().setPen(Qt::NoPen);
    mast.painter().setBrush(Qt::black);
    mast.painter().drawPolygon(
        QPolygonF({QPointF(15, 12), QPointF(17, 12), QPointF(19.5, 30), QPointF(12.5, 30)}));
    mast.painter().drawRect(QRectF(10, 30, 12, 2));
    mast.painter().drawEllipse(tip, 2.0, 2.0);

    return snapLayers({{waves.finish(), kWaveGreen}, {mast.finish(), kMastGrey}});
}

QImage drawQuestionMark()
{
    Layer mark;
    QPainter& painter = mark.painter();

    // The hook: from the left, over the top and down the right, then curving in to the stem.
    const QPointF centre(16, 10);
    const qreal radius = 6.5;
    const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    QPainterPath hook;
    hook.arcMoveTo(circle, 180);
    hook.arcTo(circle, 180, -225);
    hook.cubicTo(QPointF(18.2, 16.2), QPointF(16, 16.5), QPointF(16, 19.5));
    hook.lineTo(16, 20.5);
    painter.setPen(QPen(Qt::black, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(hook);

    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawEllipse(QPointF(16, 26.5), 2.5, 2.5);

    return snapLayers({{mark.finish(), kInk}});
}

// ---------------------------------------------------------------------------------------------
// Writers

struct XpmColour
{
    char key;
    const char* definition; // as written in the colour table
    QRgb rgb;               // opaque colour, ignored for "None"
    bool none;
};

// Writes the XPM text directly, so the colour table holds exactly the given colours in the given
// order and the array gets a C name derived from the picture's name.
bool writeXpm(const QString& path, const QByteArray& name, const QImage& image,
              const std::vector<XpmColour>& colours)
{
    std::vector<bool> used(colours.size(), false);
    QByteArray rows;
    for (int y = 0; y < image.height(); ++y) {
        rows += '"';
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            bool found = false;
            for (std::size_t i = 0; i < colours.size() && !found; ++i) {
                const XpmColour& c = colours[i];
                const bool match = c.none ? qAlpha(pixel) == 0
                                          : qAlpha(pixel) == 255 && qRgb(qRed(pixel), qGreen(pixel),
                                                                         qBlue(pixel)) == c.rgb;
                if (match) {
                    rows += c.key;
                    used[i] = true;
                    found = true;
                }
            }
            if (!found) {
                std::fprintf(stderr, "%s: pixel %d,%d has colour #%08x, not in its colour table\n",
                             qPrintable(path), x, y, pixel);
                return false;
            }
        }
        rows += y + 1 < image.height() ? "\",\n" : "\"\n";
    }
    for (std::size_t i = 0; i < colours.size(); ++i) {
        if (!used[i]) {
            std::fprintf(stderr, "%s: colour %s is never used\n", qPrintable(path),
                         colours[i].definition);
            return false;
        }
    }

    QByteArray text = "/* XPM */\nstatic const char *const " + name + "[] = {\n";
    text += '"' + QByteArray::number(image.width()) + ' ' + QByteArray::number(image.height()) +
            ' ' + QByteArray::number(qsizetype(colours.size())) + " 1\",\n";
    for (const XpmColour& c : colours)
        text += '"' + QByteArray(1, c.key) + " c " + c.definition + "\",\n";
    text += rows + "};\n";

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

void putLe16(QByteArray& out, quint32 value)
{
    out += char(value & 0xff);
    out += char((value >> 8) & 0xff);
}

void putLe32(QByteArray& out, quint32 value)
{
    putLe16(out, value & 0xffff);
    putLe16(out, value >> 16);
}

// Pixels at least half covered count as part of the icon in the entries without an alpha channel.
bool opaqueEnough(QRgb pixel)
{
    return qAlpha(pixel) >= 128;
}

int channel(QRgb pixel, int which)
{
    return which == 0 ? qRed(pixel) : which == 1 ? qGreen(pixel) : qBlue(pixel);
}

// Median cut: repeatedly halves the group of colours with the widest spread in one channel,
// then takes each group's mean. Good enough for a smooth two-dimensional gradient.
std::vector<QRgb> medianCutPalette(std::vector<QRgb> pixels, int count)
{
    std::vector<std::vector<QRgb>> boxes;
    boxes.push_back(std::move(pixels));
    while (int(boxes.size()) < count) {
        int best = -1;
        int bestChannel = 0;
        int bestRange = 0;
        for (int i = 0; i < int(boxes.size()); ++i) {
            for (int ch = 0; ch < 3; ++ch) {
                const auto [lo, hi] =
                    std::minmax_element(boxes[i].begin(), boxes[i].end(), [ch](QRgb a, QRgb b) {
                        return channel(a, ch) < channel(b, ch);
                    });
                const int range = channel(*hi, ch) - channel(*lo, ch);
                if (range > bestRange) {
                    best = i;
                    bestChannel = ch;
                    bestRange = range;
                }
            }
        }
        if (best < 0)
            break; // fewer distinct colours than palette entries
        std::vector<QRgb>& box = boxes[best];
        std::stable_sort(box.begin(), box.end(), [bestChannel](QRgb a, QRgb b) {
            return channel(a, bestChannel) < channel(b, bestChannel);
        });
        const auto middle = box.begin() + std::ptrdiff_t(box.size() / 2);
        std::vector<QRgb> upper(middle, box.end());
        box.erase(middle, box.end());
        boxes.push_back(std::move(upper));
    }

    std::vector<QRgb> palette;
    for (const std::vector<QRgb>& box : boxes) {
        std::array<quint64, 3> sum{};
        for (const QRgb pixel : box) {
            for (int ch = 0; ch < 3; ++ch)
                sum[std::size_t(ch)] += quint64(channel(pixel, ch));
        }
        const quint64 n = box.size();
        palette.push_back(
            qRgb(int((sum[0] + n / 2) / n), int((sum[1] + n / 2) / n), int((sum[2] + n / 2) / n)));
    }
    return palette;
}

int nearestIndex(const std::vector<QRgb>& palette, QRgb pixel, int first)
{
    int best = first;
    int bestDistance = 1 << 30;
    for (int i = first; i < int(palette.size()); ++i) {
        const int dr = qRed(palette[std::size_t(i)]) - qRed(pixel);
        const int dg = qGreen(palette[std::size_t(i)]) - qGreen(pixel);
        const int db = qBlue(palette[std::size_t(i)]) - qBlue(pixel);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

// One icon image as a device-independent bitmap: BITMAPINFOHEADER (height counted twice, for
// the colour bitmap and the mask), palette if indexed, colour rows bottom-up, then the 1-bit AND
// mask that hides the background where the icon has no alpha channel.
QByteArray dibIconImage(const QImage& art, int bitsPerPixel)
{
    const int size = art.width();
    const int colourStride = (size * bitsPerPixel + 31) / 32 * 4;
    const int maskStride = (size + 31) / 32 * 4;

    QByteArray out;
    putLe32(out, 40);
    putLe32(out, quint32(size));
    putLe32(out, quint32(2 * size));
    putLe16(out, 1);
    putLe16(out, quint32(bitsPerPixel));
    putLe32(out, 0); // BI_RGB
    putLe32(out, quint32((colourStride + maskStride) * size));
    putLe32(out, 0);
    putLe32(out, 0);
    putLe32(out, 0); // palette has the full 2^bits entries
    putLe32(out, 0);

    std::vector<QRgb> palette;
    if (bitsPerPixel <= 8) {
        std::vector<QRgb> colours;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                if (opaqueEnough(art.pixel(x, y)))
                    colours.push_back(art.pixel(x, y) | 0xff000000u);
            }
        }
        // Entry 0 stays black: masked pixels must be black for the AND/XOR drawing to leave
        // the background untouched.
        const int entries = 1 << bitsPerPixel;
        palette.push_back(qRgb(0, 0, 0));
        for (const QRgb c : medianCutPalette(std::move(colours), entries - 1))
            palette.push_back(c);
        palette.resize(std::size_t(entries), qRgb(0, 0, 0));
        for (const QRgb c : palette) {
            out += char(qBlue(c));
            out += char(qGreen(c));
            out += char(qRed(c));
            out += char(0);
        }
    }

    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(colourStride, '\0');
        for (int x = 0; x < size; ++x) {
            const QRgb pixel = art.pixel(x, y);
            if (bitsPerPixel == 32) {
                const bool clear = qAlpha(pixel) == 0;
                row[4 * x] = char(clear ? 0 : qBlue(pixel));
                row[4 * x + 1] = char(clear ? 0 : qGreen(pixel));
                row[4 * x + 2] = char(clear ? 0 : qRed(pixel));
                row[4 * x + 3] = char(qAlpha(pixel));
                continue;
            }
            const int index = opaqueEnough(pixel) ? nearestIndex(palette, pixel, 1) : 0;
            if (bitsPerPixel == 8) {
                row[x] = char(index);
            } else {
                const int shift = x % 2 == 0 ? 4 : 0;
                row[x / 2] = char(row[x / 2] | (index << shift));
            }
        }
        out += row;
    }

    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < size; ++x) {
            if (!opaqueEnough(art.pixel(x, y)))
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
        out += row;
    }
    return out;
}

QByteArray pngBytes(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        bytes.clear();
    return bytes;
}

bool writeIco(const QString& path)
{
    struct Entry
    {
        int size;
        int bitsPerPixel;
        QByteArray data;
    };
    std::vector<Entry> entries;
    for (const int size : {16, 32, 48}) {
        const QImage art = drawDiamond(size);
        for (const int bits : {4, 8, 32})
            entries.push_back({size, bits, dibIconImage(art, bits)});
    }
    // Windows Vista and later read a PNG-compressed image; 256 px as a bitmap would cost 256 KiB.
    entries.push_back({256, 32, pngBytes(drawDiamond(256))});
    if (entries.back().data.isEmpty()) {
        std::fprintf(stderr, "cannot encode the 256 px icon image\n");
        return false;
    }

    QByteArray out;
    putLe16(out, 0);
    putLe16(out, 1); // icon, not cursor
    putLe16(out, quint32(entries.size()));
    quint32 offset = quint32(6 + 16 * entries.size());
    for (const Entry& e : entries) {
        out += char(e.size >= 256 ? 0 : e.size); // 0 means 256
        out += char(e.size >= 256 ? 0 : e.size);
        out += char(e.bitsPerPixel == 4 ? 16 : 0); // palette entries, 0 when 256 or more
        out += char(0);
        putLe16(out, 1);
        putLe16(out, quint32(e.bitsPerPixel));
        putLe32(out, quint32(e.data.size()));
        putLe32(out, offset);
        offset += quint32(e.data.size());
    }
    for (const Entry& e : entries)
        out += e.data;

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(out) != out.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output directory>\n", argc > 0 ? argv[0] : "drawimages");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.exists()) {
        std::fprintf(stderr, "no such directory: %s\n", argv[1]);
        return 2;
    }

    bool ok = true;
    const QString png = dir.filePath(QStringLiteral("chronolume.png"));
    // Format_ARGB32 is written as 8-bit RGBA (PNG colour type 6).
    if (!drawDiamond(128).save(png, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(png));
        ok = false;
    }
    ok = writeIco(dir.filePath(QStringLiteral("chronolume.ico"))) && ok;
    // Each size drawn at its own pixel size, like the Windows icons, so the menu's small icons
    // stay crisp. The installation names them after the application id, which a packager
    // chooses, so the files here carry only the size.
    if (!dir.mkpath(QStringLiteral("hicolor"))) {
        std::fprintf(stderr, "cannot make %s/hicolor\n", argv[1]);
        ok = false;
    }
    for (const int size : kHicolorSizes) {
        const QString path = dir.filePath(QStringLiteral("hicolor/chronolume-%1.png").arg(size));
        if (!drawDiamond(size).save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ok = false;
        }
    }
    ok = writeXpm(dir.filePath(QStringLiteral("check_update.xpm")), "check_update_xpm",
                  drawCheckUpdate(),
                  {{' ', "None", 0, true},
                   {'.', "#00FF00", kWaveGreen.rgb(), false},
                   {'#', "#333333", kMastGrey.rgb(), false}}) &&
         ok;
    ok = writeXpm(dir.filePath(QStringLiteral("helpHelp.xpm")), "helpHelp_xpm", drawQuestionMark(),
                  {{' ', "None", 0, true}, {'#', "#000000", kInk.rgb(), false}}) &&
         ok;
    return ok ? 0 : 1;
}
