// The built-in resources as the host finds them: each panel type's layout
// file (sizes, background, the ids the firmware addresses, placement, the
// pictures it names), the key pictures fitting the way a face composes a
// key, the host's pictures, the default configurations and the buzzer.

#include "kst_panelinfo.h"

#include <QDomDocument>
#include <QFile>
#include <QImage>
#include <QRectF>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

struct Expected {
    QString model;
    int panelHeight;
    QSize window;
    QString background;
    QList<int> lcd;
    int vacuum;
    int widgets;
};

QList<int> ids(int first, int last)
{
    QList<int> out;
    for (int i = first; i <= last; ++i)
        out.append(i);
    return out;
}

// What the firmware of each model addresses: its keys and display windows.
QList<Expected> expectedFaces()
{
    const QString small = QStringLiteral("panelbk_small.png");
    const QString large = QStringLiteral("panelbk_large.png");
    return {
        {"SK1100A", 120, {600, 60}, small, ids(1, 16), 0, 0},
        {"SK1200A", 120, {600, 60}, small, ids(1, 20), 0, 0},
        {"SK1300A", 240, {600, 60}, large,
         ids(1, 8) + QList<int>{12, 16} + ids(17, 24) + ids(33, 40) + ids(42, 46) + QList<int>{48}, 0, 0},
        {"SK1400A", 240, {600, 60}, large, ids(1, 32), 0, 0},
        {"SK1500A", 240, {600, 60}, large, ids(1, 48), 0, 0},
        {"SK1600A", 120, {600, 60}, small, ids(1, 29), 2, 2},
        {"SK1700A", 240, {600, 60}, large, ids(1, 36), 10, 1},
        {"SK1800A", 120, {600, 60}, small, ids(1, 40), 0, 0},
        {"SK1900A", 240, {600, 60}, large, ids(1, 40), 8, 2},
        {"SK2000A", 240, {600, 60}, large, ids(1, 47), 3, 1},
        {"SK2100A", 240, {600, 120}, large, ids(1, 80), 0, 0},
        {"SK2200A", 240, {600, 60}, large, ids(1, 44), 9, 3},
        {"none", 120, {600, 60}, QStringLiteral("panelbk_none.png"), {}, 0, 0},
    };
}

struct Sequence {
    QStringList frames, masks, covers;
    int fw = -1, rv = -1;
};

struct Item {
    QString type;
    int id;
    QRectF rect;
    QString sequence;
    bool upDown;
    bool pushable;
    int lines, chars;
};

struct Layout {
    QString background;
    QMap<QString, QSize> sizes;
    QMap<QString, Sequence> sequences;
    QList<Item> items;
    QString error;
};

QString childText(const QDomElement &e, const QString &name, const QString &def = QString())
{
    const QDomElement c = e.firstChildElement(name);
    return c.isNull() ? def : c.text();
}

int childInt(const QDomElement &e, const QString &name, int def)
{
    const QDomElement c = e.firstChildElement(name);
    return c.isNull() ? def : c.text().toInt();
}

// Items of one group and its children, by the element rules of a face:
// item_id values first, then the range; each next item width + spacing to
// the right; offsets relative to the parent group.
void flatten(const QDomElement &g, QPointF origin, Layout &out)
{
    origin += QPointF(childInt(g, "offset_x", 0), childInt(g, "offset_y", 0));
    const QString type = childText(g, "type");
    if (!type.isEmpty()) {
        const QString sizeName = childText(g, "size");
        if (!out.sizes.contains(sizeName))
            out.error += QStringLiteral("unknown size '%1'; ").arg(sizeName);
        const QSize size = out.sizes.value(sizeName);
        QList<int> list;
        for (QDomElement i = g.firstChildElement("item_id"); !i.isNull(); i = i.nextSiblingElement("item_id"))
            list.append(i.text().toInt());
        const QDomElement range = g.firstChildElement("item_range");
        const int first = childInt(range, "id_first", -1), last = childInt(range, "id_last", -1);
        if (first >= 0 && last >= first)
            list += ids(first, last);
        const double spacing = childText(g, "spacing", "0").toDouble();
        for (int k = 0; k < list.size(); ++k) {
            if (list[k] == -1)
                continue;
            out.items.append({type, list[k],
                              QRectF(origin + QPointF(k * (size.width() + spacing), 0), size),
                              childText(g, "sequence"),
                              childText(g, "led_type") == QLatin1String("lbt_UpDownColors"),
                              childInt(g, "pushable", 1) != 0, childInt(g, "vacuum_line_count", 2),
                              childInt(g, "vacuum_char_per_line", 20)});
        }
    }
    for (QDomElement c = g.firstChildElement("group"); !c.isNull(); c = c.nextSiblingElement("group"))
        flatten(c, origin, out);
}

bool readLayout(const QString &path, Layout &out, int *depth)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("cannot open ") + path;
        return false;
    }
    QDomDocument doc;
    QString msg;
    int line = 0;
    if (!doc.setContent(&f, &msg, &line)) {
        out.error = QStringLiteral("%1 at line %2").arg(msg).arg(line);
        return false;
    }
    const QDomElement root = doc.documentElement();
    if (root.tagName() != QLatin1String("KTPPanel")) {
        out.error = QStringLiteral("root ") + root.tagName();
        return false;
    }
    out.background = childText(root.firstChildElement("background"), "image");
    for (QDomElement s = root.firstChildElement("sizes").firstChildElement("item_size"); !s.isNull();
         s = s.nextSiblingElement("item_size"))
        out.sizes[childText(s, "name")] = QSize(childInt(s, "width", 0), childInt(s, "height", 0));
    for (QDomElement s = root.firstChildElement("image_sequence"); !s.isNull();
         s = s.nextSiblingElement("image_sequence")) {
        Sequence seq;
        for (QDomElement c = s.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
            if (c.tagName() == QLatin1String("frame"))
                seq.frames.append(c.text());
            else if (c.tagName() == QLatin1String("display_mask"))
                seq.masks.append(c.text());
            else if (c.tagName() == QLatin1String("color_cover"))
                seq.covers.append(c.text());
        }
        seq.fw = childInt(s, "duration_fw", -1);
        seq.rv = childInt(s, "duration_rv", -1);
        out.sequences[childText(s, "name")] = seq;
    }
    // Deepest group nesting: offsets are only summed over two levels.
    *depth = 0;
    for (QDomElement g = root.firstChildElement("group"); !g.isNull(); g = g.nextSiblingElement("group")) {
        int d = 1;
        for (QDomElement c = g.firstChildElement("group"); !c.isNull(); c = c.nextSiblingElement("group")) {
            d = 2;
            if (!c.firstChildElement("group").isNull())
                d = 3;
        }
        *depth = std::max(*depth, d);
        flatten(g, QPointF(0, 0), out);
    }
    return out.error.isEmpty();
}

QImage resourceImage(const QString &name)
{
    return QImage(QStringLiteral(":/images2/") + name);
}

QStringList numbered(const QString &stem, int count)
{
    QStringList out;
    for (int i = 1; i <= count; ++i)
        out.append(QStringLiteral("%1%2.png").arg(stem).arg(i));
    return out;
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void layouts_data();
    void layouts();
    void keyPicturesFitTheComposition();
    void hostPictures();
    void defaultConfigurations();
    void buzzerSound();
};

void TestResources::layouts_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < expectedFaces().size(); ++i)
        QTest::newRow(qPrintable(expectedFaces()[i].model)) << i;
}

void TestResources::layouts()
{
    QFETCH(int, index);
    const Expected want = expectedFaces()[index];
    const KST_PanelInfo info;
    const int type = want.model == QLatin1String("none") ? 0 : info.typeIndex(want.model);
    QCOMPARE(info.typeName(type), want.model);

    // Where the face looks for it: ":/" + the layout file name.
    Layout layout;
    int depth = 0;
    QVERIFY2(readLayout(QStringLiteral(":/") + info.layoutFileName(type), layout, &depth),
             qPrintable(layout.error));
    QCOMPARE(layout.sizes.value("Panel"), QSize(1200, want.panelHeight));
    QCOMPARE(layout.sizes.value("Window"), want.window);
    QCOMPARE(layout.background, want.background);
    QVERIFY(depth <= 2);

    // The ids the firmware addresses, exactly, each once.
    QList<int> lcd, vacuum, widgets;
    for (const Item &it : layout.items) {
        if (it.type == QLatin1String("LCD"))
            lcd.append(it.id);
        else if (it.type == QLatin1String("Vacuum"))
            vacuum.append(it.id);
        else if (it.type == QLatin1String("Widget"))
            widgets.append(it.id);
        else
            QFAIL(qPrintable(QStringLiteral("unexpected item type ") + it.type));
    }
    std::sort(lcd.begin(), lcd.end());
    std::sort(vacuum.begin(), vacuum.end());
    std::sort(widgets.begin(), widgets.end());
    QCOMPARE(lcd, want.lcd);
    QCOMPARE(vacuum, want.vacuum ? ids(1000, 999 + want.vacuum) : QList<int>());
    QCOMPARE(widgets, want.widgets ? ids(30001, 30000 + want.widgets) : QList<int>());

    // Placement: inside the panel, keys and displays never overlapping,
    // every display on a frame that is drawn before it.
    const QRectF panel(0, 0, 1200, want.panelHeight);
    QList<QRectF> frames;
    for (int i = 0; i < layout.items.size(); ++i) {
        const Item &it = layout.items[i];
        const QString what = QStringLiteral("%1 %2").arg(it.type).arg(it.id);
        QVERIFY2(panel.contains(it.rect), qPrintable(what));
        if (it.type == QLatin1String("Widget")) {
            QVERIFY2(!it.pushable, qPrintable(what));
            frames.append(it.rect);
            continue;
        }
        for (int j = 0; j < i; ++j)
            if (layout.items[j].type != QLatin1String("Widget"))
                QVERIFY2(!layout.items[j].rect.intersects(it.rect), qPrintable(what + " overlaps"));
        if (it.type == QLatin1String("Vacuum")) {
            QCOMPARE(it.rect.size(), QSizeF(100, 40));
            QCOMPARE(it.lines, 1);
            QCOMPARE(it.chars, 8);
            QVERIFY2(!it.pushable, qPrintable(what));
            QVERIFY2(std::any_of(frames.begin(), frames.end(),
                                 [&it](const QRectF &f) { return f.contains(it.rect); }),
                     qPrintable(what + " is not on a display frame"));
        }
    }

    // Sequences: a key's frames, masks and covers; the two-colour cover set
    // exactly for the keys with two colour areas; the timings of a press.
    for (const Item &it : layout.items) {
        QVERIFY2(layout.sequences.contains(it.sequence), qPrintable(it.sequence));
        const Sequence &s = layout.sequences[it.sequence];
        QCOMPARE(s.fw, 60);
        QCOMPARE(s.rv, 200);
        if (it.type == QLatin1String("LCD")) {
            // Pictures are stretched over the item: a key keeps the legend
            // bitmap's aspect, so legends are not distorted.
            QVERIFY2(std::abs(it.rect.width() / it.rect.height() - 40.0 / 28.0) < 0.03,
                     qPrintable(QStringLiteral("key %1").arg(it.id)));
            QCOMPARE(s.frames, numbered("b", 6));
            QCOMPARE(s.masks, numbered("b_mask", 6));
            QCOMPARE(s.covers, numbered(it.upDown ? "color_cover_up_down" : "color_cover_up", 6));
        } else if (it.type == QLatin1String("Vacuum")) {
            QCOMPARE(s.frames, QStringList{"vacuum_bk.png"});
        } else if (it.type == QLatin1String("Widget")) {
            // A frame picture drawn for its own size (at twice the layout
            // units), not stretched out of shape.
            QCOMPARE(s.frames.size(), 1);
            QCOMPARE(QSizeF(resourceImage(s.frames.first()).size()), it.rect.size() * 2);
        }
    }

    // Every picture it names is built in; vacuum_bk.png is drawn by the face.
    QStringList names{layout.background};
    for (const Sequence &s : layout.sequences)
        names += s.frames + s.masks + s.covers;
    for (const QString &n : names)
        if (n != QLatin1String("vacuum_bk.png"))
            QVERIFY2(!resourceImage(n).isNull(), qPrintable(n + " missing"));
    QCOMPARE(resourceImage(layout.background).size(), QSize(1200, want.panelHeight));
}

// A face fills the key with its colour, shades it with the cover, stretches
// the 40 x 28 legend bitmap (the 36 x 24 face and a margin of 2) over the
// whole key, cuts it with the mask and draws the frame on top: so the
// mask must show, and the frame must not hide, every legend pixel, in every
// frame of the press.
void TestResources::keyPicturesFitTheComposition()
{
    const QSize size = resourceImage("b1.png").size();
    QVERIFY(!size.isEmpty());
    QVERIFY(std::abs(double(size.width()) / size.height() - 40.0 / 28.0) < 0.02);
    const double px = size.width() / 40.0, py = size.height() / 28.0;
    // The legend's pixels, less a sliver at the edge for antialiasing.
    const QRect face(int(std::ceil(2 * px)) + 1, int(std::ceil(2 * py)) + 1, int(36 * px) - 2,
                     int(24 * py) - 2);
    for (const QString stem : {"b", "b_mask", "color_cover_up", "color_cover_up_down"}) {
        for (int i = 1; i <= 6; ++i) {
            const QString name = QStringLiteral("%1%2.png").arg(stem).arg(i);
            const QImage img = resourceImage(name).convertToFormat(QImage::Format_ARGB32);
            QVERIFY2(img.size() == size, qPrintable(name));
            int opaque = 0, seeThrough = 0;
            for (int y = face.top(); y <= face.bottom(); ++y)
                for (int x = face.left(); x <= face.right(); ++x) {
                    const int a = qAlpha(img.pixel(x, y));
                    opaque += a == 255;
                    seeThrough += a < 200;
                }
            const int all = face.width() * face.height();
            if (stem == QLatin1String("b_mask")) {
                QVERIFY2(opaque == all, qPrintable(name + " cuts the legend"));
                QCOMPARE(qAlpha(img.pixel(0, 0)), 0);
                QCOMPARE(qAlpha(img.pixel(size.width() / 2, size.height() - 1)), 0);
            } else {
                // Frames and covers let the colour and the legend through.
                QVERIFY2(seeThrough == all, qPrintable(name + " hides the legend"));
            }
            if (stem == QLatin1String("b")) {
                // The cap itself is solid around the window.
                QCOMPARE(qAlpha(img.pixel(size.width() / 2, 1)), 255);
                QCOMPARE(qAlpha(img.pixel(2, size.height() / 2)), 255);
            }
        }
    }
    // The frames go down: the first and last differ, and so do the covers.
    QVERIFY(resourceImage("b1.png") != resourceImage("b6.png"));
    QVERIFY(resourceImage("color_cover_up1.png") != resourceImage("color_cover_up6.png"));
    QVERIFY(resourceImage("color_cover_up1.png") != resourceImage("color_cover_up_down1.png"));
}

void TestResources::hostPictures()
{
    const QStringList square{"app_icon.png", "rack_icon.png", "new.png", "delete.png", "start.png",
                             "stop.png", "started_yes.png", "started_no.png", "sign_ok.png",
                             "sign_notok.png", "comm.png"};
    for (const QString &n : square) {
        const QImage img = resourceImage(n);
        QVERIFY2(!img.isNull(), qPrintable(n));
        QCOMPARE(img.width(), img.height());
        QVERIFY2(img.hasAlphaChannel(), qPrintable(n));
    }
    QVERIFY(!resourceImage("splash.png").isNull());
    for (const QString n : {"b_LED1_mask1.png", "b_LED1_mask2.png", "b_LED2_mask1.png", "b_LED2_mask2.png"})
        QVERIFY2(!resourceImage(n).isNull(), qPrintable(n));

    // The comm indicator keeps only the mask's alpha: a lamp shape with a
    // clear margin, opaque in the middle.
    const QImage comm = resourceImage("comm.png").convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(qAlpha(comm.pixel(0, comm.height() / 2)), 0);
    QCOMPARE(qAlpha(comm.pixel(comm.width() - 1, comm.height() / 2)), 0);
    QCOMPARE(qAlpha(comm.pixel(comm.width() / 2, comm.height() / 2)), 255);
}

void TestResources::defaultConfigurations()
{
    const KST_PanelInfo info;
    QCOMPARE(info.typeCount(), 12);
    for (int type = 1; type <= info.typeCount(); ++type) {
        QFile res(info.defaultConfigResource(type));
        QVERIFY2(res.open(QIODevice::ReadOnly), qPrintable(res.fileName()));
        const QByteArray data = res.readAll();
        // A "CONFIG" container whose length field is its size.
        QVERIFY(data.startsWith("CONFIG"));
        QVERIFY(data.size() > 10);
        const quint32 len = (quint32(quint8(data[6])) << 24) | (quint32(quint8(data[7])) << 16)
                            | (quint32(quint8(data[8])) << 8) | quint32(quint8(data[9]));
        QCOMPARE(qsizetype(len), data.size());
        // The same bytes the tools and tests read from the source tree.
        QFile disk(QStringLiteral(TESS_CONFIG_DIR "/") + info.configFileName(type));
        QVERIFY2(disk.open(QIODevice::ReadOnly), qPrintable(disk.fileName()));
        QCOMPARE(data, disk.readAll());
    }
}

void TestResources::buzzerSound()
{
    QFile f(QStringLiteral(":/sound_buzzer.wav"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray wav = f.readAll();
    QVERIFY(wav.size() > 44);
    auto le16 = [&wav](int at) { return int(quint8(wav[at])) | int(quint8(wav[at + 1])) << 8; };
    auto le32 = [&](int at) { return quint32(le16(at)) | quint32(le16(at + 2)) << 16; };
    QCOMPARE(wav.mid(0, 4), QByteArray("RIFF"));
    QCOMPARE(qsizetype(le32(4)), wav.size() - 8);
    QCOMPARE(wav.mid(8, 8), QByteArray("WAVEfmt "));
    QCOMPARE(le16(20), 1);       // PCM
    QCOMPARE(le16(22), 1);       // mono
    QCOMPARE(le32(24), 22050u);  // the rate the host plays it at
    QCOMPARE(le16(34), 16);
    // The host plays everything after the first 44 bytes: the samples must
    // start there.
    QCOMPARE(wav.mid(36, 4), QByteArray("data"));
    QCOMPARE(qsizetype(le32(40)), wav.size() - 44);
    const int samples = int(wav.size() - 44) / 2;
    const double ms = samples * 1000.0 / 22050;
    QVERIFY2(ms >= 50 && ms <= 400, qPrintable(QString::number(ms)));
    int peak = 0;
    for (int i = 0; i < samples; ++i)
        peak = std::max(peak, std::abs(int(qint16(le16(44 + 2 * i)))));
    QVERIFY(peak > 8000 && peak < 32767);
    // Starts and ends near silence: no click.
    QVERIFY(std::abs(int(qint16(le16(44)))) < 2000);
    QVERIFY(std::abs(int(qint16(le16(wav.size() - 2)))) < 2000);
}

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
