// A rack window of a panel set closed while its panel runs (a firmware
// thread): hidden, recorded, the panel goes on.

#include "kst_data.h"
#include "kst_rack.h"
#include "kst_rackwidget.h"
#include "pan_imagecontainer.h"
#include "tiny_pictures.h"
#include "../../support/log_recorder.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

void waitSettled(KST_RackWidget *w)
{
    QTRY_VERIFY_WITH_TIMEOUT(!w->isAnimating(), 2000);
}

} // namespace

class TestRackWindowClose : public QObject
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

    // A rack window of a panel set closed by the user: hidden, the rack's
    // Visible cell changes, the running panel goes on; a face taken out
    // right after it first showed does not come back as a window.
    void closingRackWindowKeepsPanelsRunning()
    {
        QTemporaryDir base;
        qputenv("TESSALINE_BASE_DIR", QFile::encodeName(base.path()));
        KST_Data data(base.filePath(QStringLiteral("cfg.xml")));
        data.setImageContainer(m_images.get());
        PAN_WidgetOptions options;
        options.splash = false;
        options.fadeIn = false;
        data.setFaceOptions(options);
        data.setFirmwareSource(QStringLiteral(TESSFW_LIBRARY));

        KST_PanelInstance *p = data.addPanel(0);
        KST_PanelInstance *q = data.addPanel(0);
        const QModelIndex pi = data.indexOfItem(p);
        data.setData(pi.siblingAtColumn(KST_Data::ColType), QStringLiteral("SK2000A"));
        data.setData(pi.siblingAtColumn(KST_Data::ColIP), QStringLiteral("127.0.0.1"));
        data.setData(pi.siblingAtColumn(KST_Data::ColPort), 24731);
        KST_Rack *rack = data.rack(0);
        KST_RackWidget *w = rack->window();
        QVERIFY(rack->isVisible());
        QVERIFY(rack->isWindowShown());
        QCOMPARE(rack->frame()->windowTitle(), QStringLiteral("rack"));
        QVERIFY(w->hasFace(p->face()));
        QCOMPARE(w->indexOf(q->face()), 1);
        waitSettled(w);
        QCOMPARE(w->faceState(p->face()), int(KST_RackWidget::Shown));

        // q hidden at once, and shown again in its place after p.
        q->setVisible(false);
        QVERIFY(!w->hasFace(q->face()));
        QVERIFY(q->face()->isHidden());
        QTest::qWait(600);
        QVERIFY(q->face()->isHidden());
        q->setVisible(true);
        QCOMPARE(w->indexOf(q->face()), w->entryCount() - 1);
        waitSettled(w);
        QCOMPARE(w->faceState(q->face()), int(KST_RackWidget::Shown));

        QVERIFY(data.validatePanel(p));
        QVERIFY(p->start(0));
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), KST_PanelInstance::Started, 10000);

        QSignalSpy cells(&data, &QAbstractItemModel::dataChanged);
        QVERIFY(!rack->frame()->close());
        QVERIFY(!rack->isVisible());
        QVERIFY(!rack->isWindowShown());
        QVERIFY(!rack->frame()->isVisible());
        QVERIFY(data.isChanged());
        bool visibleCell = false;
        for (const QList<QVariant> &args : cells)
            visibleCell |= args.at(0).toModelIndex()
                           == data.indexOfItem(rack).siblingAtColumn(KST_Data::ColVisible);
        QVERIFY(visibleCell);
        QTest::qWait(300);
        QCOMPARE(p->state(), KST_PanelInstance::Started);
        QVERIFY(w->hasFace(p->face()));

        // Showing a face of the hidden rack shows the window again.
        q->setVisible(false);
        q->setVisible(true);
        QVERIFY(rack->isVisible());
        QVERIFY(rack->isWindowShown());

        // Bad positions and a rack without window.
        rack->showPanel(7, true);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("invalid panel index")), 1);
        KST_Rack bare;
        bare.showWindow();
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("_rackWidget NULL")), 1);

        QVERIFY(p->stop());
        QTRY_COMPARE_WITH_TIMEOUT(p->state(), KST_PanelInstance::Stopped, 10000);
    }
};

QTEST_MAIN(TestRackWindowClose)
#include "tst_rackwindow_close.moc"
