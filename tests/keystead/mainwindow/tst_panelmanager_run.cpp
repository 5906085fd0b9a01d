// The main window with running panels: a mixed selection, starting only
// what is stopped, refusing to delete a rack with a running panel, the
// error label of a panel that cannot bind, and the comm squares of a panel
// talking to the router simulator. Rack windows stay shut (see the
// fixture).

#include "kst_commwidget.h"
#include "kst_delegates.h"
#include "manager_fixture.h"
#include "../../support/child_process.h"
#include "../../support/log_recorder.h"

#include <QAction>
#include <QLabel>

using Panel = KST_PanelInstance;

class TestPanelManagerRun : public QObject
{
    Q_OBJECT

    static bool waitState(Panel *p, int state, int ms = 20000)
    {
        return QTest::qWaitFor([p, state]() { return p->state() == state; }, ms);
    }

private slots:
    void initTestCase() { log_recorder::install(); }

    // One running and one stopped panel selected: start and stop are both
    // enabled, delete is not; start starts the stopped one and complains
    // about the other; stop stops both.
    void mixedSelectionStartsOnlyTheStopped()
    {
        ManagerFixture f;
        QVERIFY(f.initialise());
        KST_PanelManager *w = f.window.get();
        Panel *running = f.addPanel(0, QStringLiteral("127.0.0.1"), 24961);
        Panel *stopped = f.addPanel(0, QStringLiteral("127.0.0.1"), 24962);
        f.hideRackWindows();
        QVERIFY(running->start(0));
        QVERIFY(waitState(running, Panel::Started));

        f.select({running, stopped});
        QTRY_VERIFY(w->startAction()->isEnabled());
        QVERIFY(w->stopAction()->isEnabled());
        QVERIFY(!w->deleteAction()->isEnabled());

        f.boxes.clear();
        w->startAction()->trigger();
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(f.boxes[0].title, QStringLiteral("Keystead"));
        QCOMPARE(f.boxes[0].text, QStringLiteral("Panel not stopped."));
        QVERIFY(stopped->state() == Panel::Starting || stopped->state() == Panel::Started);
        QVERIFY(waitState(stopped, Panel::Started));
        QVERIFY(f.data->isChanged());
        // Both run: nothing left to start.
        QTRY_VERIFY(!w->startAction()->isEnabled());

        w->stopAction()->trigger();
        QVERIFY(waitState(running, Panel::Stopped));
        QVERIFY(waitState(stopped, Panel::Stopped));
        QTRY_VERIFY(w->startAction()->isEnabled());
        QVERIFY(!w->stopAction()->isEnabled());
        QVERIFY(w->deleteAction()->isEnabled());
    }

    // A selected rack whose panel runs is not deleted; the running panel is
    // named and selected. A panel of another rack in the selection stays
    // too.
    void deletingARackWithARunningPanelIsRefused()
    {
        ManagerFixture f;
        QVERIFY(f.initialise());
        KST_PanelManager *w = f.window.get();
        Panel *idle = f.addPanel(0, QStringLiteral("127.0.0.1"), 24971);
        f.data->addRack();
        Panel *busy = f.addPanel(1, QStringLiteral("127.0.0.1"), 24972);
        f.data->setData(f.data->indexOfItem(busy), QStringLiteral("busy one"));
        f.hideRackWindows();
        QVERIFY(busy->start(0));
        QVERIFY(waitState(busy, Panel::Started));

        f.select({idle, f.data->rack(1)});
        QVERIFY(w->deleteAction()->isEnabled());
        f.boxes.clear();
        w->deleteAction()->trigger();
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(f.boxes[0].title, QStringLiteral("Keystead"));
        QCOMPARE(f.boxes[0].text, QStringLiteral("'busy one' is not stopped."));
        QCOMPARE(f.data->rowCount(), 2);
        QCOMPARE(f.data->rack(0)->panels(), QList<Panel *>{idle});
        QCOMPARE(f.data->rack(1)->panels(), QList<Panel *>{busy});
        QCOMPARE(f.selection()->selectedRows(0), QModelIndexList{f.data->indexOfItem(busy)});
        QVERIFY(!w->deleteAction()->isEnabled());

        QVERIFY(busy->stop());
        QVERIFY(waitState(busy, Panel::Stopped));
    }

    // A panel that cannot bind its address goes to the error state; as
    // the only selected row its error text is on the label, which blinks;
    // a second selected row clears it. The state icons tell the error.
    void errorLabelShowsTheSelectedPanelsError()
    {
        // An address the set takes for this machine's that no interface has.
        ManagerFixture f({QStringLiteral("127.0.0.1"), QStringLiteral("192.0.2.7")});
        QVERIFY(f.initialise());
        KST_PanelManager *w = f.window.get();
        Panel *bad = f.addPanel(0, QStringLiteral("192.0.2.7"), 24981);
        Panel *other = f.addPanel(0, QStringLiteral("127.0.0.1"), 24982);
        // Without injector, whose listen would fail first.
        bad->setInjectorEnabled(false);
        f.hideRackWindows();
        f.select({bad});
        QVERIFY(w->errorLabel()->text().isEmpty());
        w->startAction()->trigger();
        QVERIFY(f.boxes.isEmpty());
        QVERIFY(waitState(bad, Panel::Error));
        QTRY_COMPARE(w->errorLabel()->text(),
                     QStringLiteral("Could not bind socket to port 24981.  "));
        QCOMPARE(w->errorLabel()->text(), bad->errorText());
        // Stop and delete are offered for a panel in error; start is not.
        QTRY_VERIFY(w->stopAction()->isEnabled());
        QVERIFY(w->deleteAction()->isEnabled());
        QVERIFY(!w->startAction()->isEnabled());

        QLabel *label = w->errorLabel();
        const QColor first = label->palette().color(QPalette::WindowText);
        QTest::qWait(KST_PanelManager::BlinkIntervalMs + 100);
        const QColor second = label->palette().color(QPalette::WindowText);
        QVERIFY(first != second);
        QVERIFY(first == QColor(Qt::red) || second == QColor(Qt::red));
        QVERIFY(label->autoFillBackground());

        KST_PanelManagerItemDelegate delegate;
        const QImage error = QImage(QStringLiteral(":/images2/sign_notok.png"));
        const QImage notStarted = QImage(QStringLiteral(":/images2/started_no.png"));
        // Premultiplied, as the pixmap holds it (see iconsAndCommSquares).
        auto same = [](const QPixmap *p, const QImage &i) {
            return p && p->toImage() == i.convertToFormat(p->toImage().format());
        };
        QVERIFY(same(delegate.stateIcon(bad, KST_Data::ColStarted), error));
        QVERIFY(same(delegate.stateIcon(bad, KST_Data::ColOnline), notStarted));
        QVERIFY(same(delegate.stateIcon(bad, KST_Data::ColCfg), notStarted));

        f.select({bad, other});
        QVERIFY(w->errorLabel()->text().isEmpty());
        f.select({bad});
        QCOMPARE(w->errorLabel()->text(), bad->errorText());

        w->stopAction()->trigger();
        QVERIFY(waitState(bad, Panel::Stopped));
        QTRY_VERIFY(w->errorLabel()->text().isEmpty());
    }

    // Against the router simulator: the comm timer gives the running
    // panel's "Comm" cell its squares, the left one yellow-orange after a
    // transmit; after the stop both are grey.
    void commSquaresFollowThePanel()
    {
        ChildProcess router;
        QVERIFY(router.start(QStringLiteral(ROUTERSIM),
                             {QStringLiteral("--bind"), QStringLiteral("127.0.0.91:2001"),
                              QStringLiteral("--panel"), QStringLiteral("127.0.0.92:24991"),
                              QStringLiteral("--poll-ms"), QStringLiteral("100")}));
        ManagerFixture f({QStringLiteral("127.0.0.92")});
        QVERIFY(f.initialise());
        KST_PanelManager *w = f.window.get();
        Panel *p = f.addPanel(0, QStringLiteral("127.0.0.92"), 24991);
        Panel *never = f.addPanel(0, QStringLiteral("127.0.0.92"), 24992);
        f.hideRackWindows();
        w->treeView()->expandAll();
        const QModelIndex cell = f.data->indexOfItem(p).siblingAtColumn(KST_Data::ColComm);
        const QModelIndex neverCell =
            f.data->indexOfItem(never).siblingAtColumn(KST_Data::ColComm);
        QVERIFY(!w->treeView()->indexWidget(cell));

        QVERIFY(p->start(0));
        QVERIFY(QTest::qWaitFor([p]() { return p->isOnline(); }, 20000));
        auto *squares = dynamic_cast<KST_CommWidget *>(w->treeView()->indexWidget(cell));
        QTRY_VERIFY(squares = dynamic_cast<KST_CommWidget *>(w->treeView()->indexWidget(cell)));
        QVERIFY(squares->shownStarted());
        // The panel answers every poll: soon a square at full transmit.
        const QImage mask = QImage(QStringLiteral(":/images2/comm.png"))
                                .scaled(squares->leftSquare().size(), Qt::IgnoreAspectRatio,
                                        Qt::SmoothTransformation);
        QPoint opaque(-1, -1);
        for (int y = 0; y < mask.height() && opaque.x() < 0; ++y)
            for (int x = mask.width() / 2; x < mask.width() && opaque.x() < 0; ++x)
                if (qAlpha(mask.pixel(x, y)) == 255)
                    opaque = QPoint(x, y);
        QVERIFY(opaque.x() >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(QColor(squares->leftSquare().pixel(opaque)),
                                  QColor(255, 204, 0), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QColor(squares->rightSquare().pixel(opaque)).green() > 64, 10000);
        // A panel that never ran has no squares.
        QVERIFY(!w->treeView()->indexWidget(neverCell));

        QVERIFY(p->stop());
        QVERIFY(waitState(p, Panel::Stopped));
        QTRY_VERIFY(!squares->shownStarted());
        QCOMPARE(QColor(squares->leftSquare().pixel(opaque)), QColor(128, 128, 128));
        QCOMPARE(QColor(squares->rightSquare().pixel(opaque)), QColor(128, 128, 128));
    }
};

QTEST_MAIN(TestPanelManagerRun)
#include "tst_panelmanager_run.moc"
