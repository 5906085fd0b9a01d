// Layout files and the face builder: reading, flattening, setup, resize,
// mapped and custom pictures, and layouts that are broken or hostile.

#include "../qbuttondriver/bd_test_support.h"
#include "face_fixture.h"
#include "pan_imagecontainer.h"
#include "pan_item.h"
#include "pan_layout.h"
#include "pan_uibuilder.h"

#include <QBuffer>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QtTest>

#include <memory>

namespace {

const char *const kSizes = "<item_size><name>Panel</name><width>1200</width><height>240</height>"
                           "</item_size><item_size><name>Window</name><width>600</width>"
                           "<height>120</height></item_size><item_size><name>k</name>"
                           "<width>50</width><height>40</height></item_size>";

std::shared_ptr<PAN_Layout> layoutOf(const QByteArray &xml, bool *ok = nullptr)
{
    auto layout = std::make_shared<PAN_Layout>();
    QBuffer b;
    b.setData(xml);
    b.open(QIODevice::ReadOnly);
    const bool r = layout->load(&b);
    if (ok)
        *ok = r;
    return layout;
}

// A face's scene and builder over a picture directory of the test.
struct Face
{
    explicit Face(const QString &imageDir)
        : images(imageDir, nullptr), builder(&images, &scene, nullptr, nullptr)
    {
    }
    bool build(const QByteArray &xml, bool *readOk = nullptr)
    {
        builder.setLayout(layoutOf(xml, readOk));
        return builder.setup();
    }
    QList<int> ids() const
    {
        QList<int> out;
        for (const PAN_Item *i : builder.items())
            out << i->id();
        return out;
    }

    QGraphicsScene scene;
    PAN_ImageContainer images;
    PAN_UIBuilder builder;
};

QByteArray face(const QByteArray &groups, const char *sizes = kSizes)
{
    return QByteArray("<KTPPanel>") + sizes + groups + "</KTPPanel>";
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

} // namespace

class TstPanLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsEveryElement();
    void groupsAreFlattened();
    void idListsGapsAndShafts();
    void readerLogsAndLeniency();
    void setupFailuresAndDefaults();
    void resizeScalesTheFace();
    void mappedPictures();
    void customPictures();
    void truncatedLayoutsNeverCrash();
    void hostileLayouts();

private:
    QTemporaryDir m_pictures;
};

void TstPanLayout::initTestCase()
{
    QVERIFY(facefixture::writeKeyPictures(m_pictures.path()));
    QImage lamp(16, 16, QImage::Format_ARGB32);
    lamp.fill(QColor(1, 2, 3));
    QVERIFY(lamp.save(m_pictures.filePath("lamp.png")));
}

void TstPanLayout::readsEveryElement()
{
    bool ok = false;
    const auto L = layoutOf(readFile(LUMFACE_TEST_DATA "/face_small.xml"), &ok);
    QVERIFY(ok);
    QCOMPARE(L->backgroundImage(), QStringLiteral("bk.png"));
    QCOMPARE(L->backgroundRed(), 10);
    QCOMPARE(L->backgroundGreen(), 20);
    QCOMPARE(L->backgroundBlue(), 30);
    // Sizes inside the "sizes" container and beside it are the same.
    QCOMPARE(L->size("Panel"), QSize(400, 100));
    QCOMPARE(L->size("display"), QSize(100, 40));
    const PAN_Layout::ImageSequence key = L->sequence("key");
    QCOMPARE(key.frames, QStringList({"kf1.png", "kf2.png", "kf3.png"}));
    QCOMPARE(key.displayMasks, QStringList({"km1.png", "km2.png", "km3.png"}));
    QCOMPARE(key.colorCovers, QStringList({"kc1.png", "kc2.png", "kc3.png"}));
    QCOMPARE(key.durationFw, 60);
    QCOMPARE(key.durationRv, 200);
    QVERIFY(L->sequence("unknown").frames.isEmpty());

    // A later background starts from nothing; a later size replaces one.
    ok = false;
    const auto M = layoutOf("<x><background><image>a.png</image><color><red>9</red></color>"
                            "</background><background><color><blue>300</blue></color>"
                            "</background><item_size><name>k</name><width>1</width></item_size>"
                            "<deep><item_size><name>k</name><width>2</width><height>3</height>"
                            "</item_size></deep></x>",
                            &ok);
    QVERIFY(ok);
    QVERIFY(M->backgroundImage().isEmpty());
    QCOMPARE(M->backgroundRed(), 0);
    QCOMPARE(M->backgroundBlue(), 255);
    QCOMPARE(M->size("k"), QSize(2, 3));
}

void TstPanLayout::groupsAreFlattened()
{
    const auto L = layoutOf(readFile(LUMFACE_TEST_DATA "/face_small.xml"));
    // The untyped outer group only places its children.
    QCOMPARE(L->groups().size(), 5);
    QCOMPARE(L->groups().at(0).type, QStringLiteral("LCD"));
    QCOMPARE(QPoint(L->groups().at(0).offsetX, L->groups().at(0).offsetY), QPoint(10, 10));
    QCOMPARE(QPoint(L->groups().at(1).offsetX, L->groups().at(1).offsetY), QPoint(210, 10));
    QCOMPARE(QPoint(L->groups().at(2).offsetX, L->groups().at(2).offsetY), QPoint(10, 65));
    QVERIFY(L->groups().at(0).children.isEmpty());

    Face f(m_pictures.path());
    // A leaf at (0, 140) inside a group at (35, 15) starts at (35, 155); a
    // typed group with children makes its own items and theirs.
    QVERIFY(f.build(face("<group><offset_x>35</offset_x><offset_y>15</offset_y>"
                         "<group><offset_y>140</offset_y><type>LCD</type><size>k</size>"
                         "<item_id>1</item_id></group></group>"
                         "<group><type>LED</type><size>k</size><offset_x>100</offset_x>"
                         "<item_id>2</item_id><group><type>LCD</type><size>k</size>"
                         "<offset_x>7</offset_x><item_id>3</item_id>"
                         "<group><type>LCD</type><size>k</size><offset_x>1</offset_x>"
                         "<item_id>4</item_id></group></group></group>")));
    QCOMPARE(f.ids(), QList<int>({1, 2, 3, 4}));
    QCOMPARE(f.builder.item(1)->setup().pos, QPointF(35, 155));
    QCOMPARE(f.builder.item(2)->itemType(), int(PAN_Item::TypeLED));
    QCOMPARE(f.builder.item(3)->setup().pos, QPointF(107, 0));
    // Deeper levels add only their immediate parent's own offsets.
    QCOMPARE(f.builder.item(4)->setup().pos, QPointF(8, 0));
}

void TstPanLayout::idListsGapsAndShafts()
{
    Face f(m_pictures.path());
    // Listed ids come first, then the range, left to right; -1 keeps an
    // empty place of one width plus spacing.
    QVERIFY(f.build(face("<group><type>LCD</type><size>k</size><spacing>5.5</spacing>"
                         "<offset_x>10</offset_x><offset_y>20</offset_y>"
                         "<item_id>5</item_id><item_id>-1</item_id><item_id>9</item_id>"
                         "<item_range><id_first>1</id_first><id_last>3</id_last></item_range>"
                         "</group>"
                         // A reversed or half-given range adds nothing.
                         "<group><type>LCD</type><size>k</size><item_range><id_first>30"
                         "</id_first><id_last>20</id_last></item_range></group>"
                         "<group><type>LCD</type><size>k</size><item_range><id_first>40"
                         "</id_first></item_range></group>")));
    QCOMPARE(f.ids(), QList<int>({5, 9, 1, 2, 3}));
    const double step = 50 + 5.5;
    QCOMPARE(f.builder.item(5)->setup().pos, QPointF(10, 20));
    QCOMPARE(f.builder.item(9)->setup().pos, QPointF(10 + 2 * step, 20));
    QCOMPARE(f.builder.item(3)->setup().pos, QPointF(10 + 5 * step, 20));
    // Each item is stacked above the one before.
    QVERIFY(f.builder.item(9)->zValue() > f.builder.item(5)->zValue());

    // Shaft ids go to the items by position; step buttons find their shaft.
    Face s(m_pictures.path());
    bdtest::LogCapture log;
    QVERIFY(s.build(face("<group><type>Shaft</type><size>k</size><item_id>50</item_id>"
                         "<item_range><shaftid_first>7</shaftid_first><shaftid_last>7"
                         "</shaftid_last></item_range></group>"
                         "<group><type>Shaft_Up</type><size>k</size><item_id>51</item_id>"
                         "<item_id>52</item_id><item_range><shaftid_first>7</shaftid_first>"
                         "<shaftid_last>8</shaftid_last></item_range></group>")));
    QCOMPARE(s.builder.item(50)->shaftId(), 7);
    QCOMPARE(s.builder.item(51)->shaft(), s.builder.item(50));
    QCOMPARE(s.builder.item(52)->shaftId(), 8);
    QVERIFY(!s.builder.item(52)->shaft());
    QCOMPARE(log.starting("critical shaft not found 8").size(), 1);
}

void TstPanLayout::readerLogsAndLeniency()
{
    bdtest::LogCapture log;
    bool ok = false;
    const auto L = layoutOf(face("<group><type>LCD</type><size>k</size><colour>red<b>!</b></colour>"
                                 "<led_type>sparkly</led_type><item_id>7x</item_id>"
                                 "<spacing>nan</spacing><pushable>0</pushable>"
                                 "<keepaspect>2</keepaspect></group>"
                                 "<group><type>LED</type><size>k</size><led_type>lbt_UpDownColors"
                                 "</led_type><item_id>8</item_id></group>"),
                            &ok);
    QVERIFY(ok);
    QVERIFY(log.lines.contains("warning unrecognized tag: colour - red!"));
    QCOMPARE(log.starting("warning unrecognized led type : sparkly").size(), 1);
    const PAN_Layout::Group &g = L->groups().at(0);
    QCOMPARE(g.itemIds, QList<int>({0})); // a bad number reads as 0
    QCOMPARE(g.spacing, 0.0);             // and so does a real that is none
    QVERIFY(!g.pushable);
    QVERIFY(g.keepAspect);
    QCOMPARE(g.ledType, int(PAN_Layout::LedPlain));
    QCOMPARE(L->groups().at(1).ledType, int(PAN_Layout::LedUpDownColors));
    QCOMPARE(g.vacuumLineCount, 2);
    QCOMPARE(g.vacuumCharPerLine, 20);

    // An XML error keeps what was read before it.
    log.lines.clear();
    const auto M = layoutOf(face("<group><type>LCD</type><size>k</size><item_id>1</item_id>"
                                 "</group><group><type>LCD</type></oops>"),
                            &ok);
    QVERIFY(!ok);
    QCOMPARE(log.starting("warning PAN_Layout::load, xml error").size(), 1);
    QCOMPARE(M->size("k"), QSize(50, 40));
    QCOMPARE(M->groups().first().itemIds, QList<int>({1}));
}

void TstPanLayout::setupFailuresAndDefaults()
{
    const QByteArray panel = "<item_size><name>Panel</name><width>1200</width>"
                             "<height>240</height></item_size><item_size><name>k</name>"
                             "<width>50</width><height>40</height></item_size>";
    const QByteArray oneKey = "<group><type>LCD</type><size>k</size><item_id>1</item_id></group>";
    {
        // No Window size: a face all the same, and one warning.
        Face f(m_pictures.path());
        bdtest::LogCapture log;
        QVERIFY(f.build(face(oneKey, panel)));
        QCOMPARE(f.ids(), QList<int>({1}));
        QCOMPARE(log.starting("warning PAN_UIBuilder::setup Window size not found, setting to "
                              "[320,200]")
                     .size(),
                 1);
        QCOMPARE(f.builder.windowSize(), QSize(320, 200));
        QVERIFY(f.builder.upperOverlay() && f.builder.lowerOverlay());
        QVERIFY(!f.builder.lowerOverlay()->isVisible());
    }
    {
        // No Panel size: no face.
        Face f(m_pictures.path());
        bdtest::LogCapture log;
        QVERIFY(!f.build(face(oneKey, "<item_size><name>k</name><width>5</width></item_size>")));
        QVERIFY(f.ids().isEmpty());
        QCOMPARE(log.starting("critical PAN_UIBuilder::setup Panel size not found").size(), 1);
        QVERIFY(!f.builder.resize(600, 120, false));
        QCOMPARE(log.starting("critical PAN_UIBuilder::resize _reference_panesize invalid").size(),
                 1);
    }
    {
        Face f(m_pictures.path());
        bdtest::LogCapture log;
        QVERIFY(!f.build(face(oneKey, "<item_size><name>Panel</name><width>1200</width>"
                                      "</item_size><item_size><name>k</name></item_size>")));
        QCOMPARE(log.starting("critical PAN_UIBuilder::setup invalid Panel size [1200,0]").size(),
                 1);
    }
    {
        // Setup stops at the first unknown size or type; what it made stays.
        Face f(m_pictures.path());
        bdtest::LogCapture log;
        QVERIFY(!f.build(face(oneKey + "<group><type>LCD</type><size>nope</size><item_id>2"
                                       "</item_id></group>" + oneKey)));
        QCOMPARE(f.ids(), QList<int>({1}));
        QCOMPARE(log.starting("critical PAN_UIBuilder: size not found nope").size(), 1);
        QVERIFY(!f.build(face(oneKey + "<group><type>Knob</type><size>k</size><item_id>2"
                                       "</item_id></group>")));
        QCOMPARE(f.ids(), QList<int>({1}));
        QCOMPARE(log.starting("critical PAN_UIBuilder::setup, invalid type Knob").size(), 1);
        // Setting up again replaces the face.
        QVERIFY(f.build(face(oneKey)));
        QCOMPARE(f.ids(), QList<int>({1}));
        QCOMPARE(f.scene.items().size(), 3); // the key and the two overlays
    }
}

void TstPanLayout::resizeScalesTheFace()
{
    Face f(m_pictures.path());
    QVERIFY(f.build(readFile(LUMFACE_TEST_DATA "/face_small.xml")));
    QCOMPARE(f.builder.panelSize(), QSize(400, 100));
    QCOMPARE(f.scene.backgroundBrush().color(), QColor(10, 20, 30));
    QVERIFY(f.builder.resize(200, 50, false));
    QCOMPARE(f.scene.sceneRect(), QRectF(0, 0, 200, 50));
    QCOMPARE(f.builder.backgroundItem()->pixmap().size(), QSize(200, 50));
    QVERIFY(f.builder.backgroundItem()->zValue() < f.builder.item(1)->zValue());
    PAN_Item *k2 = f.builder.item(2);
    QCOMPARE(k2->pixelSize(), QSize(20, 20));
    QCOMPARE(k2->pos(), QPointF(30, 5)); // (10 + 50, 10) x 0.5
    QCOMPARE(k2->pixmap().size(), QSize(20, 20));
    // Sizes are truncated to whole pixels.
    QVERIFY(f.builder.resize(199, 49, false));
    QCOMPARE(k2->pixelSize(), QSize(19, 19));
    // A fast resize sizes the items but leaves them where they are.
    QVERIFY(f.builder.resize(400, 100, true));
    QCOMPARE(k2->pixelSize(), QSize(40, 40));
    QCOMPARE(k2->pos(), QPointF(29.85, 4.9));
    QCOMPARE(f.scene.sceneRect(), QRectF(0, 0, 199, 49));
    // A height of 0 changes nothing.
    QVERIFY(f.builder.resize(800, 0, false));
    QCOMPARE(k2->pixelSize(), QSize(40, 40));

    // A builder with its own container makes every picture again per size;
    // one given a shared container leaves it alone.
    QGraphicsScene scene;
    PAN_UIBuilder own(nullptr, &scene, nullptr, nullptr);
    QVERIFY(own.ownsImages());
    own.setLayout(layoutOf(face("<group><type>LCD</type><size>k</size><item_id>1</item_id>"
                                "<sequence>key</sequence></group>"
                                + facefixture::keySequence("key").toUtf8())));
    QVERIFY(own.setup());
    QVERIFY(!f.builder.ownsImages());
    const int shared = f.images.scaledCount();
    QVERIFY(f.builder.resize(300, 75, false));
    QVERIFY(f.images.scaledCount() > shared);
    PAN_UIBuilder none(nullptr, &scene, nullptr, nullptr);
    QVERIFY(!none.resize(10, 10, false));
}

void TstPanLayout::mappedPictures()
{
    Face f(m_pictures.path());
    QVERIFY(f.build(readFile(LUMFACE_TEST_DATA "/face_small.xml")));
    QFile mapper(LUMFACE_TEST_DATA "/mapper_small.xml");
    QVERIFY(mapper.open(QIODevice::ReadOnly));
    QVERIFY(f.builder.setupMappedImages(&mapper));
    PAN_Item *led20 = f.builder.item(20);
    QCOMPARE(led20->picture().toImage().pixelColor(3, 3), QColor(1, 2, 3));
    QVERIFY(led20->acceptsCustomPictures());
    QVERIFY(f.builder.item(21)->acceptsCustomPictures());
    QVERIFY(f.builder.item(21)->picture().isNull());
    // An entry for an LCD key has no effect.
    QVERIFY(f.builder.item(1)->picture().isNull());
    QVERIFY(!f.builder.item(1)->acceptsCustomPictures());

    bdtest::LogCapture log;
    QBuffer missing;
    missing.setData("<m><Item><id>21</id><image>gone.png</image></Item></m>");
    missing.open(QIODevice::ReadOnly);
    QVERIFY(f.builder.setupMappedImages(&missing));
    QCOMPARE(log.starting("warning PAN_UIBuilder::setupMappedImages, failed to load \"gone.png\"")
                 .size(),
             1);
    QBuffer broken;
    broken.setData("<m><Item><id>21</Item>");
    broken.open(QIODevice::ReadOnly);
    QVERIFY(!f.builder.setupMappedImages(&broken));
    QCOMPARE(log.starting("warning PAN_UIBuilder::load, xml error").size(), 1);
}

void TstPanLayout::customPictures()
{
    QTemporaryDir data;
    const QString ci = data.filePath("ci.xml");
    QImage red(8, 8, QImage::Format_ARGB32);
    red.fill(Qt::red);
    {
        Face f(m_pictures.path());
        QVERIFY(f.build(readFile(LUMFACE_TEST_DATA "/face_small.xml")));
        f.builder.setCustomImagesFile(ci);
        QVERIFY(!f.builder.loadCustomImages()); // no file yet
        QVERIFY(f.builder.setCustomImage(20, red));
        QVERIFY(f.builder.setCustomImage(999, red)); // kept even without an item
        QVERIFY(QFile::exists(ci));
        QVERIFY(readFile(ci).startsWith("<?xml version = '1.0'?>"));
    }
    {
        Face f(m_pictures.path());
        QVERIFY(f.build(readFile(LUMFACE_TEST_DATA "/face_small.xml")));
        f.builder.setCustomImagesFile(ci);
        bdtest::LogCapture log;
        QVERIFY(f.builder.loadCustomImages());
        QCOMPARE(f.builder.item(20)->picture().toImage().pixelColor(1, 1), QColor(Qt::red));
        QCOMPARE(log.starting("warning invalid button id 999").size(), 1);
        // Storing another picture keeps the one for the id the face lacks.
        QVERIFY(f.builder.setCustomImage(21, red));
        QCOMPARE(f.builder.customImages().keys(), QList<int>({20, 21, 999}));
    }
    {
        // A damaged file is reported and nothing is shown; the file stays.
        QFile damaged(ci);
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
        damaged.write("<?xml version = '1.0'?><arch><customImages><e><k>20</k>");
        damaged.close();
        Face f(m_pictures.path());
        QVERIFY(f.build(readFile(LUMFACE_TEST_DATA "/face_small.xml")));
        f.builder.setCustomImagesFile(ci);
        bdtest::LogCapture log;
        QVERIFY(!f.builder.loadCustomImages());
        QCOMPARE(log.starting("critical FAILED to parse custom image file " + ci).size(), 1);
        QVERIFY(f.builder.item(20)->picture().isNull());
        // Entries whose picture does not decode, or that lack a key, are skipped.
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
        damaged.write("<?xml version = '1.0'?><arch><customImages><e><k>20</k><v>bm90IGEgcG5n"
                      "</v></e><e><v>AAAA</v></e><e><k>21</k></e></customImages></arch>");
        damaged.close();
        QVERIFY(f.builder.loadCustomImages());
        QVERIFY(f.builder.customImages().isEmpty());
        // A file that cannot be written is reported.
        f.builder.setCustomImagesFile(data.filePath("no/such/dir/ci.xml"));
        QVERIFY(!f.builder.setCustomImage(20, red));
        QCOMPARE(log.starting("critical could not save custom images list").size(), 1);
    }
}

void TstPanLayout::truncatedLayoutsNeverCrash()
{
    const QByteArray full = readFile(LUMFACE_TEST_DATA "/face_small.xml");
    QVERIFY(!full.isEmpty());
    bdtest::LogCapture quiet;
    int partial = 0;
    for (int n = 0; n < full.size(); n += 7) {
        Face f(m_pictures.path());
        bool readOk = true;
        f.build(full.left(n), &readOk);
        QVERIFY2(!readOk, qPrintable(QString::number(n)));
        f.builder.resize(200, 50, false);
        f.builder.resize(37, 11, true);
        if (!f.builder.items().isEmpty())
            ++partial;
    }
    // Cut late enough, the face is partial rather than empty.
    QVERIFY(partial > 0);
    Face whole(m_pictures.path());
    bool readOk = false;
    QVERIFY(whole.build(full, &readOk));
    QVERIFY(readOk);
    QCOMPARE(whole.ids(), QList<int>({1, 2, 3, 4, 7, 20, 21, 30001, 1000}));
}

void TstPanLayout::hostileLayouts()
{
    bdtest::LogCapture log;
    {
        // Groups nested without end are refused before the reader's stack is.
        QByteArray deep = "<x><item_size><name>k</name><width>1</width></item_size>";
        for (int i = 0; i < 5000; ++i)
            deep += "<group><type>LCD</type><size>k</size>";
        bool ok = true;
        const auto L = layoutOf(deep + "</x>", &ok);
        QVERIFY(!ok);
        QVERIFY(!log.starting("warning PAN_Layout::load, xml error groups nested deeper than")
                     .isEmpty());
        QVERIFY(L->groups().size() <= PAN_Layout::MaxGroupDepth);
        // Deep unknown elements are only walked through.
        QByteArray wrappers;
        for (int i = 0; i < 100000; ++i)
            wrappers += "<w>";
        for (int i = 0; i < 100000; ++i)
            wrappers += "</w>";
        QVERIFY(layoutOf("<x>" + wrappers + "</x>", &ok)->groups().isEmpty());
        QVERIFY(layoutOf("<x><group><u>" + wrappers + "</u></group></x>", &ok)->groups().isEmpty());
    }
    {
        // A range of two billion ids builds nothing of it, and says why.
        Face f(m_pictures.path());
        log.lines.clear();
        QVERIFY(!f.build(face("<group><type>LCD</type><size>k</size><item_id>1</item_id></group>"
                              "<group><type>LCD</type><size>k</size><item_range><id_first>0"
                              "</id_first><id_last>2147483647</id_last></item_range></group>")));
        QCOMPARE(f.ids(), QList<int>({1}));
        QCOMPARE(log.starting("critical PAN_UIBuilder::setup, too many items").size(), 1);
        QVERIFY(f.build(face("<group><type>LCD</type><size>k</size><item_range><id_first>"
                             "-2147483647</id_first><id_last>-2147482624</id_last></item_range>"
                             "</group>")));
        QCOMPARE(f.ids().size(), int(PAN_UIBuilder::MaxItems));
    }
    {
        // Huge, negative and overflowing sizes and offsets: the face is laid
        // out, no item picture is larger than the face.
        Face f(m_pictures.path());
        QVERIFY(f.build(face("<group><type>LCD</type><sequence>key</sequence><size>huge</size>"
                             "<offset_x>2147483647</offset_x><spacing>1e308</spacing>"
                             "<item_id>1</item_id><item_id>2</item_id>"
                             "<group><type>LCD</type><size>neg</size><offset_x>2147483647"
                             "</offset_x><item_id>3</item_id></group></group>"
                             + facefixture::keySequence("key").toUtf8(),
                             "<item_size><name>Panel</name><width>1</width><height>1</height>"
                             "</item_size><item_size><name>Window</name><width>99999999"
                             "</width><height>5</height></item_size><item_size><name>huge"
                             "</name><width>2000000000</width><height>2000000000</height>"
                             "</item_size><item_size><name>neg</name><width>-50</width>"
                             "<height>10</height></item_size>")));
        QCOMPARE(f.builder.windowSize(), QSize(320, 200));
        QVERIFY(f.builder.resize(600, 120, false));
        for (const PAN_Item *i : f.builder.items()) {
            QVERIFY(i->pixelSize().width() <= 600 && i->pixelSize().height() <= 120);
            QVERIFY(std::isfinite(i->pos().x()) && std::isfinite(i->pos().y()));
        }
        QCOMPARE(f.builder.item(1)->pixelSize(), QSize(600, 120));
        QVERIFY(f.builder.item(3)->pixelSize().isEmpty());
        QVERIFY(f.builder.item(3)->pixmap().isNull());
    }
    {
        // Entity expansion is refused by the reader.
        QByteArray bomb = "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaaaaaaaa\">";
        QByteArray prev = "a";
        for (int i = 0; i < 9; ++i) {
            const QByteArray name = QByteArray(1, char('b' + i));
            bomb += "<!ENTITY " + name + " \"";
            for (int k = 0; k < 10; ++k)
                bomb += "&" + prev + ";";
            bomb += "\">";
            prev = name;
        }
        bomb += "]><x><group><name>&" + prev + ";</name><type>LCD</type></group></x>";
        bool ok = true;
        layoutOf(bomb, &ok);
        QVERIFY(!ok);
    }
    {
        // Missing pictures: logged, and the item still stands and presses.
        Face f(m_pictures.path());
        log.lines.clear();
        QVERIFY(f.build(face("<image_sequence><name>s</name><frame>nope.png</frame>"
                             "<display_mask>nomask.png</display_mask></image_sequence>"
                             "<background><image>nobk.png</image></background>"
                             "<group><type>LCD</type><size>k</size><sequence>s</sequence>"
                             "<item_id>1</item_id></group>")));
        QVERIFY(f.builder.resize(600, 120, false));
        QVERIFY(!log.starting("warning image load failed nope.png").isEmpty());
        QVERIFY(!log.starting("warning seq im not found nope.png").isEmpty());
        QVERIFY(!log.starting("warning im not found nomask.png").isEmpty());
        QVERIFY(!log.starting("warning image load failed nobk.png").isEmpty());
        QCOMPARE(f.builder.item(1)->pixelSize(), QSize(25, 20));
        QVERIFY(f.builder.item(1)->shape().contains(QPointF(12, 10)));
    }
}

QTEST_MAIN(TstPanLayout)
#include "tst_pan_layout.moc"
