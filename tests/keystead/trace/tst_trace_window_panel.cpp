// The trace window of a running panel against the router simulator: opened
// from the face's context menu, it shows the take of keys pressed on the
// face as the firmware traces it, and switches the trace off when closed.

#include "kst_panelinfo.h"
#include "kst_panelinstance.h"
#include "kst_tracewindow.h"
#include "pan_imagecontainer.h"
#include "pan_item.h"
#include "tiny_pictures.h"
#include "../../support/child_process.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const int kSK2000A = 10;

// Key 5 presets source 6, key 7 takes it to destination 1 on level V.
QByteArray configFile()
{
    const QByteArray payload =
        QByteArray(43, '#') + "\n"
        "obj Configsettings() { numSources=16 numDestinations=16 numLevels=1 }\n"
        "obj KnownLevels() { obj Level(1) { lN=\"Video\" } }\n"
        "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n"
        "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
        " obj Btn(5) { bT=\"Source Preset\" bV=6 } obj Btn(7) { bT=\"Take\" } } } }\n";
    const quint32 n = quint32(payload.size() + 10);
    QByteArray f("CONFIG");
    f.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    return f + payload;
}

bool shows(KST_TraceWindow *w, const QString &pattern)
{
    const QRegularExpression re(pattern);
    for (const QString &l : w->lines())
        if (re.match(l).hasMatch())
            return true;
    return false;
}

// A point of the face's view that no key covers.
QPoint emptySpot(PAN_Widget *face)
{
    QGraphicsView *view = face->view();
    const QRect r = view->viewport()->rect();
    for (int y = r.top() + 1; y < r.bottom(); y += 3)
        for (int x = r.left() + 1; x < r.right(); x += 3) {
            bool free = true;
            for (QGraphicsItem *i : view->items(QPoint(x, y))) {
                auto *item = dynamic_cast<PAN_Item *>(i);
                free = free && !(item && item->pushable());
            }
            if (free)
                return QPoint(x, y);
        }
    return QPoint(-1, -1);
}

QPoint centreOf(PAN_Widget *face, int id)
{
    PAN_Item *item = face->item(id);
    return item ? face->view()->mapFromScene(item->sceneBoundingRect().center()) : QPoint();
}

} // namespace

class TestTraceWindowPanel : public QObject
{
    Q_OBJECT

    QTemporaryDir m_base;
    QTemporaryDir m_pictures;
    std::unique_ptr<KST_PanelInfo> m_info;
    PAN_LayoutCache m_layouts;
    std::unique_ptr<PAN_ImageContainer> m_images;
    KST_FaceResources m_faces;
    QWidget m_rack;

private slots:
    void initTestCase()
    {
        QVERIFY(m_base.isValid());
        qputenv("TESSALINE_BASE_DIR", QFile::encodeName(m_base.path()));
        m_info = std::make_unique<KST_PanelInfo>();
        QVERIFY(writeTinyPictures(m_pictures.path()));
        m_images = std::make_unique<PAN_ImageContainer>(m_pictures.path(), nullptr);
        m_faces.images = m_images.get();
        m_faces.layouts = &m_layouts;
        m_faces.options.splash = false;
        m_faces.options.fadeIn = false;
    }

    void takeFromTheFaceInTheWindow()
    {
        ChildProcess router;
        QVERIFY(router.start(QStringLiteral(ROUTERSIM),
                             {QStringLiteral("--bind"), QStringLiteral("127.0.0.147:2001"),
                              QStringLiteral("--panel"), QStringLiteral("127.0.0.148:24790"),
                              QStringLiteral("--poll-ms"), QStringLiteral("300")}));
        auto p = std::make_unique<KST_PanelInstance>(21);
        p->init(&m_rack, m_info.get(), m_faces, QStringLiteral(TESSFW_LIBRARY));
        QVERIFY(p->setPanelType(kSK2000A));
        QVERIFY(p->setIP(QStringLiteral("127.0.0.148")));
        QVERIFY(p->setPanelPort(24790));
        const QString dir = p->traceDirectory();
        QCOMPARE(dir, m_base.path() + QStringLiteral("/data/p21"));
        QVERIFY(QDir().mkpath(dir));
        QFile cfg(p->configPath());
        QVERIFY(cfg.open(QIODevice::WriteOnly));
        QVERIFY(cfg.write(configFile()) > 0);
        cfg.close();

        PAN_Widget *face = p->face();
        QVERIFY(face);
        m_rack.resize(900, 400);
        face->setGeometry(0, 0, 900, 300);
        face->show();
        m_rack.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_rack));
        QTRY_VERIFY(face->view()->isVisible() && face->item(7));

        // The face's context menu opens the window, which switches the
        // trace on before the panel starts.
        const QPoint spot = emptySpot(face);
        QVERIFY(spot.x() >= 0);
        // Through the window, as the platform delivers it: the press, then
        // the context menu event Qt makes of it.
        QWidget *vp = face->view()->viewport();
        QTest::mouseClick(m_rack.windowHandle(), Qt::RightButton, {}, vp->mapTo(&m_rack, spot));
        auto *menu = face->findChild<QMenu *>();
        QVERIFY(menu);
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("Protocol trace"));
        menu->actions().first()->trigger();
        menu->close();
        KST_TraceWindow *w = KST_TraceWindow::windowFor(dir);
        QVERIFY(w);
        QVERIFY(w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("Protocol trace - ") + p->summary());
        QVERIFY(QFile::exists(dir + QStringLiteral("/TRACE")));
        // The panel's one window comes up again.
        p->showProtocolTrace();
        QCOMPARE(KST_TraceWindow::windowFor(dir), w);

        QVERIFY(p->start(0));
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), KST_PanelInstance::Started, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(shows(w, QStringLiteral("--- trace on$")), 20000);
        QTRY_VERIFY2_WITH_TIMEOUT(
            shows(w, QStringLiteral("out 127\\.0\\.0\\.147:2001 seq id \\d+ ack \\d+ ext 0 \\| y ")),
            qPrintable(w->lines().join('\n')), 20000);

        // Pressed on the face with the mouse, as an operator does.
        for (int id : {5, 7}) {
            QTest::mousePress(vp, Qt::LeftButton, {}, centreOf(face, id));
            QTest::qWait(150);
            QTest::mouseRelease(vp, Qt::LeftButton, {}, centreOf(face, id));
            QTest::qWait(150);
        }
        QTRY_VERIFY2_WITH_TIMEOUT(shows(w, QStringLiteral("--- key 7 pressed$")),
                                  qPrintable(w->lines().join('\n')), 10000);
        QTRY_VERIFY2_WITH_TIMEOUT(
            shows(w, QStringLiteral("out 127\\.0\\.0\\.147:2001 seq id \\d+ ack \\d+ ext 0 \\| "
                                    "Q \"\\.SV001,006\\\\r\" take levels V dest 1 src 6$")),
            qPrintable(w->lines().join('\n')), 10000);
        QTRY_VERIFY2_WITH_TIMEOUT(
            shows(w, QStringLiteral("in  127\\.0\\.0\\.147:2001 seq id \\d+ ack \\d+ ext 0 \\| "
                                    "Q \"\\.UV001,006\\\\r\" tally levels V dest 1 src 6$")),
            qPrintable(w->lines().join('\n')), 10000);

        // Closing the window switches the trace off; the firmware says so
        // in the file.
        w->close();
        QTRY_VERIFY(!KST_TraceWindow::windowFor(dir));
        QVERIFY(!QFile::exists(dir + QStringLiteral("/TRACE")));
        auto traceFile = [&dir] {
            QFile f(dir + QStringLiteral("/trace.txt"));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        QTRY_VERIFY2_WITH_TIMEOUT(traceFile().trimmed().endsWith("--- trace off"),
                                  traceFile().right(300).constData(), 5000);

        // Opened again, it shows what was traced; a panel taken away takes
        // its window with it.
        w = KST_TraceWindow::showFor(p->traceDirectory(), p->summary(), p.get());
        QVERIFY(w);
        QVERIFY(shows(w, QStringLiteral("take levels V dest 1 src 6$")));
        QVERIFY(p->stop());
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), KST_PanelInstance::Stopped, 10000);
        p.reset();
        QTRY_VERIFY(!KST_TraceWindow::windowFor(dir));
        QVERIFY(!QFile::exists(dir + QStringLiteral("/TRACE")));
    }
};

QTEST_MAIN(TestTraceWindowPanel)
#include "tst_trace_window_panel.moc"
