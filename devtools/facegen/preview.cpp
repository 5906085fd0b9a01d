#include "preview.h"

#include "compose.h"
#include "draw_util.h"
#include "layout_xml.h"
#include "models.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QPainter>

#include <cmath>
#include <cstdio>

namespace facegen {

namespace {

bool loadArt(const QString &dir, ImageSet &art)
{
    const QStringList names = QDir(dir).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    for (const QString &n : names) {
        QImage img(dir + QLatin1Char('/') + n);
        if (img.isNull()) {
            fprintf(stderr, "facegen: cannot read %s/%s\n", qPrintable(dir), qPrintable(n));
            return false;
        }
        art[n] = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    return true;
}

struct KeyState {
    QColor colour;
    QString legend;
    int flags = 0;
    double progress = 0;
};

const QColor OFF(200, 200, 200);

// The fixed keys of the menu models in key order, as their default
// configurations define them: Ln levels, Dn destinations, Sn sources, Mn
// menu pages, then single function keys.
QStringList menuLegends(const QString &model)
{
    static const QMap<QString, QString> keys{
        {"SK1600A", "L4 P D8 S12 M2 LS T"},
        {"SK1700A", "P L4 D8 S16 M3 LS LP TC T"},
        {"SK1900A", "L4 D8 S12 P M4 PV NX LD LS LP SA SA DM PC TC T"},
        {"SK2000A", "L4 P D8 S24 M4 LD LS LP PV NX T"},
        {"SK2200A", "L3 P D8 S24 M4 LS LP TC T"},
    };
    static const QMap<QString, QString> single{
        {"P", "PNL\nLOCK"}, {"LD", "LOCK\nDST"},  {"LS", "LOCK\nSYS"}, {"LP", "LOCK\nPROT"},
        {"TC", "TAKE\nCLR"}, {"T", "TAKE"},        {"PV", "PREV\nDST"}, {"NX", "NEXT\nDST"},
        {"DM", "DST\nMODE"}, {"PC", "PRE\nCLR"},
    };
    static const QMap<QChar, QString> runs{{'L', "LVL"}, {'D', "DST"}, {'S', "SRC"}, {'M', "MENU"}};
    QStringList out;
    int salvo = 0;
    for (const QString &t : keys.value(model).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (t == QLatin1String("SA"))
            out.append(QStringLiteral("SALVO\n%1").arg(++salvo));
        else if (single.contains(t))
            out.append(single.value(t));
        else
            for (int i = 1; i <= t.mid(1).toInt(); ++i)
                out.append(QStringLiteral("%1\n%2").arg(runs.value(t.at(0))).arg(i));
    }
    return out;
}

// Sample state of a key: what an operator might see on a configured panel.
KeyState sampleKey(const QString &model, const PlacedItem &item)
{
    KeyState k;
    const int id = item.id;
    const QStringList menu = menuLegends(model);
    if (menu.isEmpty()) {
        static const QColor palette[6] = {QColor(0, 0, 64),    QColor(255, 150, 0),
                                          QColor(0, 255, 0),   QColor(255, 0, 0),
                                          QColor(0, 0, 0),     OFF};
        static const char *names[6] = {"CAM", "VTR", "SAT", "MIC", "AUX", "GFX"};
        const int kind = (id * 7 + model.at(3).unicode()) % 6;
        k.colour = palette[kind];
        k.legend = QStringLiteral("%1\n%2").arg(QString::fromLatin1(names[(id / 3) % 6])).arg(id);
        if (id % 11 == 5)
            k.legend = QStringLiteral("STU\nA\n%1").arg(id);
        if (kind == 2)
            k.flags = 0x02;
    } else {
        // Lamp keys: white when off, a few lit, the two-colour keys with
        // their key lamp and extra lamp.
        k.legend = menu.value(id - 1);
        k.colour = id % 9 == 2 ? QColor(0, 255, 0) : OFF;
        if (item.upDown)
            k.colour = id % 2 ? QColor(0xFC, 0x0C, 0x0C) : QColor(0xC0, 0xCF, 0xC0);
    }
    if (id == 3)
        k.progress = 1.0;
    return k;
}

const char *const DISPLAY_TEXTS[10] = {"Comms OK", "v1.02", "Ethernet", "10.0.", "0.12",
                                       "DST VT01", "SRC CAM2", "LVL VID", "MENU 1", "PRESET"};

QImage composeFace(const ReadLayout &layout, const ImageSet &art, const QString &model, double scale)
{
    const QSize size(int(layout.panel.width() * scale), int(layout.panel.height() * scale));
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::black);
    QPainter g(&img);
    const QImage bk = art.value(layout.background);
    if (!bk.isNull())
        g.drawImage(0, 0, bk.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    for (const PlacedItem &item : layout.items) {
        const QPoint pos(int(item.rect.x() * scale), int(item.rect.y() * scale));
        const QSize px(int(item.rect.width() * scale), int(item.rect.height() * scale));
        const Sequence seq = layout.sequences.value(item.sequence);
        if (item.type == QLatin1String("LCD") || item.type == QLatin1String("LED")) {
            const KeyState k = sampleKey(model, item);
            g.drawImage(pos, composeKey(art, seq, px, k.colour, legendImage(k.legend, k.flags),
                                        k.progress, item.upDown));
        } else if (item.type == QLatin1String("Vacuum")) {
            g.drawImage(pos, composeDisplay(px, QString::fromLatin1(DISPLAY_TEXTS[(item.id - 1000) % 10]),
                                            item.vacuumChars));
        } else if (!seq.frames.isEmpty()) {
            g.drawImage(pos, art.value(seq.frames.first())
                                 .scaled(px, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        }
    }
    return img;
}

bool save(const QImage &img, const QString &path)
{
    if (!img.save(path, "PNG")) {
        fprintf(stderr, "facegen: cannot write %s\n", qPrintable(path));
        return false;
    }
    printf("%s\n", qPrintable(path));
    return true;
}

// A contact sheet: captioned rows of pictures.
class Sheet
{
public:
    explicit Sheet(int width) : m_img(width, 4200, QImage::Format_ARGB32_Premultiplied)
    {
        m_img.fill(QColor(58, 62, 66));
    }
    void heading(const QString &text)
    {
        newRow();
        QPainter g(&m_img);
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(18);
        f.setBold(true);
        g.setFont(f);
        g.setPen(QColor(255, 200, 90));
        g.drawText(QPoint(16, m_y + 20), text);
        m_y += 30;
    }
    void add(const QImage &img, const QString &caption, const QColor &under = QColor())
    {
        if (m_x + img.width() > m_img.width() - 16)
            newRow();
        QPainter g(&m_img);
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(11);
        g.setFont(f);
        g.setPen(QColor(220, 222, 226));
        g.drawText(QPoint(m_x, m_y + 12), caption);
        const QRect r(m_x, m_y + 16, img.width(), img.height());
        if (under.isValid()) {
            g.fillRect(r, under);
        } else {
            for (int y = 0; y < r.height(); y += 8)
                for (int x = 0; x < r.width(); x += 8)
                    g.fillRect(QRect(r.x() + x, r.y() + y, 8, 8).intersected(r),
                               ((x + y) / 8) % 2 ? QColor(150, 150, 150) : QColor(105, 105, 105));
        }
        g.drawImage(r.topLeft(), img);
        m_x += std::max(img.width(), int(caption.size()) * 6) + 14;
        m_rowH = std::max(m_rowH, img.height() + 22);
    }
    QImage finish()
    {
        newRow();
        return m_img.copy(0, 0, m_img.width(), m_y + 8);
    }

private:
    void newRow()
    {
        if (m_x > 16)
            m_y += m_rowH;
        m_x = 16;
        m_rowH = 0;
    }
    QImage m_img;
    int m_x = 16;
    int m_y = 8;
    int m_rowH = 0;
};

QImage zoom(const QImage &img, int f)
{
    return img.scaled(img.size() * f, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

Sequence keySeq(const QString &coverStem)
{
    Sequence s;
    for (int i = 1; i <= 6; ++i) {
        s.frames.append(QStringLiteral("b%1.png").arg(i));
        s.masks.append(QStringLiteral("b_mask%1.png").arg(i));
        s.covers.append(QStringLiteral("%1%2.png").arg(coverStem).arg(i));
    }
    return s;
}

QImage assetSheet(const ImageSet &art)
{
    Sheet s(1500);
    const QColor field(38, 40, 43);
    s.heading(QStringLiteral("Key frames b1 .. b6 (up to fully down)"));
    for (int i = 1; i <= 6; ++i)
        s.add(art.value(QStringLiteral("b%1.png").arg(i)), QStringLiteral("b%1.png").arg(i), field);
    s.heading(QStringLiteral("Display masks and colour covers (covers over grey)"));
    for (int i = 1; i <= 6; ++i)
        s.add(art.value(QStringLiteral("b_mask%1.png").arg(i)).scaled(100, 70),
              QStringLiteral("b_mask%1").arg(i));
    for (int i = 1; i <= 6; ++i)
        s.add(art.value(QStringLiteral("color_cover_up%1.png").arg(i)).scaled(100, 70),
              QStringLiteral("cover_up%1").arg(i), QColor(128, 128, 128));
    for (int i = 1; i <= 6; ++i)
        s.add(art.value(QStringLiteral("color_cover_up_down%1.png").arg(i)).scaled(100, 70),
              QStringLiteral("cover_up_down%1").arg(i), QColor(128, 128, 128));

    s.heading(QStringLiteral("Composed key through a press (colour, cover, legend, mask, frame)"));
    const Sequence plain = keySeq(QStringLiteral("color_cover_up"));
    const Sequence updown = keySeq(QStringLiteral("color_cover_up_down"));
    for (int i = 0; i < 6; ++i)
        s.add(composeKey(art, plain, QSize(200, 140), QColor(255, 0, 0), legendImage(QStringLiteral("TAKE")),
                         i / 5.0, false),
              QStringLiteral("p = %1").arg(i / 5.0), field);
    s.add(composeKey(art, updown, QSize(200, 140), QColor(0xFC, 0x0C, 0x0C),
                     legendImage(QStringLiteral("DST\n4")), 0, true),
          QStringLiteral("up/down (FC,0C,0C)"), field);
    s.add(composeKey(art, updown, QSize(200, 140), QColor(0xC0, 0xCF, 0xC0),
                     legendImage(QStringLiteral("DST\n5")), 0, true),
          QStringLiteral("up/down (C0,CF,C0)"), field);

    s.heading(QStringLiteral("Keys at face sizes: 56 x 40 (1200 wide) and 28 x 20 (600 wide), zoomed 3x"));
    const QColor colours[6] = {QColor(0, 0, 64), QColor(255, 150, 0), QColor(0, 255, 0),
                               QColor(255, 0, 0), QColor(0, 0, 0),    QColor(200, 200, 200)};
    const char *legends[6] = {"CAM\n1", "VTR\nB", "SAT 3", "MIC\nA\n12", "", "GFX\n6"};
    for (const QSize sz : {QSize(56, 40), QSize(28, 20)})
        for (int i = 0; i < 6; ++i)
            s.add(zoom(composeKey(art, plain, sz, colours[i],
                                  legendImage(QString::fromLatin1(legends[i]), i == 2 ? 2 : 0), 0, false),
                       3),
                  QStringLiteral("%1x%2").arg(sz.width()).arg(sz.height()), field);

    s.heading(QStringLiteral("Lamp lenses (LED masks with the colour covers, no frame)"));
    for (int kind = 1; kind <= 2; ++kind)
        for (const QColor &c : {QColor(255, 0, 0), QColor(0, 255, 0), QColor(255, 150, 0), QColor(40, 40, 40)}) {
            Sequence led;
            led.masks = {QStringLiteral("b_LED%1_mask1.png").arg(kind), QStringLiteral("b_LED%1_mask2.png").arg(kind)};
            led.covers = plain.covers;
            const QSize sz = kind == 1 ? QSize(64, 64) : QSize(96, 48);
            s.add(composeKey(art, led, sz, c, QImage(), 0, false), QStringLiteral("LED%1").arg(kind), field);
        }

    s.heading(QStringLiteral("Display frames with their displays"));
    for (int n : displayFrameSizes()) {
        QImage frame = art.value(displayFrameName(n)).scaled(displayFrameWidth(n), displayFrameHeight(),
                                                             Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QPainter g(&frame);
        for (int i = 0; i < n; ++i)
            g.drawImage(DISPLAY_PAD + i * (DISPLAY_W + DISPLAY_GAP), DISPLAY_PAD,
                        composeDisplay(QSize(DISPLAY_W, DISPLAY_H), QString::fromLatin1(DISPLAY_TEXTS[i % 10]), 8));
        g.end();
        s.add(frame, displayFrameName(n), field);
    }

    s.heading(QStringLiteral("Host pictures (native and 2x; tool bar grey and dark)"));
    for (const char *n : {"new.png", "delete.png", "start.png", "stop.png", "started_yes.png",
                          "started_no.png", "sign_ok.png", "sign_notok.png", "comm.png", "rack_icon.png"}) {
        const QImage img = art.value(QString::fromLatin1(n));
        s.add(img, QString::fromLatin1(n), QColor(236, 236, 236));
        s.add(zoom(img, 2), QString(), QColor(46, 48, 52));
    }
    {
        // The comm indicator as the panel list shows it: the mask's alpha
        // over a transmit and a receive colour.
        const QImage mask = art.value(QStringLiteral("comm.png")).scaled(24, 24, Qt::IgnoreAspectRatio,
                                                                         Qt::SmoothTransformation);
        QImage ind = transparentImage(48, 24);
        QPainter g(&ind);
        for (int side = 0; side < 2; ++side) {
            QImage sq(24, 24, QImage::Format_ARGB32_Premultiplied);
            sq.fill(side == 0 ? QColor(255, 204, 0) : QColor(0, 255, 0));
            QPainter m(&sq);
            m.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            m.drawImage(0, 0, mask);
            m.end();
            g.drawImage(side * 24, 0, sq);
        }
        g.end();
        s.add(zoom(ind, 2), QStringLiteral("comm indicator"), QColor(236, 236, 236));
    }
    s.add(art.value(QStringLiteral("app_icon.png")), QStringLiteral("app_icon.png"), QColor(236, 236, 236));
    s.add(art.value(QStringLiteral("app_icon.png")).scaled(48, 48, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
          QStringLiteral("48"), QColor(236, 236, 236));
    s.add(art.value(QStringLiteral("splash.png")), QStringLiteral("splash.png"));
    return s.finish();
}

} // namespace

bool writePreviews(const QString &resourceDir, const QString &outDir)
{
    ImageSet art;
    if (!loadArt(resourceDir + QStringLiteral("/images2"), art))
        return false;
    if (!QDir().mkpath(outDir)) {
        fprintf(stderr, "facegen: cannot create %s\n", qPrintable(outDir));
        return false;
    }
    QList<QImage> rack;
    for (const FaceLayout &face : allFaces()) {
        QFile f(resourceDir + QLatin1Char('/') + layoutFileName(face));
        if (!f.open(QIODevice::ReadOnly)) {
            fprintf(stderr, "facegen: cannot read %s\n", qPrintable(f.fileName()));
            return false;
        }
        ReadLayout layout;
        QString error;
        if (!readLayout(f.readAll(), layout, &error)) {
            fprintf(stderr, "facegen: %s: %s\n", qPrintable(f.fileName()), qPrintable(error));
            return false;
        }
        const QImage img = composeFace(layout, art, face.model, 1.0);
        if (!save(img, outDir + QStringLiteral("/face_%1.png").arg(face.model.toLower())))
            return false;
        // In the rack at the width a rack window usually has.
        rack.append(composeFace(layout, art, face.model, 0.75));
    }
    int h = 0;
    for (const QImage &r : rack)
        h += r.height() + 2;
    QImage sheet(rack.first().width() + 4, h + 2, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::black);
    {
        QPainter g(&sheet);
        int y = 2;
        for (const QImage &r : rack) {
            g.drawImage(2, y, r);
            y += r.height() + 2;
        }
    }
    return save(sheet, outDir + QStringLiteral("/rack.png"))
           && save(assetSheet(art), outDir + QStringLiteral("/assets.png"));
}

} // namespace facegen
