// The face widget on the offscreen platform: mouse presses to key events,
// latching, shafts, the button driver's records on the face, dropped key
// pictures, fade-in, flashing and size.

#include "../qbuttondriver/bd_test_support.h"
#include "bd_records.h"
#include "button_setter_impl.h"
#include "face_fixture.h"
#include "kst_panelinfo.h"
#include "pan_connector.h"
#include "pan_imagecontainer.h"
#include "pan_item.h"
#include "pan_limiter.h"
#include "pan_uibuilder.h"
#include "pan_widget.h"

#include <QGraphicsPixmapItem>
#include <QMimeData>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

const QString kData = QStringLiteral(LUMFACE_TEST_DATA);

collector::CollectorMsg key(int id, int down)
{
    return collector::CollectorMsg(id, down);
}

collector::CollectorMsg turn(int shaft, int value)
{
    return collector::CollectorMsg(collector::CollectorMsg::ValueEvent, shaft, value);
}

QList<collector::CollectorMsg> messages(const QSignalSpy &spy)
{
    QList<collector::CollectorMsg> out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).value<collector::CollectorMsg>();
    return out;
}

// A right click through the window, as the platform delivers it: the press
// and then the context menu event Qt makes of it.
void rightClick(QWidget *viewport, const QPoint &pos)
{
    QWidget *top = viewport->window();
    QTest::mouseClick(top->windowHandle(), Qt::RightButton, {}, viewport->mapTo(top, pos));
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

namespace QTest {
template <>
char *toString(const collector::CollectorMsg &m)
{
    return qstrdup(QByteArray("{" + QByteArray::number(m.type) + "," + QByteArray::number(m.id) + ","
                              + QByteArray::number(m.value) + "," + QByteArray::number(m.extra)
                              + "}")
                       .constData());
}
} // namespace QTest

class TstPanWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void clickAndHold();
    void draggingOffAndItemsThatDoNotReport();
    void rightButtonLatching();
    void shaftsAndUtilityButtons();
    void buttonDriverPaintsTheFace();
    void displayOfTwoLinesOfEight();
    void layoutFilesAndFailures();
    void ownLayoutServesItsPanelOnly();
    void droppedKeyPictures();
    void sizeFadeInAndFlashing();
    void shippedFacesBuild();

private:
    // A face of face_small.xml at layout scale (400 x 100), shown and
    // focused.
    PAN_Widget *showFace(const PAN_WidgetOptions &options = noFade(), const QString &layout =
                                                                         "face_small.xml");
    static PAN_WidgetOptions noFade()
    {
        PAN_WidgetOptions o;
        o.splash = false;
        o.fadeIn = false;
        return o;
    }
    QPoint centreOf(PAN_Item *item) const;
    QString writeLayout(const QString &name, const QString &text);

    QTemporaryDir m_pictures;
    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<PAN_ImageContainer> m_images;
    std::unique_ptr<PAN_Widget> m_face;
};

void TstPanWidget::initTestCase()
{
    collector::registerMetaType();
    QVERIFY(facefixture::writeKeyPictures(m_pictures.path()));
    QImage lamp(16, 16, QImage::Format_ARGB32);
    lamp.fill(QColor(1, 2, 3));
    QVERIFY(lamp.save(m_pictures.filePath("lamp.png")));
    m_images = std::make_unique<PAN_ImageContainer>(m_pictures.path(), nullptr);
}

void TstPanWidget::init()
{
    m_data = std::make_unique<QTemporaryDir>();
    QFile::copy(kData + "/face_small.xml", m_data->filePath("face_small.xml"));
    QFile::copy(kData + "/mapper_small.xml", m_data->filePath("item_image_mapper.xml"));
}

void TstPanWidget::cleanup()
{
    m_face.reset();
}

PAN_Widget *TstPanWidget::showFace(const PAN_WidgetOptions &options, const QString &layout)
{
    m_face = std::make_unique<PAN_Widget>(nullptr, options, m_images.get());
    m_face->setDataDirectory(m_data->path());
    m_face->setFiles(layout, QStringLiteral("item_image_mapper.xml"), QStringLiteral("ci.xml"));
    m_face->setupUI();
    m_face->resize(m_face->builder()->panelSize().isEmpty() ? QSize(400, 100)
                                                             : m_face->builder()->panelSize());
    m_face->show();
    if (!QTest::qWaitForWindowActive(m_face.get()))
        qWarning("face window not active");
    m_face->view()->setFocus();
    QCoreApplication::processEvents();
    return m_face.get();
}

QPoint TstPanWidget::centreOf(PAN_Item *item) const
{
    const QPointF c = item->mapToScene(item->boundingRect().center());
    return m_face->view()->mapFromScene(c);
}

QString TstPanWidget::writeLayout(const QString &name, const QString &text)
{
    const QString path = m_data->filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(text.toUtf8());
    return name;
}

void TstPanWidget::clickAndHold()
{
    PAN_Widget *w = showFace();
    QSignalSpy spy(w, &PAN_Widget::collector_msg);
    QWidget *vp = w->view()->viewport();
    PAN_Item *k7 = w->item(7);
    QVERIFY(k7 && w->view()->hasFocus());

    // A click shorter than the 60 ms press animation: down and up, both at
    // the release, in that order.
    QTest::mousePress(vp, Qt::LeftButton, {}, centreOf(k7));
    QCOMPARE(spy.count(), 0);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, centreOf(k7));
    QCOMPARE(messages(spy), QList<collector::CollectorMsg>({key(7, 1), key(7, 0)}));
    QTRY_COMPARE(k7->pressState(), int(PAN_Item::StateIdle));

    // A held press: down after 60 ms, up at the release.
    spy.clear();
    QTest::mousePress(vp, Qt::LeftButton, {}, centreOf(k7));
    QCOMPARE(spy.count(), 0);
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(messages(spy).first(), key(7, 1));
    QTest::qWait(400); // held, with the grab check running
    QCOMPARE(spy.count(), 1);
    QCOMPARE(k7->pressState(), int(PAN_Item::StateHeld));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, centreOf(k7));
    QCOMPARE(messages(spy), QList<collector::CollectorMsg>({key(7, 1), key(7, 0)}));

    // A press whose view loses the focus is let go by the grab check.
    spy.clear();
    QTest::mousePress(vp, Qt::LeftButton, {}, centreOf(w->item(2)));
    QTRY_COMPARE(spy.count(), 1);
    w->view()->clearFocus();
    QTRY_COMPARE(spy.count(), 2);
    QCOMPARE(messages(spy).last(), key(2, 0));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, centreOf(w->item(2)));
    QCOMPARE(spy.count(), 2);
}

void TstPanWidget::draggingOffAndItemsThatDoNotReport()
{
    PAN_Widget *w = showFace();
    QSignalSpy spy(w, &PAN_Widget::collector_msg);
    QSignalSpy mouse(w, &PAN_Widget::mouse_event);
    QWidget *vp = w->view()->viewport();
    PAN_Item *k1 = w->item(1);

    // Dragging the pointer off a pressed key lets it go.
    QTest::mousePress(vp, Qt::LeftButton, {}, centreOf(k1));
    QTRY_COMPARE(spy.count(), 1);
    QTest::mouseMove(vp, centreOf(k1) + QPoint(5, 3));
    QCOMPARE(spy.count(), 1);
    QTest::mouseMove(vp, QPoint(150, 90));
    QCOMPARE(messages(spy), QList<collector::CollectorMsg>({key(1, 1), key(1, 0)}));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(150, 90));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(mouse.count(), 0);

    // A display (not pushable) and a decorative widget report nothing.
    spy.clear();
    for (int id : {1000, 30001}) {
        QTest::mouseClick(vp, Qt::LeftButton, {}, centreOf(w->item(id)));
        QTest::mousePress(vp, Qt::LeftButton, {}, centreOf(w->item(id)));
        QTest::qWait(100);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, centreOf(w->item(id)));
    }
    QCOMPARE(spy.count(), 0);
    // A press that no item takes goes to the rack window.
    QTest::mouseClick(vp, Qt::LeftButton, {}, QPoint(150, 90));
    QCOMPARE(mouse.count(), 1);
    QCOMPARE(mouse.first().at(0).value<QWidget *>(), static_cast<QWidget *>(w));
    // Outside a key's mask (its frame) is not the key.
    QTest::mouseClick(vp, Qt::LeftButton, {}, centreOf(k1) - QPoint(18, 18));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(mouse.count(), 2);
}

void TstPanWidget::rightButtonLatching()
{
    PAN_Widget *w = showFace();
    QSignalSpy spy(w, &PAN_Widget::collector_msg);
    QWidget *vp = w->view()->viewport();
    const QPoint k3 = centreOf(w->item(3));

    w->setContextMenuPolicy(Qt::CustomContextMenu);
    QSignalSpy menu(w, &QWidget::customContextMenuRequested);

    // Without latching only the left button presses keys: a right click on
    // a key is the face's context menu request, as over empty space; the
    // middle button does nothing.
    rightClick(vp, k3);
    QTest::mouseClick(vp, Qt::MiddleButton, {}, k3);
    QTest::qWait(100);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(menu.count(), 1);
    QCOMPARE(w->item(3)->pressState(), int(PAN_Item::StateIdle));
    // Another button's click while a key is held does not let it go.
    QTest::mousePress(vp, Qt::LeftButton, {}, k3);
    QTRY_COMPARE(spy.count(), 1);
    QTest::mouseClick(vp, Qt::RightButton, {}, k3);
    QTest::mouseClick(vp, Qt::MiddleButton, {}, k3);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(menu.count(), 1);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, k3);
    QCOMPARE(messages(spy), QList<collector::CollectorMsg>({key(3, 1), key(3, 0)}));
    spy.clear();
    // A press while the key still springs back is not taken by a latch.
    QTRY_COMPARE(w->item(3)->pressState(), int(PAN_Item::StateIdle));
    menu.clear();

    w->setLatching(true);
    QVERIFY(w->item(3)->latching());
    // A right click holds the key: down after 60 ms, up at the next right
    // press. The click was the key's: no context menu.
    rightClick(vp, k3);
    QCOMPARE(spy.count(), 0);
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(menu.count(), 0);
    // Over empty space the right button still asks for the menu.
    rightClick(vp, QPoint(150, 90));
    QCOMPARE(menu.count(), 1);
    QCOMPARE(spy.count(), 1);
    QTest::qWait(300); // the release of the click did not let it go
    QCOMPARE(spy.count(), 1);
    QTest::mousePress(vp, Qt::RightButton, {}, k3);
    QCOMPARE(messages(spy), QList<collector::CollectorMsg>({key(3, 1), key(3, 0)}));
    QTest::mouseRelease(vp, Qt::RightButton, {}, k3);
    QTRY_COMPARE(w->item(3)->pressState(), int(PAN_Item::StateIdle));

    // ... or by itself 5 s after it was latched, once.
    spy.clear();
    QTest::mouseClick(vp, Qt::RightButton, {}, k3);
    QTRY_COMPARE(spy.count(), 1);
    QTest::qWait(4000);
    QCOMPARE(spy.count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 3000);
    QCOMPARE(messages(spy).last(), key(3, 0));
    QTest::qWait(200);
    QCOMPARE(spy.count(), 2);

    // Left presses still work as always with latching on.
    spy.clear();
    QTest::mouseClick(vp, Qt::LeftButton, {}, k3);
    QCOMPARE(messages(spy), QList<collector::CollectorMsg>({key(3, 1), key(3, 0)}));
}

void TstPanWidget::shaftsAndUtilityButtons()
{
    const QString layout = writeLayout(
        "shafts.xml",
        "<p><item_size><name>Panel</name><width>400</width><height>100</height></item_size>"
        "<item_size><name>Window</name><width>400</width><height>100</height></item_size>"
        "<item_size><name>k</name><width>40</width><height>40</height></item_size>"
        "<group><type>Shaft</type><size>k</size><item_id>50</item_id><item_range>"
        "<shaftid_first>7</shaftid_first><shaftid_last>7</shaftid_last></item_range></group>"
        "<group><type>Shaft_Up</type><size>k</size><offset_x>100</offset_x><item_id>50</item_id>"
        "<item_range><shaftid_first>7</shaftid_first><shaftid_last>7</shaftid_last></item_range>"
        "</group><group><type>Shaft_Down</type><size>k</size><offset_x>150</offset_x>"
        "<item_id>50</item_id><item_range><shaftid_first>7</shaftid_first><shaftid_last>7"
        "</shaftid_last></item_range></group>"
        "<group><type>UtilButton</type><size>k</size><offset_x>250</offset_x><item_id>90"
        "</item_id><item_id>91</item_id></group></p>");
    PAN_Widget *w = showFace(noFade(), layout);
    QSignalSpy spy(w, &PAN_Widget::collector_msg);
    QWidget *vp = w->view()->viewport();
    const QList<PAN_Item *> items = w->builder()->items();
    PAN_Item *shaft = items.at(0), *up = items.at(1), *down = items.at(2);

    // The wheel on a shaft turns it: a type-2 event with the shaft id.
    const double before = shaft->angle();
    QWheelEvent wheel(QPointF(centreOf(shaft)), QPointF(vp->mapToGlobal(centreOf(shaft))),
                      QPoint(), QPoint(0, 240), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(vp, &wheel);
    QCOMPARE(messages(spy), QList<collector::CollectorMsg>({turn(7, 2)}));
    QVERIFY(shaft->angle() != before);
    // Pressing the shaft itself is a key.
    spy.clear();
    QTest::mouseClick(vp, Qt::LeftButton, {}, centreOf(shaft));
    QCOMPARE(messages(spy), QList<collector::CollectorMsg>({key(50, 1), key(50, 0)}));

    // A step button steps at once when its press is reported, then spins
    // the shaft while held.
    spy.clear();
    QTest::mousePress(vp, Qt::LeftButton, {}, centreOf(up));
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(messages(spy).first(), turn(7, 1));
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 3, 2000);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, centreOf(up));
    const int afterRelease = spy.count();
    QTest::qWait(400);
    QCOMPARE(spy.count(), afterRelease);
    for (const collector::CollectorMsg &m : messages(spy))
        QVERIFY(m.type == 2 && m.id == 7 && m.extra > 0);
    spy.clear();
    QTest::mouseClick(vp, Qt::LeftButton, {}, centreOf(down));
    QCOMPARE(messages(spy), QList<collector::CollectorMsg>({turn(7, -1)}));

    // Utility buttons report nothing; the configured one runs its action.
    spy.clear();
    int runs = 0;
    w->setUtilityAction(91, [&runs] { ++runs; });
    QTest::mouseClick(vp, Qt::LeftButton, {}, centreOf(items.at(3)));
    QCOMPARE(runs, 0);
    QTest::mouseClick(vp, Qt::LeftButton, {}, centreOf(items.at(4)));
    QCOMPARE(runs, 1);
    QCOMPARE(spy.count(), 0);
}

void TstPanWidget::buttonDriverPaintsTheFace()
{
    PAN_Widget *w = showFace();
    QMap<qint32, buttondriver::IButton *> buttons;
    w->collectButtons(buttons);
    QCOMPARE(buttons.keys(), QList<qint32>({1, 2, 3, 4, 7, 20, 21, 1000}));
    QCOMPARE(buttons.value(20)->kind(), 1);
    QCOMPARE(buttons.value(1000)->kind(), 3);
    QCOMPARE(static_cast<Connector *>(buttons.value(1000))->text(), QStringLiteral(":"));
    QCOMPARE(w->item(7)->connector(), w->connector(7));
    // Asked again, the face hands out the same connectors.
    QMap<qint32, buttondriver::IButton *> again;
    w->collectButtons(again);
    QCOMPARE(again, buttons);

    buttondriver::ButtonSetterImpl setter(QStringLiteral("/nonexistent/buttonlevel"));
    setter.setButtons(buttons);
    setter.process_messages({buttondriver::makeColor(7, 200, 10, 10),
                             buttondriver::makeText(7, "CAM\n1", 0),
                             buttondriver::makeColor(20, 0, 255, 0),
                             buttondriver::makeText(1000, "ON AIR", 0)});
    // For the first second the face keeps updates without drawing them.
    QVERIFY(!w->item(7)->color().isValid());
    QTRY_COMPARE_WITH_TIMEOUT(w->item(7)->color(), QColor(200, 10, 10), 2500);
    QCOMPARE(w->limiter()->batchSize(), 100);
    QVERIFY(w->item(7)->hasLegend());
    QCOMPARE(w->item(20)->color(), QColor(0, 255, 0));
    QCOMPARE(w->item(1000)->picture().size(), QSize(8 * 16, 16));
    // From then on records are drawn within a batch interval.
    setter.process_messages({buttondriver::makeColor(-1, 1, 2, 3)});
    // (The first connector of the burst may be drawn at once, the rest
    // with the next batch.)
    QTRY_COMPARE_WITH_TIMEOUT(w->item(1)->color(), QColor(1, 2, 3), 500);
    QTRY_COMPARE_WITH_TIMEOUT(w->item(20)->color(), QColor(1, 2, 3), 500);
    QVERIFY(!w->item(1000)->color().isValid());
    // Flashing runs through the same path.
    setter.process_messages({buttondriver::makeColor2(4, 255, 0, 0, 100, 0, 0, 255, 100)});
    QTRY_COMPARE_WITH_TIMEOUT(w->item(4)->color(), QColor(255, 0, 0), 500);
    QTRY_COMPARE_WITH_TIMEOUT(w->item(4)->color(), QColor(0, 0, 255), 500);
    setter.setButtons({});
}

void TstPanWidget::displayOfTwoLinesOfEight()
{
    const QString layout = writeLayout(
        "display28.xml",
        "<p><item_size><name>Panel</name><width>400</width><height>100</height></item_size>"
        "<item_size><name>d</name><width>100</width><height>40</height></item_size>"
        "<group><type>Vacuum</type><size>d</size><pushable>0</pushable><vacuum_line_count>2"
        "</vacuum_line_count><vacuum_char_per_line>8</vacuum_char_per_line><item_id>1000"
        "</item_id></group></p>");
    bdtest::LogCapture log;
    PAN_Widget *w = showFace(noFade(), layout);
    QMap<qint32, buttondriver::IButton *> buttons;
    w->collectButtons(buttons);
    w->limiter()->flush();
    PAN_Item *d = w->item(1000);
    QCOMPARE(d->picture().size(), QSize(100, 100));
    const QImage shown = d->pixmap().toImage();
    QCOMPARE(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(255, 0, 255));
    QCOMPARE(log.starting("critical unhandled vacuum line count case").size(), 1);
}

// A panel's own layout file is that panel's: faces sharing the cache read
// the built-in one of that name from their own directories. An own file
// that cannot be read gives way to the built-in layout, with one warning.
void TstPanWidget::ownLayoutServesItsPanelOnly()
{
    PAN_LayoutCache cache;
    QTemporaryDir own;
    QString wide = QString::fromUtf8(readFile(kData + "/face_small.xml"));
    wide.replace(QStringLiteral("<width>400</width>"), QStringLiteral("<width>800</width>"));
    QFile f(own.filePath("layout_testface.xml"));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(wide.toUtf8()) > 0);
    f.close();

    auto face = [&](const QString &dir, PAN_LayoutCache *layouts) {
        auto w = std::make_unique<PAN_Widget>(nullptr, noFade(), m_images.get(), layouts);
        w->setDataDirectory(dir);
        w->setFiles("layout_testface.xml", QString(), QString());
        return w;
    };
    auto a = face(own.path(), &cache);
    QVERIFY(a->setupUI());
    auto b = face(m_data->path(), &cache);
    QVERIFY(b->setupUI());
    QCOMPARE(a->panelSize(), QSize(800, 100));
    QCOMPARE(b->panelSize(), QSize(400, 100));
    auto c = face(own.path(), &cache);
    QVERIFY(c->setupUI());
    QCOMPARE(c->builder()->layout(), a->builder()->layout());

    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write("<KTPPanel><group>") > 0);
    f.close();
    bdtest::LogCapture log;
    auto d = face(own.path(), nullptr);
    QVERIFY(d->setupUI());
    QCOMPARE(d->panelSize(), QSize(400, 100));
    QCOMPARE(d->builder()->items().size(), 9);
    QCOMPARE(log.starting("warning layout " + own.filePath("layout_testface.xml")
                          + " cannot be read; the built-in layout :/layout_testface.xml is used")
                 .size(),
             1);
    QVERIFY(log.starting("critical UIBuilder").isEmpty());
}

void TstPanWidget::layoutFilesAndFailures()
{
    {
        // Neither on disk nor built in: logged, and an empty face that works.
        bdtest::LogCapture log;
        PAN_Widget w(nullptr, noFade(), m_images.get());
        w.setDataDirectory(m_data->path());
        w.setFiles("layout_nothing.xml", QString(), QString());
        QVERIFY(!w.setupUI());
        QCOMPARE(log.starting("critical failed to load layout layout_nothing.xml").size(), 1);
        QCOMPARE(log.starting("critical UIBuilder load failed").size(), 1);
        QCOMPARE(log.starting("critical UIBuilder setup failed").size(), 1);
        QVERIFY(w.isInitialised());
        QVERIFY(w.builder()->items().isEmpty());
        QMap<qint32, buttondriver::IButton *> none;
        w.collectButtons(none);
        QVERIFY(none.isEmpty());
        w.resize(300, 100);
    }
    {
        // The built-in layout is found by the lower-case name.
        bdtest::LogCapture log;
        PAN_Widget w(nullptr, noFade(), m_images.get());
        w.setDataDirectory(m_data->path());
        w.setFiles("LAYOUT_TESTFACE.XML", "no_mapper.xml", "ci.xml");
        QVERIFY(!w.setupUI()); // the mapper and custom pictures are missing
        QCOMPARE(w.builder()->items().size(), 9);
        QCOMPARE(log.starting("critical PAN_Widget::init, failed to load no_mapper.xml").size(), 1);
        QCOMPARE(log.starting("critical loadCustomImages failed ci.xml").size(), 1);
        QVERIFY(log.starting("critical failed to load layout").isEmpty());
    }
    {
        // A broken layout: the face is built from what could be read.
        const QByteArray full = readFile(kData + "/face_small.xml");
        writeLayout("cut.xml", QString::fromUtf8(full.left(full.indexOf("<group>", full.indexOf(
                                                                                        "<type>LED")))));
        bdtest::LogCapture log;
        PAN_Widget w(nullptr, noFade(), m_images.get());
        w.setDataDirectory(m_data->path());
        w.setFiles("cut.xml", QString(), QString());
        QVERIFY(!w.setupUI());
        QCOMPARE(log.starting("critical UIBuilder load failed").size(), 1);
        QVERIFY(!w.builder()->items().isEmpty());
    }
    {
        // A shared cache reads a layout once for every face.
        PAN_LayoutCache cache;
        PAN_Widget a(nullptr, noFade(), m_images.get(), &cache);
        a.setDataDirectory(m_data->path());
        a.setFiles("face_small.xml", QString(), QString());
        QVERIFY(a.setupUI());
        // Read once: the second face does not read the file again.
        writeLayout("face_small.xml", QStringLiteral("<KTPPanel><broken"));
        PAN_Widget b(nullptr, noFade(), m_images.get(), &cache);
        b.setDataDirectory(m_data->path());
        b.setFiles("face_small.xml", QString(), QString());
        QVERIFY(b.setupUI());
        QCOMPARE(b.builder()->items().size(), 9);
        QCOMPARE(b.builder()->layout(), a.builder()->layout());
    }
    {
        // A new layout rebuilds the face with new items and connectors.
        PAN_Widget *w = showFace(noFade(), "LAYOUT_TESTFACE.XML");
        QMap<qint32, buttondriver::IButton *> first;
        w->collectButtons(first);
        QPointer<Connector> old = w->connector(7);
        w->setFiles(writeLayout("one.xml",
                                "<p><item_size><name>Panel</name><width>100</width><height>50"
                                "</height></item_size><item_size><name>k</name><width>40</width>"
                                "<height>40</height></item_size><group><type>LCD</type><size>k"
                                "</size><item_id>7</item_id></group></p>"),
                    QString(), QString());
        QVERIFY(w->setupUI());
        QVERIFY(old.isNull());
        QCOMPARE(w->builder()->items().size(), 1);
        QCOMPARE(w->panelSize(), QSize(100, 50));
        QMap<qint32, buttondriver::IButton *> second;
        w->collectButtons(second);
        QCOMPARE(second.keys(), QList<qint32>({7}));
    }
}

void TstPanWidget::droppedKeyPictures()
{
    PAN_Widget *w = showFace();
    QWidget *vp = w->view()->viewport();
    QVERIFY(w->item(20)->acceptsCustomPictures());
    QVERIFY(!w->item(1)->acceptsCustomPictures());

    QImage red(12, 12, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << red;
    }
    QMimeData picture;
    picture.setData(PAN_Widget::ButtonImageMime, bytes);
    QMimeData text;
    text.setText(QStringLiteral("not a picture"));

    // Another MIME type is refused on entry.
    QDragEnterEvent enterText(centreOf(w->item(20)), Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(vp, &enterText);
    QVERIFY(!enterText.isAccepted());

    // A picture is welcome; the targets light up.
    QDragEnterEvent enter(centreOf(w->item(1)), Qt::CopyAction, &picture, Qt::LeftButton, {});
    QApplication::sendEvent(vp, &enter);
    QVERIFY(enter.isAccepted());
    // Over a key not marked custom: refused, and so is the drop.
    QDragMoveEvent overKey(centreOf(w->item(1)), Qt::CopyAction, &picture, Qt::LeftButton, {});
    QApplication::sendEvent(vp, &overKey);
    QVERIFY(!overKey.isAccepted());
    QDropEvent dropOnKey(QPointF(centreOf(w->item(1))), Qt::CopyAction, &picture, Qt::LeftButton,
                         {});
    QApplication::sendEvent(vp, &dropOnKey);
    QVERIFY(!dropOnKey.isAccepted());
    QVERIFY(!QFile::exists(m_data->filePath("ci.xml")));

    // Over LED 20: accepted, stored, shown.
    QApplication::sendEvent(vp, &enter);
    QDragMoveEvent overLed(centreOf(w->item(20)), Qt::CopyAction, &picture, Qt::LeftButton, {});
    QApplication::sendEvent(vp, &overLed);
    QVERIFY(overLed.isAccepted());
    QDropEvent drop(QPointF(centreOf(w->item(20))), Qt::CopyAction, &picture, Qt::LeftButton, {});
    QApplication::sendEvent(vp, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(drop.dropAction(), Qt::CopyAction);
    QCOMPARE(w->item(20)->picture().toImage().pixelColor(3, 3), QColor(Qt::red));
    QVERIFY(QFile::exists(m_data->filePath("ci.xml")));

    // The next face of this panel shows it from the file.
    m_face.reset();
    PAN_Widget *again = showFace();
    QCOMPARE(again->item(20)->picture().toImage().pixelColor(3, 3), QColor(Qt::red));

    // Data that is no picture is refused.
    QMimeData junk;
    junk.setData(PAN_Widget::ButtonImageMime, "garbage");
    QWidget *vp2 = again->view()->viewport();
    QDragEnterEvent enterJunk(centreOf(again->item(21)), Qt::CopyAction, &junk, Qt::LeftButton, {});
    QApplication::sendEvent(vp2, &enterJunk);
    QDragMoveEvent overJunk(centreOf(again->item(21)), Qt::CopyAction, &junk, Qt::LeftButton, {});
    QApplication::sendEvent(vp2, &overJunk);
    QDropEvent dropJunk(QPointF(centreOf(again->item(21))), Qt::CopyAction, &junk, Qt::LeftButton,
                        {});
    QApplication::sendEvent(vp2, &dropJunk);
    QVERIFY(!dropJunk.isAccepted());
    QVERIFY(again->item(21)->picture().isNull());
}

void TstPanWidget::sizeFadeInAndFlashing()
{
    const QString layout = writeLayout(
        "wide.xml",
        "<p><item_size><name>Panel</name><width>1200</width><height>240</height></item_size>"
        "<item_size><name>Window</name><width>600</width><height>120</height></item_size>"
        "<item_size><name>k</name><width>100</width><height>100</height></item_size>"
        "<group><type>LCD</type><size>k</size><item_id>1</item_id></group></p>");
    PAN_WidgetOptions fade;
    fade.splash = false;
    fade.fadeIn = true;
    PAN_Widget *w = showFace(fade, layout);
    QVERIFY(w->hasHeightForWidth());
    QCOMPARE(w->heightForWidth(600), 120);
    QCOMPARE(w->heightForWidth(1000), 200);
    QCOMPARE(w->sizeHint(), QSize(600, 120));

    // A size change hides the face, lays it out, then fades it in from black.
    w->resize(600, 120);
    QCOMPARE(w->view()->isVisible(), false);
    QTRY_VERIFY(w->view()->isVisible());
    QCOMPARE(w->item(1)->pixelSize(), QSize(50, 50));
    QGraphicsPixmapItem *fadeOverlay = w->builder()->upperOverlay();
    QVERIFY(fadeOverlay->isVisible());
    QCOMPARE(fadeOverlay->pixmap().size(), QSize(600, 120));
    const double start = fadeOverlay->opacity();
    QTest::qWait(80);
    QVERIFY(fadeOverlay->opacity() < start);
    QTRY_VERIFY(!fadeOverlay->isVisible());

    // Flashing shades the whole face every other half second.
    QGraphicsPixmapItem *flash = w->builder()->lowerOverlay();
    QVERIFY(!flash->isVisible());
    w->startFlash();
    QVERIFY(w->isFlashing());
    QTRY_VERIFY_WITH_TIMEOUT(flash->isVisible(), 1000);
    QCOMPARE(flash->opacity(), 0.5);
    QCOMPARE(flash->pixmap().size(), QSize(600, 120));
    QTRY_VERIFY_WITH_TIMEOUT(!flash->isVisible(), 1000);
    QTRY_VERIFY_WITH_TIMEOUT(flash->isVisible(), 1000);
    w->stopFlash();
    QVERIFY(!flash->isVisible());
    QVERIFY(!w->isFlashing());

    // Without a face yet, a size update waits for it.
    PAN_Widget late(nullptr, fade, m_images.get());
    late.setDataDirectory(m_data->path());
    late.setFiles(layout, QString(), QString());
    late.resize(300, 60); // the size of the smallest shipped faces
    late.show();
    QTest::qWait(120);
    QVERIFY(!late.view()->isVisible());
    late.setupUI();
    QTRY_VERIFY(late.view()->isVisible());
    QCOMPARE(late.item(1)->pixelSize(), QSize(25, 25));
}

void TstPanWidget::shippedFacesBuild()
{
    // Every built-in face builds, finds every picture it names and shows
    // what the button driver sends it.
    const KST_PanelInfo info;
    for (int type = 0; type <= info.typeCount(); ++type) {
        bdtest::LogCapture log;
        PAN_Widget w(nullptr, noFade()); // its own pictures: the built-in set
        w.setDataDirectory(m_data->path());
        w.setFiles(info.layoutFileName(type), QString(), QString());
        QVERIFY2(w.setupUI(), qPrintable(info.typeName(type)));
        w.resize(600, w.heightForWidth(600));
        w.show();
        QCoreApplication::processEvents();
        QStringList problems = log.starting("warning") + log.starting("critical");
        // The offscreen platform's own remark on showing a window.
        problems.removeIf([](const QString &l) { return l.contains("propagateSizeHints"); });
        QVERIFY2(problems.isEmpty(), qPrintable(info.typeName(type) + ": " + problems.join(" | ")));
        QCOMPARE(w.panelSize().width(), 1200);
        QMap<qint32, buttondriver::IButton *> buttons;
        w.collectButtons(buttons);
        if (type == 0) {
            QVERIFY(buttons.isEmpty());
            continue;
        }
        QVERIFY(buttons.contains(1));
        buttondriver::ButtonSetterImpl setter(QStringLiteral("/nonexistent/buttonlevel"));
        setter.setButtons(buttons);
        setter.process_messages({buttondriver::makeColor(1, 255, 0, 0),
                                 buttondriver::makeText(1, "CAM\n1", 0)});
        w.limiter()->flush();
        const QImage key = w.item(1)->pixmap().toImage();
        QVERIFY(!key.isNull());
        QCOMPARE(w.item(1)->color(), QColor(255, 0, 0));
        QVERIFY(w.item(1)->hasLegend());
        setter.setButtons({});
    }
}

QTEST_MAIN(TstPanWidget)
#include "tst_pan_widget.moc"
