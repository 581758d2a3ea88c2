// Draws the application's artwork: lock and refresh icons, the maker's logo,
// the splash screen and the application icon (PNG and Windows .ico).
//
//   usbsynth-imagegen [--preview DIR] [OUTDIR]
//
// OUTDIR (default ".") receives the files at the paths the resource list and
// the platform files expect. --preview also writes downscaled renderings, the
// way the program shows them, into DIR for review.
//
// Everything is drawn with vector paths, text included, from fonts loaded by
// file, so the same fonts give the same bytes on every run.

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPolygonF>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <QtMath>

#include <cstdio>
#include <cstdlib>

namespace {

// Palette shared by all pieces.
const QColor navy(0x16, 0x32, 0x4f);
const QColor navyDark(0x0d, 0x21, 0x36);
const QColor navyLight(0x24, 0x4f, 0x7a);
const QColor teal(0x1f, 0xc4, 0x9a);
const QColor tealLight(0x6c, 0xe8, 0xc4);
const QColor slate(0x5a, 0x6b, 0x7d);

const char *const fontFiles[] = {
    "DejaVuSans.ttf",
    "DejaVuSans-Bold.ttf",
    "DejaVuSansCondensed-Bold.ttf",
};

bool loadFonts()
{
    QString dir = qEnvironmentVariable("USBSYNTH_FONT_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral("/usr/share/fonts/truetype/dejavu");
    for (const char *name : fontFiles) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(name);
        if (QFontDatabase::addApplicationFont(path) < 0) {
            std::fprintf(stderr, "imagegen: cannot load font %s\n", qPrintable(path));
            return false;
        }
    }
    return true;
}

enum class Face { Regular, Bold, CondensedBold };

QFont makeFont(Face face, qreal pixelSize)
{
    QFont f;
    switch (face) {
    case Face::Regular:
        f = QFontDatabase::font(QStringLiteral("DejaVu Sans"), QStringLiteral("Book"), 12);
        break;
    case Face::Bold:
        f = QFontDatabase::font(QStringLiteral("DejaVu Sans"), QStringLiteral("Bold"), 12);
        break;
    case Face::CondensedBold:
        f = QFontDatabase::font(QStringLiteral("DejaVu Sans"), QStringLiteral("Condensed Bold"), 12);
        break;
    }
    f.setPixelSize(qRound(pixelSize));
    f.setKerning(true);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

// Text outline with its ink box's left edge at x and its baseline at y.
QPainterPath textPath(const QString &text, const QFont &font, qreal x, qreal baseline,
                      qreal letterSpacing = 0)
{
    QFont f = font;
    if (letterSpacing != 0)
        f.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    QPainterPath p;
    p.addText(0, 0, f, text);
    return p.translated(x - p.boundingRect().left(), baseline);
}

// Letter spacing that makes the ink of text exactly `width` wide.
qreal spacingForWidth(const QString &text, const QFont &font, qreal width)
{
    if (text.size() < 2)
        return 0;
    const qreal natural = textPath(text, font, 0, 0).boundingRect().width();
    return (width - natural) / (text.size() - 1);
}

QImage canvas(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    img.setDotsPerMeterX(3780);
    img.setDotsPerMeterY(3780);
    return img;
}

void prepare(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

QPainterPath roundedRect(const QRectF &r, qreal radius)
{
    QPainterPath p;
    p.addRoundedRect(r, radius, radius);
    return p;
}

// One sine period per `period` units from x0 to x1 around centre line cy.
QPainterPath sinePath(qreal x0, qreal x1, qreal cy, qreal amplitude, qreal period,
                      qreal phase = 0)
{
    QPainterPath p;
    const int steps = 160;
    for (int i = 0; i <= steps; ++i) {
        const qreal x = x0 + (x1 - x0) * i / steps;
        const qreal y = cy - amplitude * qSin(2 * M_PI * (x - x0) / period + phase);
        if (i == 0)
            p.moveTo(x, y);
        else
            p.lineTo(x, y);
    }
    return p;
}

// ---------------------------------------------------------------- brand mark

// Rounded navy tile carrying one period of a sine wave over a faint axis.
void drawMark(QPainter &p, const QRectF &r)
{
    const qreal s = r.width();
    p.save();
    QLinearGradient bg(r.topLeft(), r.bottomLeft());
    bg.setColorAt(0, navyLight);
    bg.setColorAt(1, navyDark);
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawPath(roundedRect(r, s * 0.22));

    // Grid hint: the axis and two faint graticule lines.
    QColor faint(255, 255, 255, 40);
    p.setPen(QPen(faint, s * 0.018, Qt::SolidLine, Qt::FlatCap));
    const qreal cy = r.center().y();
    p.drawLine(QPointF(r.left() + s * 0.12, cy), QPointF(r.right() - s * 0.12, cy));
    faint.setAlpha(22);
    p.setPen(QPen(faint, s * 0.012, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(r.left() + s * 0.12, cy - s * 0.24), QPointF(r.right() - s * 0.12, cy - s * 0.24));
    p.drawLine(QPointF(r.left() + s * 0.12, cy + s * 0.24), QPointF(r.right() - s * 0.12, cy + s * 0.24));

    const qreal x0 = r.left() + s * 0.17;
    const qreal x1 = r.right() - s * 0.17;
    QLinearGradient wave(QPointF(x0, 0), QPointF(x1, 0));
    wave.setColorAt(0, tealLight);
    wave.setColorAt(1, teal);
    p.setPen(QPen(QBrush(wave), s * 0.085, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(sinePath(x0, x1, cy, s * 0.21, x1 - x0));
    p.restore();
}

// -------------------------------------------------------------------- locks

struct LockColours {
    QColor top, bottom, edge, keyhole;
};

// Padlock on a 256 unit square. The body sits at the same place in both
// states, so swapping the pictures only moves the shackle.
QImage lockIcon(bool locked)
{
    QImage img = canvas(256, 256);
    QPainter p(&img);
    prepare(p);

    const LockColours c = locked
        ? LockColours{QColor(0x55, 0xc8, 0x72), QColor(0x1f, 0x86, 0x3f), QColor(0x15, 0x5c, 0x2b),
                      QColor(0x0c, 0x3a, 0x1a)}
        : LockColours{QColor(0xf8, 0xc1, 0x4a), QColor(0xd9, 0x84, 0x14), QColor(0x94, 0x56, 0x06),
                      QColor(0x5a, 0x33, 0x03)};

    const QRectF body(38, 124, 180, 122);
    const qreal legL = 80, legR = 176;
    const qreal radius = (legR - legL) / 2;
    const qreal archY = locked ? 108 : 64;
    const qreal rightEnd = locked ? body.top() + 16 : archY + 26;

    QPainterPath shackle;
    shackle.moveTo(legL, body.top() + 16);
    shackle.lineTo(legL, archY);
    shackle.arcTo(QRectF(legL, archY - radius, 2 * radius, 2 * radius), 180, -180);
    shackle.lineTo(legR, rightEnd);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x3a, 0x43, 0x4c), 32, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(shackle);
    QLinearGradient steel(QPointF(legL - 16, 0), QPointF(legR + 16, 0));
    steel.setColorAt(0.00, QColor(0x8c, 0x97, 0xa2));
    steel.setColorAt(0.35, QColor(0xd8, 0xde, 0xe4));
    steel.setColorAt(1.00, QColor(0x8c, 0x97, 0xa2));
    p.setPen(QPen(QBrush(steel), 18, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(shackle);

    QLinearGradient fill(body.topLeft(), body.bottomLeft());
    fill.setColorAt(0, c.top);
    fill.setColorAt(1, c.bottom);
    p.setPen(QPen(c.edge, 7));
    p.setBrush(fill);
    p.drawPath(roundedRect(body.adjusted(3.5, 3.5, -3.5, -3.5), 22));

    // Soft sheen on the upper part of the body.
    QLinearGradient sheen(body.topLeft(), QPointF(body.left(), body.top() + 50));
    sheen.setColorAt(0, QColor(255, 255, 255, 90));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sheen);
    p.drawPath(roundedRect(body.adjusted(12, 10, -12, -60), 14));

    // Keyhole.
    QColor hole = c.keyhole;
    hole.setAlpha(220);
    p.setBrush(hole);
    QPainterPath key;
    const QPointF kc(128, body.top() + 50);
    key.addEllipse(kc, 15, 15);
    QPainterPath slotPath;
    QPolygonF slot;
    slot << QPointF(kc.x() - 7, kc.y()) << QPointF(kc.x() + 7, kc.y())
         << QPointF(kc.x() + 10, kc.y() + 42) << QPointF(kc.x() - 10, kc.y() + 42);
    slotPath.addPolygon(slot);
    slotPath.closeSubpath();
    p.drawPath(key.united(slotPath));
    return img;
}

// ------------------------------------------------------------------ refresh

// Point on a circle, angle in degrees clockwise from twelve o'clock.
QPointF onCircle(const QPointF &c, qreal r, qreal deg)
{
    const qreal a = qDegreesToRadians(deg);
    return QPointF(c.x() + r * qSin(a), c.y() - r * qCos(a));
}

// Clockwise arc from `from` to `to` degrees, ending in an arrow head.
QPainterPath arrowArc(const QPointF &c, qreal r, qreal from, qreal to, qreal width,
                      qreal headLength, qreal headWidth)
{
    if (to < from)
        to += 360;
    QPainterPath arc;
    const int steps = 90;
    // Run the shaft a little under the head so the two overlap.
    const qreal end = to + 4;
    for (int i = 0; i <= steps; ++i) {
        const QPointF pt = onCircle(c, r, from + (end - from) * i / steps);
        if (i == 0)
            arc.moveTo(pt);
        else
            arc.lineTo(pt);
    }
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::FlatCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    QPainterPath shape = stroker.createStroke(arc);

    // The head's tip stays on the circle, so the arrow follows the turn.
    const qreal a = qDegreesToRadians(to);
    const QPointF base = onCircle(c, r, to);
    const QPointF outward(qSin(a), -qCos(a));
    const QPointF tip = onCircle(c, r, to + qRadiansToDegrees(headLength / r));
    QPolygonF head;
    head << base + outward * (headWidth / 2) << tip << base - outward * (headWidth / 2)
         << base + outward * (headWidth / 2);
    QPainterPath headPath;
    headPath.addPolygon(head);
    return shape.united(headPath).simplified();
}

QImage refreshIcon()
{
    QImage img = canvas(256, 256);
    QPainter p(&img);
    prepare(p);

    const QPointF c(128, 128);
    const qreal r = 72, w = 34, headLength = 42, headWidth = 98;
    QPainterPath arrows = arrowArc(c, r, 240, 6, w, headLength, headWidth);
    arrows = arrows.united(arrowArc(c, r, 60, 186, w, headLength, headWidth)).simplified();

    QLinearGradient fill(QPointF(40, 30), QPointF(216, 226));
    fill.setColorAt(0, QColor(0x4a, 0x9c, 0xf0));
    fill.setColorAt(1, QColor(0x15, 0x5a, 0xb0));
    p.setPen(QPen(QColor(0x0f, 0x42, 0x85), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(arrows);
    return img;
}

// ------------------------------------------------------------------- logo

// Mark, the name in heavy capitals and "ELECTRONICS" spread to the name's width
// beneath a thin rule.
QImage logo()
{
    const int W = 1141, H = 327;
    QImage img = canvas(W, H);
    QPainter p(&img);
    prepare(p);

    const QRectF mark(22, 38, 251, 251);
    drawMark(p, mark);

    const qreal textLeft = mark.right() + 44;
    const qreal textRight = W - 24;
    const qreal tracking = 5;

    // Name sized so its ink spans the room right of the mark.
    const QString name = QStringLiteral("QUORVEX");
    const qreal probe = textPath(name, makeFont(Face::CondensedBold, 100), 0, 0, tracking)
                            .boundingRect().width();
    const QFont nameFont = makeFont(Face::CondensedBold, 100 * (textRight - textLeft) / probe);
    // Cap tops level with the mark's top edge.
    const qreal capTop = textPath(QStringLiteral("UORVEX"), nameFont, 0, 0).boundingRect().top();
    const qreal nameBaseline = mark.top() - capTop;
    const QPainterPath namePath = textPath(name, nameFont, textLeft, nameBaseline, tracking);
    QLinearGradient nameFill(QPointF(0, mark.top()), QPointF(0, nameBaseline));
    nameFill.setColorAt(0, navyLight);
    nameFill.setColorAt(1, navy);
    p.setPen(Qt::NoPen);
    p.setBrush(nameFill);
    p.drawPath(namePath);
    const QRectF nameInk = namePath.boundingRect();

    // "ELECTRONICS" spread to the name's width, bottoms level with the mark.
    const QString sub = QStringLiteral("ELECTRONICS");
    const QFont subFont = makeFont(Face::Bold, 72);
    const qreal subSpread = spacingForWidth(sub, subFont, nameInk.width() - 8);
    const QPainterPath subPath = textPath(sub, subFont, nameInk.left() + 4, mark.bottom(), subSpread);
    p.setBrush(slate);
    p.drawPath(subPath);

    // Rule in the wave's colour, midway between the Q's tail and the subtitle.
    const qreal ruleY = (nameInk.bottom() + subPath.boundingRect().top()) / 2 - 4;
    QLinearGradient rule(QPointF(nameInk.left(), 0), QPointF(nameInk.right(), 0));
    rule.setColorAt(0, teal);
    rule.setColorAt(1, QColor(teal.red(), teal.green(), teal.blue(), 60));
    p.setBrush(rule);
    p.drawRect(QRectF(nameInk.left() + 4, ruleY, nameInk.width() - 8, 8));
    return img;
}

// ------------------------------------------------------------------ splash

// Light card: product name at the top, maker's band at the bottom, and the
// middle third left empty for the start-up messages drawn on the right.
QImage splash()
{
    const int W = 525, H = 150;
    QImage img = canvas(W, H);
    QPainter p(&img);
    prepare(p);

    QLinearGradient bg(QPointF(0, 0), QPointF(0, H));
    bg.setColorAt(0, QColor(0xff, 0xff, 0xff));
    bg.setColorAt(0.7, QColor(0xee, 0xf3, 0xf8));
    p.fillRect(img.rect(), bg);

    drawMark(p, QRectF(20, 16, 50, 50));

    p.setPen(Qt::NoPen);
    p.setBrush(navy);
    p.drawPath(textPath(QStringLiteral("USB Stick Synthesizer"), makeFont(Face::Bold, 25), 84, 40));
    p.setBrush(slate);
    p.drawPath(textPath(QStringLiteral("RF signal generator control"), makeFont(Face::Regular, 13), 85, 60));

    // Maker's band.
    const qreal bandTop = 112;
    QLinearGradient band(QPointF(0, bandTop), QPointF(0, H));
    band.setColorAt(0, navy);
    band.setColorAt(1, navyDark);
    p.fillRect(QRectF(0, bandTop, W, H - bandTop), band);
    QLinearGradient accent(QPointF(0, 0), QPointF(W, 0));
    accent.setColorAt(0, teal);
    accent.setColorAt(1, tealLight);
    p.fillRect(QRectF(0, bandTop - 3, W, 3), accent);

    const QFont nameFont = makeFont(Face::CondensedBold, 21);
    const QPainterPath name = textPath(QStringLiteral("QUORVEX"), nameFont, 20, 138, 2.5);
    p.setBrush(Qt::white);
    p.drawPath(name);
    p.setBrush(tealLight);
    p.drawPath(textPath(QStringLiteral("ELECTRONICS"), makeFont(Face::Bold, 9.5),
                        name.boundingRect().right() + 10, 138, 1.6));

    QColor tag(255, 255, 255, 170);
    p.setBrush(tag);
    const QPainterPath tagline = textPath(QStringLiteral("USB-powered frequency synthesizers"),
                                          makeFont(Face::Regular, 11), 0, 136);
    p.drawPath(tagline.translated(W - 20 - tagline.boundingRect().right(), 0));

    return img.convertToFormat(QImage::Format_RGB32);
}

// -------------------------------------------------------------- app icon

// USB stick lying on the diagonal, a sine wave printed on its body. Line
// widths have a floor in pixels so the small sizes stay legible.
QImage appIcon(int size)
{
    QImage img = canvas(size, size);
    QPainter p(&img);
    prepare(p);
    const qreal unit = 256.0 / size;  // drawing units per pixel
    p.scale(size / 256.0, size / 256.0);
    p.translate(128, 130);
    p.rotate(-45);

    const QRectF body(-132, -54, 212, 108);
    const QRectF plug(body.right() - 6, -37, 62, 74);

    // Plug: steel shell with its two holes.
    QLinearGradient steel(QPointF(0, plug.top()), QPointF(0, plug.bottom()));
    steel.setColorAt(0.0, QColor(0xe6, 0xea, 0xee));
    steel.setColorAt(0.5, QColor(0xb4, 0xbd, 0xc6));
    steel.setColorAt(1.0, QColor(0x8a, 0x95, 0xa0));
    p.setPen(QPen(QColor(0x4a, 0x55, 0x60), qMax(5.0, unit)));
    p.setBrush(steel);
    p.drawPath(roundedRect(plug, 6));
    if (size >= 32) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x3a, 0x44, 0x4e));
        p.drawRect(QRectF(plug.right() - 30, -22, 14, 13));
        p.drawRect(QRectF(plug.right() - 30, 9, 14, 13));
    }

    // Body.
    QLinearGradient bodyFill(QPointF(0, body.top()), QPointF(0, body.bottom()));
    bodyFill.setColorAt(0, navyLight);
    bodyFill.setColorAt(1, navyDark);
    p.setPen(QPen(QColor(0x08, 0x16, 0x26), qMax(5.0, unit)));
    p.setBrush(bodyFill);
    p.drawPath(roundedRect(body, 24));
    if (size >= 32) {
        QLinearGradient sheen(QPointF(0, body.top()), QPointF(0, body.top() + 40));
        sheen.setColorAt(0, QColor(255, 255, 255, 60));
        sheen.setColorAt(1, QColor(255, 255, 255, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(sheen);
        p.drawPath(roundedRect(body.adjusted(10, 7, -10, -50), 14));
    }

    // The signal.
    const qreal x0 = body.left() + 24, x1 = body.right() - 22;
    QLinearGradient wave(QPointF(x0, 0), QPointF(x1, 0));
    wave.setColorAt(0, tealLight);
    wave.setColorAt(1, teal);
    const qreal periods = size >= 32 ? 2.0 : 1.0;
    p.setPen(QPen(QBrush(wave), qMax(15.0, 1.6 * unit), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(sinePath(x0, x1, 0, size >= 32 ? 20 : 22, (x1 - x0) / periods));
    return img;
}

// ------------------------------------------------------------------- output

QByteArray pngBytes(const QImage &img)
{
    QByteArray out;
    QBuffer buf(&out);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return out;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size()) {
        std::fprintf(stderr, "imagegen: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s (%lld bytes)\n", qPrintable(path), static_cast<long long>(data.size()));
    return true;
}

quint32 crc32Of(const QByteArray &bytes)
{
    static quint32 table[256];
    static bool filled = false;
    if (!filled) {
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        filled = true;
    }
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes)
        crc = table[(crc ^ quint8(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void appendChunk(QByteArray &png, const char *type, const QByteArray &data)
{
    char word[4];
    qToBigEndian<quint32>(quint32(data.size()), word);
    png.append(word, 4);
    const QByteArray typed = QByteArray(type, 4) + data;
    png.append(typed);
    qToBigEndian<quint32>(crc32Of(typed), word);
    png.append(word, 4);
}

// A PNG that is quick to decode: every row unfiltered and the pixel data
// deflated at the fastest level. The program decodes these images while it
// starts; the usual adaptive filters cost it about three times as long for
// files only a few percent smaller.
QByteArray fastPngBytes(const QImage &img)
{
    const bool alpha = img.hasAlphaChannel();
    const QImage pixels = img.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    const int rowBytes = pixels.width() * (alpha ? 4 : 3);
    QByteArray raw;
    raw.reserve((rowBytes + 1) * pixels.height());
    for (int y = 0; y < pixels.height(); ++y) {
        raw.append('\0'); // filter type None
        raw.append(reinterpret_cast<const char *>(pixels.constScanLine(y)), rowBytes);
    }

    QByteArray header(13, '\0');
    qToBigEndian<quint32>(quint32(pixels.width()), header.data());
    qToBigEndian<quint32>(quint32(pixels.height()), header.data() + 4);
    header[8] = 8;                // bits per channel
    header[9] = alpha ? 6 : 2;    // RGBA or RGB
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header);
    // qCompress gives a zlib stream behind a 4-byte length of its own.
    appendChunk(png, "IDAT", qCompress(raw, 1).mid(4));
    appendChunk(png, "IEND", QByteArray());
    return png;
}

bool writePng(const QString &path, const QImage &img)
{
    return writeFile(path, fastPngBytes(img));
}

void put16(QByteArray &b, quint16 v)
{
    char d[2];
    qToLittleEndian(v, d);
    b.append(d, 2);
}

void put32(QByteArray &b, quint32 v)
{
    char d[4];
    qToLittleEndian(v, d);
    b.append(d, 4);
}

// One icon entry as a bottom-up DIB (32-bit BGRA or 24-bit BGR) with its
// AND mask. The 24-bit entry takes its transparency from the mask alone.
QByteArray dibEntry(const QImage &src, int bits)
{
    const QImage img = src.convertToFormat(QImage::Format_ARGB32);
    const int w = img.width(), h = img.height();
    const int colourStride = ((w * bits + 31) / 32) * 4;
    const int maskStride = ((w + 31) / 32) * 4;

    QByteArray b;
    put32(b, 40);
    put32(b, quint32(w));
    put32(b, quint32(2 * h));
    put16(b, 1);
    put16(b, quint16(bits));
    put32(b, 0);
    put32(b, quint32((colourStride + maskStride) * h));
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);

    for (int y = h - 1; y >= 0; --y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        QByteArray row;
        for (int x = 0; x < w; ++x) {
            row.append(char(qBlue(line[x])));
            row.append(char(qGreen(line[x])));
            row.append(char(qRed(line[x])));
            if (bits == 32)
                row.append(char(qAlpha(line[x])));
        }
        row.append(QByteArray(colourStride - row.size(), '\0'));
        b.append(row);
    }
    for (int y = h - 1; y >= 0; --y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < w; ++x) {
            if (qAlpha(line[x]) < 128)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
        b.append(row);
    }
    return b;
}

struct IcoEntry {
    int size;
    int bits;
    QByteArray data;
};

QByteArray icoFile(const QList<IcoEntry> &entries)
{
    QByteArray b;
    put16(b, 0);
    put16(b, 1);
    put16(b, quint16(entries.size()));
    quint32 offset = 6 + 16 * entries.size();
    for (const IcoEntry &e : entries) {
        b.append(char(e.size >= 256 ? 0 : e.size));
        b.append(char(e.size >= 256 ? 0 : e.size));
        b.append(char(0));
        b.append(char(0));
        put16(b, 1);
        put16(b, quint16(e.bits));
        put32(b, quint32(e.data.size()));
        put32(b, offset);
        offset += e.data.size();
    }
    for (const IcoEntry &e : entries)
        b.append(e.data);
    return b;
}

QByteArray appIco()
{
    // The 32 × 32 24-bit picture leads: it is the one the Windows resource
    // has to carry; the 32-bit ones with alpha follow for newer shells.
    QList<IcoEntry> entries;
    entries.append({32, 24, dibEntry(appIcon(32), 24)});
    for (int s : {16, 24, 32, 48})
        entries.append({s, 32, dibEntry(appIcon(s), 32)});
    entries.append({256, 32, pngBytes(appIcon(256).convertToFormat(QImage::Format_ARGB32))});
    return icoFile(entries);
}

// ----------------------------------------------------------------- previews

// Image scaled to w × h over a window-grey ground, then enlarged pixel for
// pixel so single pixels can be judged.
QImage shownAt(const QImage &img, int w, int h, int zoom, QColor ground = QColor(0xef, 0xef, 0xef))
{
    QImage small(w, h, QImage::Format_ARGB32_Premultiplied);
    small.fill(ground);
    QPainter p(&small);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.drawImage(QRectF(0, 0, w, h), img);
    p.end();
    return small.scaled(w * zoom, h * zoom, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

bool writePreviews(const QString &dir, const QImage &locked, const QImage &unlocked,
                   const QImage &refresh, const QImage &logoImg, const QImage &splashImg)
{
    bool ok = true;
    // Lock label: 25 × 25, scaled contents.
    QImage locks(2 * 25 * 8 + 16, 25 * 8, QImage::Format_ARGB32_Premultiplied);
    locks.fill(Qt::white);
    {
        QPainter p(&locks);
        p.drawImage(0, 0, shownAt(locked, 25, 25, 8));
        p.drawImage(25 * 8 + 16, 0, shownAt(unlocked, 25, 25, 8));
    }
    ok &= writePng(dir + "/locks-25px-x8.png", locks);
    ok &= writePng(dir + "/refresh-16px-x8.png", shownAt(refresh, 16, 16, 8));
    ok &= writePng(dir + "/logo-248x50.png", shownAt(logoImg, 248, 50, 1));
    ok &= writePng(dir + "/logo-248x50-x3.png", shownAt(logoImg, 248, 50, 3));

    // Splash with a message as the splash screen draws it: right-aligned,
    // vertically centred, black, in the default font, 5 px inside the edge.
    int n = 0;
    for (const QString &msg : {QStringLiteral("Initializing..."),
                               QStringLiteral("USB0::0x2D1E::0x0011::QX0012345::INSTR"),
                               QStringLiteral("No devices were found ")}) {
        QImage s = splashImg.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter p(&s);
        p.setPen(Qt::black);
        p.drawText(QRect(0, 0, s.width(), s.height()).adjusted(5, 5, -5, -5),
                   Qt::AlignRight | Qt::AlignVCenter, msg + QString(13, QLatin1Char(' ')));
        p.end();
        ok &= writePng(dir + QStringLiteral("/splash-msg%1.png").arg(++n), s);
    }

    QImage icons(16 * 8 + 24 * 8 + 32 * 8 + 48 * 4 + 48, 32 * 8, QImage::Format_ARGB32_Premultiplied);
    icons.fill(Qt::white);
    {
        QPainter p(&icons);
        int x = 0;
        for (int s : {16, 24, 32}) {
            p.drawImage(x, 0, shownAt(appIcon(s), s, s, 8));
            x += s * 8 + 16;
        }
        p.drawImage(x, 0, shownAt(appIcon(48), 48, 48, 4));
    }
    ok &= writePng(dir + "/appicon-small.png", icons);
    return ok;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QString outDir = QStringLiteral(".");
    QString previewDir;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--preview") && i + 1 < args.size()) {
            previewDir = args[++i];
        } else if (args[i].startsWith(QLatin1Char('-'))) {
            std::fprintf(stderr, "usage: %s [--preview DIR] [OUTDIR]\n", argv[0]);
            return 2;
        } else {
            outDir = args[i];
        }
    }
    if (!loadFonts())
        return 1;

    const QImage locked = lockIcon(true);
    const QImage unlocked = lockIcon(false);
    const QImage refresh = refreshIcon();
    const QImage logoImg = logo();
    const QImage splashImg = splash();

    bool ok = true;
    ok &= writePng(outDir + "/Icons/Lock-icon.png", locked);
    ok &= writePng(outDir + "/Icons/Lock-Unlock-icon.png", unlocked);
    ok &= writePng(outDir + "/Icons/Refresh.png", refresh);
    ok &= writePng(outDir + "/Pictures/Quorvex_Logo_Side_Transparaent.png", logoImg);
    ok &= writePng(outDir + "/Pictures/USBStickSplash_Quorvex.png", splashImg);
    ok &= writePng(outDir + "/usbsynth.png", appIcon(256));
    ok &= writeFile(outDir + "/app.ico", appIco());

    if (!previewDir.isEmpty()) {
        QDir().mkpath(previewDir);
        ok &= writePreviews(previewDir, locked, unlocked, refresh, logoImg, splashImg);
    }
    return ok ? 0 : 1;
}
