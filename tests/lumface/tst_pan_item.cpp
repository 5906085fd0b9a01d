// Face items, their connectors and the update limiter: what an item draws,
// how display text looks, and how updates reach the items.

#include "../qbuttondriver/bd_test_support.h"
#include "face_fixture.h"
#include "legend.h"
#include "pan_connector.h"
#include "pan_displaytext.h"
#include "pan_imagecontainer.h"
#include "pan_item.h"
#include "pan_itemcallback.h"
#include "pan_limiter.h"

#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QtTest>

#include <memory>

namespace {

class Callback : public PAN_ItemCallback
{
public:
    void itemPressed(PAN_Item *item, bool down) override
    {
        events << QStringLiteral("%1 %2").arg(item->id()).arg(down ? "down" : "up");
    }
    void shaftTurned(PAN_Item *item, int value) override
    {
        events << QStringLiteral("%1 turn %2").arg(item->id()).arg(value);
    }
    QFont displayFont(int w, int h) override { return pan_display::fontForCell(w, h); }
    QStringList events;
};

QImage pictureOf(const PAN_Item &i)
{
    return i.pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
}

// Counts pixels of a colour (within a small tolerance) in an image.
int count(const QImage &img, const QColor &c, int tolerance = 8)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor p = img.pixelColor(x, y);
            if (p.alpha() > 200 && std::abs(p.red() - c.red()) <= tolerance
                && std::abs(p.green() - c.green()) <= tolerance
                && std::abs(p.blue() - c.blue()) <= tolerance)
                ++n;
        }
    return n;
}

} // namespace

class TstPanItem : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void faceColourLayers();
    void legendPictureAndFrame();
    void pressAnimationAndReports();
    void displayText();
    void connectorsFollowTheirItems();
    void limiterBatchesAndDifferences();

private:
    std::unique_ptr<PAN_Item> make(int type, int id, const QString &seq = QStringLiteral("key"),
                                   QSize size = QSize(100, 100));

    QTemporaryDir m_dir;
    std::unique_ptr<PAN_ImageContainer> m_images;
    Callback m_cb;
};

void TstPanItem::initTestCase()
{
    QVERIFY(facefixture::writeKeyPictures(m_dir.path()));
    m_images = std::make_unique<PAN_ImageContainer>(m_dir.path(), nullptr);
}

std::unique_ptr<PAN_Item> TstPanItem::make(int type, int id, const QString &seq, QSize size)
{
    PAN_Item::Setup s;
    s.type = type;
    s.id = id;
    s.size = size;
    if (seq == QLatin1String("key")) {
        for (int i = 1; i <= 3; ++i) {
            s.sequence.frames << QStringLiteral("kf%1.png").arg(i);
            s.sequence.displayMasks << QStringLiteral("km%1.png").arg(i);
            s.sequence.colorCovers << QStringLiteral("kc%1.png").arg(i);
        }
        s.sequence.durationFw = 60;
        s.sequence.durationRv = 200;
    } else if (seq == QLatin1String("mask")) {
        s.sequence.displayMasks << QStringLiteral("km1.png"); // just the face
    }
    auto item = std::make_unique<PAN_Item>(s, m_images.get(), &m_cb);
    item->resize(1, 1, false);
    return item;
}

void TstPanItem::faceColourLayers()
{
    auto lcd = make(PAN_Item::TypeLCD, 1, QStringLiteral("mask"));
    const QPoint mid(50, 50);
    // Never coloured: drawn as black would be, lightened to a visible grey.
    QCOMPARE(pictureOf(*lcd).pixelColor(mid), QColor(40, 40, 40));
    lcd->setColor(QColor(255, 0, 0));
    QCOMPARE(pictureOf(*lcd).pixelColor(mid), QColor(255, 0, 0));
    // Dark colours (squared length below 4800) are lifted by 40.
    lcd->setColor(QColor(60, 0, 0));
    QCOMPARE(pictureOf(*lcd).pixelColor(mid), QColor(100, 40, 40));
    lcd->setColor(QColor(40, 40, 40)); // 4800: kept
    QCOMPARE(pictureOf(*lcd).pixelColor(mid), QColor(40, 40, 40));
    // Outside the display mask the face is not drawn.
    QCOMPARE(pictureOf(*lcd).pixelColor(5, 5).alpha(), 0);

    // Two-colour keys: high nibbles above, low nibbles (moved up) below.
    PAN_Item::Setup s = lcd->setup();
    s.ledType = PAN_Layout::LedUpDownColors;
    PAN_Item split(s, m_images.get(), &m_cb);
    split.resize(1, 1, false);
    split.setColor(QColor(0xF3, 0x20, 0x0A));
    QCOMPARE(pictureOf(split).pixelColor(50, 30), QColor(0xF0, 0x20, 0x00));
    QCOMPARE(pictureOf(split).pixelColor(50, 70), QColor(0x30, 0x00, 0xA0));
    // The split comes after the lift: black gives 40 above and 0x80 below.
    split.setColor(QColor(0, 0, 0));
    QCOMPARE(pictureOf(split).pixelColor(50, 30), QColor(0x20, 0x20, 0x20));
    QCOMPARE(pictureOf(split).pixelColor(50, 70), QColor(0x80, 0x80, 0x80));
}

void TstPanItem::legendPictureAndFrame()
{
    auto lcd = make(PAN_Item::TypeLCD, 1);
    lcd->setColor(QColor(255, 255, 255));
    const int blackBefore = count(pictureOf(*lcd), Qt::black, 30);
    buttondriver::FaceImage img;
    buttondriver::renderLegend(img, QStringLiteral("AB"), 0);
    lcd->setLegendBitmap(img.toBitmap(2, 2));
    QVERIFY(lcd->hasLegend());
    const QImage withLegend = pictureOf(*lcd);
    QVERIFY(count(withLegend, Qt::black, 60) > blackBefore + 20);
    // The frame is drawn over the edge of the key, the legend inside the
    // mask's window only.
    const QColor edge = withLegend.pixelColor(50, 8);
    QVERIFY(edge.alpha() == 255 && edge.red() > 100);
    // A picture replaces the legend and is fitted into the window.
    QPixmap blue(10, 10);
    blue.fill(Qt::blue);
    lcd->setPicture(blue);
    QVERIFY(!lcd->hasLegend());
    QCOMPARE(pictureOf(*lcd).pixelColor(50, 50), QColor(Qt::blue));
    QCOMPARE(pictureOf(*lcd).pixelColor(18, 50), QColor(Qt::blue)); // window is 16..83
    // Text replaces the picture.
    lcd->setText(QStringLiteral("X"), 0);
    QVERIFY(lcd->picture().isNull());
    QVERIFY(count(pictureOf(*lcd), Qt::blue, 10) == 0);

    // The key's shape is its first mask; it is all that takes a press.
    QVERIFY(lcd->shape().contains(QPointF(50, 50)));
    QVERIFY(!lcd->shape().contains(QPointF(5, 5)));
    // Without masks the whole rectangle, and no face is drawn.
    auto widget = make(PAN_Item::TypeWidget, 30001, QStringLiteral("none"));
    QVERIFY(widget->shape().contains(QPointF(5, 5)));
    widget->setColor(Qt::red);
    QCOMPARE(count(pictureOf(*widget), Qt::red), 0);
    // keepaspect keeps the picture's proportions, centred.
    PAN_Item::Setup s = lcd->setup();
    s.keepAspect = true;
    s.size = QSizeF(200, 100);
    PAN_Item wide(s, m_images.get(), &m_cb);
    wide.resize(1, 1, false);
    QCOMPARE(wide.pixelSize(), QSize(200, 100));
    QCOMPARE(pictureOf(wide).pixelColor(20, 50).alpha(), 0);
    QVERIFY(wide.shape().contains(QPointF(100, 50)));
    QVERIFY(!wide.shape().contains(QPointF(40, 50)));
}

void TstPanItem::pressAnimationAndReports()
{
    QGraphicsScene scene; // no view: nothing has the focus
    m_cb.events.clear();
    PAN_Item *key = make(PAN_Item::TypeLCD, 7).release();
    scene.addItem(key);
    auto press = [&scene](Qt::MouseButton b, QEvent::Type t) {
        QGraphicsSceneMouseEvent e(t);
        e.setScenePos(QPointF(50, 50));
        e.setButton(b);
        e.setButtons(t == QEvent::GraphicsSceneMouseRelease ? Qt::NoButton : b);
        QApplication::sendEvent(&scene, &e);
    };
    press(Qt::LeftButton, QEvent::GraphicsSceneMousePress);
    QCOMPARE(key->pressState(), int(PAN_Item::StatePressing));
    QCOMPARE(key->frameIndex(), 0);
    // Down once the press animation is through (60 ms, the last frame);
    // the grab check (every 100 ms) then lets the key go, since no view has
    // the focus.
    QTRY_VERIFY(!m_cb.events.isEmpty());
    QCOMPARE(m_cb.events.first(), QStringLiteral("7 down"));
    QTRY_COMPARE(m_cb.events, QStringList({"7 down", "7 up"}));
    QTRY_COMPARE(key->pressState(), int(PAN_Item::StateIdle));
    QCOMPARE(key->frameIndex(), 0);
    // The release that follows finds the key idle and reports nothing more.
    press(Qt::LeftButton, QEvent::GraphicsSceneMouseRelease);
    QCOMPARE(m_cb.events.size(), 2);

    // Sequences without durations switch at once, and types that do not
    // report stay silent; an item without a callback logs.
    PAN_Item::Setup s = key->setup();
    s.sequence.durationFw = 0;
    s.sequence.durationRv = -5;
    s.pos = QPointF(200, 0);
    s.id = 8;
    PAN_Item *quick = new PAN_Item(s, m_images.get(), &m_cb);
    quick->resize(1, 1, false);
    scene.addItem(quick);
    s.type = PAN_Item::TypeWidget;
    s.pos = QPointF(400, 0);
    PAN_Item *deco = new PAN_Item(s, m_images.get(), nullptr);
    deco->resize(1, 1, false);
    scene.addItem(deco);
    s.type = PAN_Item::TypeLED;
    s.pos = QPointF(600, 0);
    PAN_Item *orphan = new PAN_Item(s, m_images.get(), nullptr);
    orphan->resize(1, 1, false);
    scene.addItem(orphan);
    m_cb.events.clear();
    bdtest::LogCapture log;
    quick->setPos(0, 200);
    QGraphicsSceneMouseEvent e(QEvent::GraphicsSceneMousePress);
    e.setButton(Qt::LeftButton);
    e.setButtons(Qt::LeftButton);
    e.setScenePos(QPointF(50, 250));
    QApplication::sendEvent(&scene, &e);
    // The grab check may already have let the key go on a slow machine, so
    // only the first report is fixed here; the release adds nothing twice.
    QTRY_VERIFY(!m_cb.events.isEmpty());
    QCOMPARE(m_cb.events.first(), QStringLiteral("8 down"));
    QVERIFY(std::isfinite(quick->progress()));
    QGraphicsSceneMouseEvent up(QEvent::GraphicsSceneMouseRelease);
    up.setButton(Qt::LeftButton);
    up.setScenePos(QPointF(50, 250));
    QApplication::sendEvent(&scene, &up);
    QCOMPARE(m_cb.events, QStringList({"8 down", "8 up"}));
    for (PAN_Item *i : {deco, orphan}) {
        QGraphicsSceneMouseEvent p(QEvent::GraphicsSceneMousePress);
        p.setButton(Qt::LeftButton);
        p.setButtons(Qt::LeftButton);
        p.setScenePos(i->pos() + QPointF(50, 50));
        QApplication::sendEvent(&scene, &p);
        QGraphicsSceneMouseEvent r(QEvent::GraphicsSceneMouseRelease);
        r.setButton(Qt::LeftButton);
        r.setScenePos(i->pos() + QPointF(50, 50));
        QApplication::sendEvent(&scene, &r);
    }
    QCOMPARE(log.starting("critical _item_cb NULL").size(), 2); // the LED: down and up
    QCOMPARE(m_cb.events, QStringList({"8 down", "8 up"}));
}

void TstPanItem::displayText()
{
    auto make = [this](int lines, int chars) {
        PAN_Item::Setup s;
        s.type = PAN_Item::TypeVacuum;
        s.id = 1000;
        s.size = QSizeF(100, 40);
        s.pushable = false;
        s.vacuumLineCount = lines;
        s.vacuumCharPerLine = chars;
        auto item = std::make_unique<PAN_Item>(s, m_images.get(), &m_cb);
        item->resize(1, 1, false);
        return item;
    };
    const QColor green = pan_display::textColor();
    QCOMPARE(green, QColor(150, 255, 50));

    // One line of 8: the panel's pixel font, lit green on the dark glass.
    auto one = make(1, 8);
    Connector c1(one.get(), nullptr, false);
    one->setConnector(&c1);
    c1.setText(QStringLiteral("HELLO"), 0);
    QVERIFY(!one->picture().isNull());
    QCOMPARE(one->picture().size(), QSize(8 * 8 * 2, 8 * 2));
    QVERIFY(count(pictureOf(*one), green, 40) > 10);
    QCOMPARE(pictureOf(*one).pixelColor(50, 20).alpha(), 255);
    // Colours never reach a display.
    c1.setColor(255, 0, 0);
    QVERIFY(!one->color().isValid());
    // A display's frame is its glass: drawn under the text, not over it.
    {
        PAN_Item::Setup s = one->setup();
        s.sequence.frames = QStringList({"vacuum_bk.png"});
        PAN_Item glass(s, m_images.get(), &m_cb);
        glass.resize(1, 1, false);
        Connector cg(&glass, nullptr, false);
        cg.setText(QStringLiteral("HELLO"), 0);
        QVERIFY(count(pictureOf(glass), green, 40) > 10);
        QCOMPARE(pictureOf(glass).pixelColor(0, 0).alpha() < 255, true); // its soft edge
    }
    QCOMPARE(pan_display::displayLines(QStringLiteral("ABCDEFGHIJ\nsecond"), 1, 8),
             QStringList({"ABCDEFGH"}));
    QCOMPARE(pan_display::displayLines(QStringLiteral("AB"), 2, 4), QStringList({"AB  ", "    "}));

    // Two lines need 20 characters each; anything else is the magenta square.
    bdtest::LogCapture log;
    auto two = make(2, 20);
    Connector c2(two.get(), nullptr, false);
    c2.setText(QStringLiteral("UPPER\nLOWER"), 0);
    QCOMPARE(two->picture().size(), QSize(20 * 16, 32));
    QVERIFY(log.starting("critical unhandled").isEmpty());
    for (const QPoint lc : {QPoint(2, 8), QPoint(3, 20), QPoint(0, 8), QPoint(1, 0),
                            QPoint(1, 1000000)}) {
        auto bad = make(lc.x(), lc.y());
        Connector c(bad.get(), nullptr, false);
        log.lines.clear();
        c.setText(QStringLiteral("TEXT"), 0);
        QCOMPARE(bad->picture().size(), QSize(100, 100));
        QCOMPARE(pictureOf(*bad).pixelColor(50, 20), QColor(255, 0, 255));
        QCOMPARE(log.starting("critical unhandled vacuum line count case").size(), 1);
    }

    // Item text: drawn with the display font at the item's own size.
    auto text = make(1, 8);
    Connector ct(text.get(), nullptr, true);
    ct.setText(QStringLiteral("OK"), 0);
    QCOMPARE(text->text(), QStringLiteral("OK"));
    QVERIFY(text->picture().isNull());
    const QImage drawn = pictureOf(*text);
    QVERIFY(count(drawn, green, 60) > 3);
    QCOMPARE(drawn.pixelColor(95, 20), pan_display::backgroundColor());
    // The cell font fits its cell.
    const QFont f = pan_display::fontForCell(12, 20);
    QVERIFY(QFontMetrics(f).horizontalAdvance('O') <= 12);
    QVERIFY(QFontMetrics(f).height() <= 20);
    QVERIFY(f.fixedPitch() && f.bold());
}

void TstPanItem::connectorsFollowTheirItems()
{
    auto lcd = make(PAN_Item::TypeLCD, 4);
    auto led = make(PAN_Item::TypeLED, 5);
    auto disp = make(PAN_Item::TypeVacuum, 1001);
    Connector cl(lcd.get(), nullptr, false), cled(led.get(), nullptr, false),
        cd(disp.get(), nullptr, false);
    QCOMPARE(cl.id(), 4);
    QCOMPARE(cl.kind(), 2);
    QCOMPARE(cled.kind(), 1);
    QVERIFY(cled.isLED() && !cl.isLED());
    QCOMPARE(cd.kind(), 3);
    QVERIFY(!cl.isVirtual());
    QCOMPARE(cl.tag(), -1);

    // Two lines, line 1 inverted: the legend is the panel's own rendering.
    cl.setText(QStringLiteral("AB\nCD"), 0x02);
    buttondriver::FaceImage expected;
    buttondriver::renderLegend(expected, QStringLiteral("AB\nCD"), 0x02);
    QVERIFY(cl.pictureValid());
    QCOMPARE(cl.imageId(), -1);
    QVERIFY(cl.image() == expected);
    QVERIFY(lcd->hasLegend());
    // Line 1 inverted: the glyphs' empty top row is a lit bar under both
    // characters (8-pixel blocks at a 7-pixel pitch from column 11: 15
    // pixels); line 2's is dark.
    int top = 0, bottom = 0;
    for (int x = 0; x < 36; ++x) {
        top += cl.image().pixel(x, 0);
        bottom += cl.image().pixel(x, 12);
    }
    QCOMPARE(top, 15);
    QCOMPARE(bottom, 0);
    // A stored picture replaces it; refresh shows the picture again.
    buttondriver::FaceImage pic;
    pic.setPixels(0, 0, 0xff);
    cl.setImage(pic, 12);
    QCOMPARE(cl.imageId(), 12);
    lcd->setPicture(QPixmap()); // something else drew on the item
    cl.refresh();
    QVERIFY(lcd->hasLegend());
    // A blank picture shows no legend at all.
    cl.setImage(buttondriver::FaceImage(), 3);
    QVERIFY(!lcd->hasLegend());
    // With item text the key gets text and flags as they are.
    Connector ctext(lcd.get(), nullptr, true);
    ctext.setText(QStringLiteral("X\nY"), 0x04);
    QCOMPARE(lcd->text(), QStringLiteral("X\nY"));
    QCOMPARE(lcd->textFlags(), 0x04);
    // LEDs take colours but no legends; displays no pictures.
    cled.setColor(1, 2, 3);
    QCOMPARE(led->color(), QColor(1, 2, 3));
    cled.setText(QStringLiteral("NO"), 0);
    QVERIFY(led->text().isEmpty() && !led->hasLegend());
    cd.setImage(pic, 1);
    QVERIFY(disp->picture().isNull());

    // A connector outliving its item does nothing.
    auto gone = make(PAN_Item::TypeLCD, 9);
    Connector cg(gone.get(), nullptr, false);
    gone->setConnector(&cg);
    gone.reset();
    cg.setColor(1, 1, 1);
    cg.setText(QStringLiteral("A"), 0);
    QCOMPARE(cg.id(), -1);
}

void TstPanItem::limiterBatchesAndDifferences()
{
    PAN_Limiter limiter;
    std::vector<std::unique_ptr<PAN_Item>> items;
    std::vector<std::unique_ptr<Connector>> cons;
    for (int i = 0; i < 150; ++i) {
        items.push_back(make(PAN_Item::TypeLCD, i + 1, QStringLiteral("mask"), QSize(10, 10)));
        cons.push_back(std::make_unique<Connector>(items.back().get(), &limiter, false));
        items.back()->setConnector(cons.back().get());
    }
    // Before the enabler: kept, not drawn.
    cons[0]->setColor(255, 0, 0);
    cons[0]->setColor(0, 255, 0);
    cons[0]->setText(QStringLiteral("A"), 0);
    QCOMPARE(limiter.queued(), 1);
    QVERIFY(!items[0]->color().isValid());
    QTest::qWait(50);
    limiter.timerUpdate(); // batch size 0
    QVERIFY(!items[0]->color().isValid());
    QCOMPARE(limiter.batchSize(), 0);
    limiter.timerUpdateEnabler();
    QCOMPARE(limiter.batchSize(), 100);
    QCOMPARE(limiter.interval(), 33);
    limiter.timerUpdate();
    QCOMPARE(items[0]->color(), QColor(0, 255, 0)); // only the latest
    QVERIFY(items[0]->hasLegend());
    QCOMPARE(limiter.queued(), 0);
    QVERIFY(!limiter.timerActive());

    // At most a batch per tick; the timer carries on until all are done.
    for (auto &c : cons)
        c->setColor(1, 2, 3);
    QVERIFY(limiter.queued() >= 49);
    QVERIFY(limiter.timerActive() || limiter.queued() == 0);
    QTRY_COMPARE(limiter.queued(), 0);
    QCOMPARE(items[149]->color(), QColor(1, 2, 3));
    QTRY_VERIFY(!limiter.timerActive());

    // An update some time after a batch waits only for the rest of the
    // interval, so a steady stream of updates is drawn once per interval;
    // a batch that leaves some queued goes on at the full interval. (A
    // machine too busy to come back within the interval is not judged.)
    QElapsedTimer sinceBatch;
    limiter.flush();
    sinceBatch.start();
    QTest::qWait(10);
    const qint64 waited = sinceBatch.elapsed();
    cons[5]->setColor(7, 7, 7);
    if (waited < 30) {
        QVERIFY(limiter.timerActive());
        QVERIFY2(limiter.timerRemainingMs() <= 33 - waited + 2,
                 qPrintable(QStringLiteral("%1 after %2").arg(limiter.timerRemainingMs()).arg(waited)));
    }
    for (auto &c : cons)
        c->setColor(7, 7, 8);
    QCOMPARE(limiter.queued(), 150);
    limiter.timerUpdate();
    QCOMPARE(limiter.queued(), 50);
    QVERIFY(limiter.timerActive());
    QVERIFY(limiter.timerRemainingMs() > 25);
    QTRY_COMPARE(limiter.queued(), 0);

    // A batch that runs a little late keeps its slot: the next one is due
    // one interval after the slot, not after the late batch, so lateness
    // does not add up over a steady stream.
    limiter.flush();
    sinceBatch.restart();
    for (auto &c : cons)
        c->setColor(9, 9, 9);
    QTest::qSleep(40); // the GUI thread busy past the slot at 33 ms
    limiter.timerUpdate();
    const qint64 late = sinceBatch.elapsed();
    QCOMPARE(limiter.queued(), 50);
    if (late < 60) {
        const int left = limiter.timerRemainingMs();
        QVERIFY2(left >= 66 - late - 3 && left <= 66 - late + 1,
                 qPrintable(QStringLiteral("%1 after %2").arg(left).arg(late)));
    }
    QTRY_COMPARE(limiter.queued(), 0);
    for (auto &c : cons)
        c->setColor(1, 2, 3);
    limiter.flush();

    // Only what differs from what was last applied is applied again;
    // refresh applies everything.
    items[0]->setColor(Qt::white); // drawn over behind the limiter's back
    cons[0]->setColor(1, 2, 3);
    limiter.flush();
    QCOMPARE(items[0]->color(), QColor(Qt::white));
    cons[0]->refresh();
    limiter.flush();
    QCOMPARE(items[0]->color(), QColor(1, 2, 3));
    // A picture, a legend, then the first picture again: the key ends with
    // the picture (the legend came between).
    buttondriver::FaceImage p1;
    p1.setPixels(0, 0, 0xf0);
    cons[1]->setImage(p1, 30);
    limiter.flush();
    cons[1]->setText(QStringLiteral("T"), 0);
    limiter.flush();
    cons[1]->setImage(p1, 30);
    limiter.flush();
    QVERIFY(cons[1]->pictureValid());
    QCOMPARE(cons[1]->imageId(), 30);
    QVERIFY(cons[1]->image() == p1);
    QVERIFY(items[1]->hasLegend());

    // A queued connector that is destroyed leaves nothing behind.
    cons[2]->setColor(9, 9, 9);
    cons[3]->setColor(9, 9, 9);
    cons[2].reset();
    limiter.flush();
    QCOMPARE(items[3]->color(), QColor(9, 9, 9));
    // Its place is taken by the next connector made.
    Connector fresh(items[2].get(), &limiter, false);
    fresh.setColor(4, 4, 4);
    limiter.flush();
    QCOMPARE(items[2]->color(), QColor(4, 4, 4));
    // A refresh of a connector that was never given anything does nothing.
    Connector idle(items[4].get(), &limiter, false);
    idle.refresh();
    QCOMPARE(limiter.queued(), 0);
}

QTEST_MAIN(TstPanItem)
#include "tst_pan_item.moc"
