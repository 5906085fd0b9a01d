// Rack windows: faces laid out for the width with the scroll bar only when
// they do not fit, faces growing in and shrinking out, the fade-in, snapping
// to the screen's edges and the frame modes.

#include "kst_data.h"
#include "kst_rack.h"
#include "kst_rackwidget.h"
#include "pan_imagecontainer.h"
#include "tiny_pictures.h"
#include "../../support/log_recorder.h"

#include <QCloseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// A face of fixed aspect: height = width / aspect.
class AspectFace : public QWidget
{
public:
    explicit AspectFace(int aspect) : m_aspect(aspect) {}
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int w) const override { return w / m_aspect; }

private:
    int m_aspect;
};

void waitSettled(KST_RackWidget *w)
{
    QTRY_VERIFY_WITH_TIMEOUT(!w->isAnimating(), 2000);
}

} // namespace

class TestRackWidget : public QObject
{
    Q_OBJECT

    QTemporaryDir m_pictures;
    std::unique_ptr<PAN_ImageContainer> m_images;

private slots:
    void initTestCase()
    {
        log_recorder::install();
        QVERIFY(writeTinyPictures(m_pictures.path()));
        m_images = std::make_unique<PAN_ImageContainer>(m_pictures.path(), nullptr);
    }

    void init() { log_recorder::clear(); }

    // Faces take the window's width at their aspect; the scroll bar is on
    // exactly while they do not fit, and its own width never flips it.
    void layoutFollowsWidthWithScrollBarOnlyWhenNeeded()
    {
        KST_RackWidgetResizer frame;
        KST_RackWidget *w = frame.rackWidget();
        frame.resize(400, 400);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QList<AspectFace *> faces;
        for (int i = 0; i < 3; ++i) {
            faces.append(new AspectFace(2));
            w->addFace(faces.last());
            w->setFaceVisible(faces.last(), true);
        }
        waitSettled(w);
        const auto faceWidth = [w] { return w->viewport()->width() - 2 * KST_RackWidget::Margin; };
        // 3 x ~196 px do not fit into 400 px.
        QCOMPARE(w->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(w->contentHeight(), 3 * (faceWidth() / 2) + 2 * KST_RackWidget::Spacing
                                         + 2 * KST_RackWidget::Margin);
        QTRY_COMPARE(faces.at(0)->width(), faceWidth());
        for (AspectFace *f : faces)
            QCOMPARE(f->height(), faceWidth() / 2);

        // Narrower: every face scales down and they fit.
        frame.resize(250, 400);
        QTRY_COMPARE(w->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QTRY_COMPARE(faces.at(0)->width(), faceWidth());
        QVERIFY(faceWidth() > 200);
        for (AspectFace *f : faces)
            QTRY_COMPARE(f->height(), faceWidth() / 2);
        QVERIFY(w->contentHeight() <= w->viewport()->height());
        QVERIFY(!w->verticalScrollBar()->isVisible());

        // Just too tall at the full width, short enough once the bar takes
        // its width: the bar stays, laying out again changes nothing.
        // (The frame window's own frame is around the rack window.)
        const QSize around = frame.size() - w->size();
        const int full = 250 - around.width() - 2 * w->frameWidth() - 2 * KST_RackWidget::Margin;
        const int needed = 3 * (full / 2) + 2 * KST_RackWidget::Spacing + 2 * KST_RackWidget::Margin;
        frame.resize(250, needed + 2 * w->frameWidth() + around.height() - 1);
        QTRY_COMPARE(w->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        for (int i = 0; i < 3; ++i) {
            w->updateLayout();
            QCoreApplication::processEvents();
            QCOMPARE(w->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        }
        frame.resize(250, needed + 2 * w->frameWidth() + around.height());
        QTRY_COMPARE(w->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

        // The frame window's resize reaches the rack.
        QSignalSpy resized(w, &KST_RackWidget::resize_finished);
        frame.resize(300, 300);
        QTRY_VERIFY(resized.count() >= 1);
        qDeleteAll(faces);
    }

    // A face grows in over 300 ms and ends shown; taken out, it is hidden,
    // without parent, and its gap shrinks away; a face hidden in place
    // stays in the list; a reversed animation goes on from where it was.
    void facesGrowInAndShrinkOut()
    {
        KST_RackWidgetResizer frame;
        KST_RackWidget *w = frame.rackWidget();
        frame.resize(400, 600);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        const int empty = w->contentHeight();
        QCOMPARE(empty, 2 * KST_RackWidget::Margin);

        auto *a = new AspectFace(4);
        auto *b = new AspectFace(4);
        w->addFace(a);
        QCOMPARE(w->faceState(a), int(KST_RackWidget::Hidden));
        QCOMPARE(a->parentWidget(), w->content());
        QVERIFY(a->isHidden());
        w->addFace(b, 0);
        QCOMPARE(w->indexOf(b), 0);
        QCOMPARE(w->indexOf(a), 1);

        w->setFaceVisible(a, true);
        QCOMPARE(w->faceState(a), int(KST_RackWidget::Showing));
        QVERIFY(w->isAnimating());
        QTest::qWait(120);
        w->updateLayout();
        const double full = (w->viewport()->width() - 2 * KST_RackWidget::Margin) / 4;
        QVERIFY2(w->faceHeight(a) > 0 && w->faceHeight(a) < full,
                 qPrintable(QString::number(w->faceHeight(a))));
        waitSettled(w);
        QCOMPARE(w->faceState(a), int(KST_RackWidget::Shown));
        QCOMPARE(qRound(w->faceHeight(a)), int(full));
        QCOMPARE(w->contentHeight(), int(full) + 2 * KST_RackWidget::Margin);
        QVERIFY(a->isVisible());

        // Hidden in place: shrinks, then hidden but still placed.
        w->setFaceVisible(b, true);
        waitSettled(w);
        w->setFaceVisible(b, false);
        QCOMPARE(w->faceState(b), int(KST_RackWidget::Hiding));
        waitSettled(w);
        QCOMPARE(w->faceState(b), int(KST_RackWidget::Hidden));
        QVERIFY(b->isHidden());
        QCOMPARE(w->faceCount(), 2);
        QCOMPARE(w->contentHeight(), int(full) + 2 * KST_RackWidget::Margin);

        // Reversed half way: the height goes on from where it was.
        w->setFaceVisible(b, true);
        QTest::qWait(150);
        w->updateLayout();
        const double reached = w->faceHeight(b);
        w->setFaceVisible(b, false);
        w->updateLayout();
        QVERIFY2(qAbs(w->faceHeight(b) - reached) < full * 0.2,
                 qPrintable(QStringLiteral("%1 -> %2").arg(reached).arg(w->faceHeight(b))));
        waitSettled(w);

        // Taken out: at once hidden and detached; the gap shrinks away.
        w->removeFace(a);
        QVERIFY(!w->hasFace(a));
        QVERIFY(a->isHidden());
        QVERIFY(!a->parentWidget());
        QCOMPARE(w->faceCount(), 1);
        QCOMPARE(w->entryCount(), 2);
        QVERIFY(w->isAnimating());
        QVERIFY(w->contentHeight() > 2 * KST_RackWidget::Margin);
        waitSettled(w);
        QCOMPARE(w->entryCount(), 1);
        QCOMPARE(w->contentHeight(), 2 * KST_RackWidget::Margin);

        // Unknown faces.
        w->removeFace(a);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("unexpected")), 1);
        w->setFaceVisible(a, true);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("widget not found")), 1);

        // A face deleted while placed leaves nothing behind, and faces
        // placed after it still go where they are asked to.
        auto *c = new AspectFace(4);
        w->addFace(c);
        w->setFaceVisible(c, true);
        delete b;
        w->addFace(a, w->indexOf(c));
        w->setFaceVisible(a, true);
        waitSettled(w);
        QCOMPARE(w->entryCount(), 2);
        QCOMPARE(w->indexOf(a), 0);
        QTRY_VERIFY(a->geometry().bottom() < c->geometry().top());
        QCOMPARE(c->geometry().top() - a->geometry().bottom() - 1, int(KST_RackWidget::Spacing));
        delete c;
        w->updateLayout();
        QCOMPARE(w->entryCount(), 1);
        delete a;
        w->updateLayout();
        QCOMPARE(w->entryCount(), 0);
    }

    // Shown, the window fades in over 200 ms; closing is refused and told.
    void showFadesInAndCloseIsOnlyTold()
    {
        QWidget main;
        main.setGeometry(300, 300, 100, 100);
        main.show();
        KST_RackWidgetResizer frame(&main);
        KST_RackWidget *w = frame.rackWidget();
        QVERIFY(frame.testAttribute(Qt::WA_AlwaysShowToolTips));
        QVERIFY(!frame.testAttribute(Qt::WA_QuitOnClose));
        QVERIFY(frame.hasMouseTracking());
        QCOMPARE(frame.focusPolicy(), Qt::StrongFocus);
        QVERIFY(!frame.windowIcon().isNull());
        QCOMPARE(w->content()->palette().color(QPalette::Window), QColor(Qt::black));

        frame.setGeometry(20, 20, 200, 200);
        w->showWindow();
        QVERIFY(w->isWindowShown());
        QVERIFY(w->isFading());
        QVERIFY(frame.windowOpacity() < 0.5);
        QTRY_VERIFY_WITH_TIMEOUT(!w->isFading(), 1000);
        QCOMPARE(frame.windowOpacity(), 1.0);

        // Hidden and shown again: back where it was.
        const QPoint at = frame.pos();
        w->hideWindow();
        QVERIFY(!w->isWindowShown());
        QVERIFY(!w->isFading());
        frame.move(at + QPoint(40, 40));
        w->showWindow();
        QCOMPARE(frame.pos(), at);

        QSignalSpy closedFrame(&frame, &KST_RackWidgetResizer::closed);
        QSignalSpy closedRack(w, &KST_RackWidget::closed);
        QVERIFY(!frame.close());
        QVERIFY(frame.isVisible());
        QCOMPARE(closedFrame.count(), 1);
        QCloseEvent event;
        QCoreApplication::sendEvent(w, &event);
        QVERIFY(!event.isAccepted());
        QCOMPARE(closedRack.count(), 1);
    }

    // Near an edge of the available screen area (within half a title bar)
    // the window moves onto it; far from the edges it stays.
    void snapsToScreenEdges()
    {
        KST_RackWidgetResizer frame;
        frame.resize(200, 150);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        const QRect avail = frame.screen()->availableGeometry();
        const int threshold = frame.style()->pixelMetric(QStyle::PM_TitleBarHeight) / 2;
        QVERIFY(threshold >= 3);
        const int near = qMin(3, threshold);
        const QPoint middle(avail.left() + 100, avail.top() + 100);

        struct Case
        {
            const char *line;
            QPoint to; // where the frame's top-left is dragged
        };
        const QSize size = frame.frameGeometry().size();
        const Case cases[] = {
            {"snap left", {avail.left() + near, middle.y()}},
            {"snap left", {avail.left() - near, middle.y()}},
            {"snap right", {avail.right() - size.width() + 1 - near, middle.y()}},
            {"snap top", {middle.x(), avail.top() + near}},
            {"snap bottom", {middle.x(), avail.bottom() - size.height() + 1 + near}},
        };
        for (const Case &c : cases) {
            frame.move(middle);
            QTRY_COMPARE(frame.frameGeometry().topLeft(), middle);
            log_recorder::clear();
            frame.move(c.to);
            QTRY_COMPARE(log_recorder::count(QtDebugMsg, QLatin1String(c.line)), 1);
            const QRect g = frame.frameGeometry();
            if (!qstrcmp(c.line, "snap left"))
                QCOMPARE(g.topLeft(), QPoint(avail.left(), middle.y()));
            else if (!qstrcmp(c.line, "snap right"))
                QCOMPARE(g.topRight(), QPoint(avail.right(), middle.y()));
            else if (!qstrcmp(c.line, "snap top"))
                QCOMPARE(g.topLeft(), QPoint(middle.x(), avail.top()));
            else
                QCOMPARE(g.bottomLeft(), QPoint(middle.x(), avail.bottom()));
        }

        // A corner snaps both ways.
        log_recorder::clear();
        frame.move(avail.left() + near, avail.top() + near);
        QTRY_COMPARE(frame.frameGeometry().topLeft(), avail.topLeft());
        QCOMPARE(log_recorder::count(QtDebugMsg, QStringLiteral("snap left")), 1);
        QCOMPARE(log_recorder::count(QtDebugMsg, QStringLiteral("snap top")), 1);

        // Far from the edges (and just beyond the threshold) nothing moves.
        log_recorder::clear();
        for (const QPoint &to : {middle, QPoint(avail.left() + threshold + 1, middle.y())}) {
            frame.move(to);
            QTRY_COMPARE(frame.frameGeometry().topLeft(), to);
            QTest::qWait(20);
            QCOMPARE(frame.frameGeometry().topLeft(), to);
            QVERIFY(!frame.snapToScreen());
        }
        QCOMPARE(log_recorder::count(QtDebugMsg, QStringLiteral("snap")), 0);
    }

    // Frame on and off keeps the window where it is; framed again it gets
    // its framed size back.
    void frameModeToggleKeepsPosition()
    {
        KST_RackWidgetResizer frame;
        QVERIFY(frame.isFramed());
        QCOMPARE(frame.frameShape(), QFrame::StyledPanel);
        QVERIFY(!(frame.windowFlags() & Qt::FramelessWindowHint));
        frame.setGeometry(150, 120, 300, 200);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        const QPoint at = frame.geometry().topLeft();

        frame.toggleFrameMode();
        QVERIFY(!frame.isFramed());
        QVERIFY(!frame.rackWidget()->isResizable());
        QVERIFY(frame.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(frame.frameShape(), QFrame::NoFrame);
        QVERIFY(frame.isVisible());
        QTRY_COMPARE(frame.geometry().topLeft(), at);
        QCOMPARE(frame.rememberedGeometry().size(), QSize(300, 200));

        frame.resize(250, 180);
        frame.toggleFrameMode();
        QVERIFY(frame.isFramed());
        QVERIFY(!(frame.windowFlags() & Qt::FramelessWindowHint));
        QCOMPARE(frame.frameShape(), QFrame::StyledPanel);
        QVERIFY(frame.isVisible());
        QTRY_COMPARE(frame.geometry().topLeft(), at);
        QCOMPARE(frame.size(), QSize(300, 200));

        // A hidden window changes mode and stays hidden.
        frame.hide();
        frame.toggleFrameMode();
        QVERIFY(!frame.isVisible());
        QVERIFY(!frame.isFramed());
    }
};

QTEST_MAIN(TestRackWidget)
#include "tst_rackwidget.moc"
