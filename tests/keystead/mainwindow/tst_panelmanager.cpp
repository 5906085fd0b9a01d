// The main window without running panels: how it is built and initialised,
// its actions and their enabling, the delete questions and their answers,
// visibility toggled on several rows at once, new racks and panels, the
// start refused by validation, the error label's blink, the delegates'
// editors and icons, the comm squares, the faces' selection marks and the
// window state handed back at shutdown. The model tester watches
// throughout.

#include "kst_commwidget.h"
#include "kst_delegates.h"
#include "kst_faceselection.h"
#include "kst_rackwidget.h"
#include "kst_tracewindow.h"
#include "manager_fixture.h"
#include "../../support/log_recorder.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QSignalSpy>
#include <QStatusBar>
#include <QToolBar>

using Panel = KST_PanelInstance;

namespace {

QStringList actionTexts(const QList<QAction *> &actions)
{
    QStringList out;
    for (QAction *a : actions)
        out.append(a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

QMenu *menuNamed(QMainWindow *w, const QString &title)
{
    for (QAction *a : w->menuBar()->actions())
        if (a->text() == title)
            return a->menu();
    return nullptr;
}

// A left click in the middle of a cell of the tree.
void clickCell(KST_PanelTree *tree, const QModelIndex &cell,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QRect r = tree->visualRect(cell);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, modifiers, r.center());
}

} // namespace

class TestPanelManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { log_recorder::install(); }

    // Before the set's first step the window is hidden; the first shows it
    // disabled with the tree attached, the second enables it and runs the
    // comm timer. Actions, menus and the tool bar carry their texts.
    void buildsAndInitialises()
    {
        ManagerFixture f;
        KST_PanelManager *w = f.window.get();
        QVERIFY(!w->isVisible());
        QCOMPARE(QByteArray(w->metaObject()->className()), QByteArray("KST_PanelManager"));
        QVERIFY(w->testAttribute(Qt::WA_AlwaysShowToolTips));
        QVERIFY(w->treeView()->model() == nullptr);

        QSignalSpy step1(f.data.get(), &KST_Data::init_step1_finished);
        QVERIFY(f.window->initialize());
        QVERIFY(step1.wait(2000));
        QVERIFY(w->isVisible());
        QVERIFY(!w->isEnabled());
        QCOMPARE(w->treeView()->model(), f.data.get());
        QTRY_VERIFY(f.data->isInitialised());
        QVERIFY(w->isEnabled());

        struct Expect
        {
            QAction *action;
            const char *text;
            const char *tip;
            bool icon;
        };
        const Expect expect[] = {
            {w->addPanelAction(), "Add &panel", "Add a new panel.", true},
            {w->addRackAction(), "Add &rack", "Add a new rack.", true},
            {w->deleteAction(), "Delete", "Remove selected panel(s) and rack(s).", true},
            {w->startAction(), "St&art Panel", "Start selected panel(s).", true},
            {w->stopAction(), "St&op", "Stop selected panel(s).", true},
            {w->aboutAction(), "&About ...", "About box.", false},
            {w->titleOnOffAction(), "&TitleOnOff", "Enable/disable window resize.", false},
            {w->traceAction(), "Protocol trace",
             "Follow what the selected panel(s) and the router say to each other.", false},
        };
        for (const Expect &e : expect) {
            QCOMPARE(e.action->text(), QString::fromLatin1(e.text));
            QCOMPARE(e.action->statusTip(), QString::fromLatin1(e.tip));
            QVERIFY(e.action->toolTip().startsWith(QString::fromLatin1(e.tip)));
            QCOMPARE(!e.action->icon().isNull(), e.icon);
        }
        QVERIFY(!w->quitAction()->toolTip().isEmpty());
        QCOMPARE(w->deleteAction()->shortcut(), QKeySequence(QKeySequence::Delete));
        QCOMPARE(w->addPanelAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
        QCOMPARE(w->quitAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
        QCOMPARE(w->titleOnOffAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
        QCOMPARE(w->titleOnOffAction()->shortcutContext(), Qt::ApplicationShortcut);

        QToolBar *bar = w->findChild<QToolBar *>();
        QVERIFY(bar);
        QCOMPARE(bar->actions(), (QList<QAction *>{w->startAction(), w->stopAction()}));
        QCOMPARE(actionTexts(menuNamed(w, QStringLiteral("&Tools"))->actions()),
                 (QStringList{"St&art Panel", "St&op", "&TitleOnOff", "-", "Protocol trace"}));
        QCOMPARE(actionTexts(menuNamed(w, QStringLiteral("&Edit"))->actions()),
                 (QStringList{"Add &panel", "Add &rack", "-", "Delete", "-", "&Quit"}));
        QCOMPARE(actionTexts(menuNamed(w, QStringLiteral("&About"))->actions()),
                 (QStringList{"&About ..."}));
        QVERIFY(w->errorLabel()->font().bold());
        QVERIFY(w->statusBar()->isAncestorOf(w->errorLabel()));

        QHeaderView *h = w->treeView()->header();
        QCOMPARE(h->sectionResizeMode(KST_Data::ColName), QHeaderView::Interactive);
        for (int c : {1, 2, 3})
            QCOMPARE(h->sectionResizeMode(c), QHeaderView::Fixed);
        for (int c = 4; c <= 8; ++c)
            QCOMPARE(h->sectionResizeMode(c), QHeaderView::ResizeToContents);
        QVERIFY(!h->sectionsMovable());
        QFont bold = w->treeView()->font();
        bold.setBold(true);
        QCOMPARE(h->sectionSize(KST_Data::ColIP),
                 QFontMetrics(bold).horizontalAdvance(QStringLiteral("000.000.000.000_000")));
        QCOMPARE(h->sectionSize(KST_Data::ColType),
                 QFontMetrics(bold).horizontalAdvance(QStringLiteral("SK0000A_000000")));
        QVERIFY(w->treeView()->selectionMode() == QAbstractItemView::ExtendedSelection);

        f.boxes.clear();
        QMetaObject::invokeMethod(w, "actionShowAboutBox");
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].icon, QMessageBox::Information);
        QCOMPARE(f.boxes[0].title, QStringLiteral("Tessaline"));
        QCOMPARE(f.boxes[0].text, QStringLiteral("Build date/time:\t2011-09-23T09:54:02.562000\n"
                                                 "Version: \t1.1.1.7"));
    }

    // Shutdown hands geometry and header state to the set, which stores
    // them; a new window over the stored set takes both back.
    void shutdownStoresWindowState()
    {
        QByteArray header;
        {
            ManagerFixture f;
            QVERIFY(f.initialise());
            f.window->resize(700, 300);
            f.window->treeView()->header()->resizeSection(KST_Data::ColName, 177);
            f.window->shutdown();
            QVERIFY(!f.window->model());
            QVERIFY(!f.window->treeView()->model());
            QVERIFY(!f.data->uiData(KST_Data::UiMainWindow).isEmpty());
            header = f.data->uiData(KST_Data::UiTreeHeader);
            QVERIFY(!header.isEmpty());
            // Gone from the set: its signals reach the window no more.
            emit f.data->init_step1_finished();
            QVERIFY(!f.window->treeView()->model());
            // Deleting the window after shutdown leaves the set alone.
            f.window.reset();
            QCOMPARE(f.data->uiData(KST_Data::UiTreeHeader), header);

            f.data->setUiData(KST_Data::UiTreeHeader, header);
            auto w2 = std::make_unique<KST_PanelManager>(f.data.get());
            QMetaObject::invokeMethod(w2.get(), "init_step1_finished");
            QCOMPARE(w2->treeView()->header()->sectionSize(KST_Data::ColName), 177);
            QCOMPARE(w2->size(), QSize(700, 300));
            w2->shutdown();
        }
    }

    // Enabling follows the selection: delete needs stopped panels (or
    // racks), start a stopped panel that passes validation.
    void actionsFollowTheSelection()
    {
        ManagerFixture f;
        QVERIFY(f.initialise());
        KST_PanelManager *w = f.window.get();
        Panel *good = f.addPanel(0, QStringLiteral("127.0.0.1"), 24901);
        Panel *untyped = f.data->addPanel(0);
        KST_Rack *rack = f.data->rack(0);

        f.select({});
        QVERIFY(!w->deleteAction()->isEnabled());
        QVERIFY(!w->startAction()->isEnabled());
        QVERIFY(!w->stopAction()->isEnabled());
        QVERIFY(!w->traceAction()->isEnabled());
        f.select({good});
        QVERIFY(w->deleteAction()->isEnabled());
        QVERIFY(w->startAction()->isEnabled());
        QVERIFY(!w->stopAction()->isEnabled());
        QVERIFY(w->traceAction()->isEnabled());
        f.select({untyped});
        QVERIFY(w->deleteAction()->isEnabled());
        QVERIFY(!w->startAction()->isEnabled());
        f.select({rack});
        QVERIFY(w->deleteAction()->isEnabled());
        QVERIFY(!w->startAction()->isEnabled());
        QVERIFY(!w->traceAction()->isEnabled());

        // The trace action opens one window per selected panel, and a
        // second time raises the same one.
        f.select({good, rack});
        const QString traceDir = good->traceDirectory();
        QVERIFY(!traceDir.isEmpty());
        QVERIFY(!KST_TraceWindow::windowFor(traceDir));
        w->traceAction()->trigger();
        QPointer<KST_TraceWindow> trace = KST_TraceWindow::windowFor(traceDir);
        QVERIFY(trace);
        QVERIFY(trace->isVisible());
        w->traceAction()->trigger();
        QCOMPARE(KST_TraceWindow::windowFor(traceDir), trace.data());
        trace->close();
        delete trace.data();

        // A change of address is seen after the set's own handling.
        f.select({good});
        QVERIFY(w->startAction()->isEnabled());
        QVERIFY(f.data->setData(f.data->indexOfItem(good).siblingAtColumn(KST_Data::ColIP),
                                QStringLiteral("10.9.9.9")));
        QTRY_VERIFY(!w->startAction()->isEnabled());

        // A start that fails validation names the panel and its reason,
        // selects it and starts nothing.
        QVERIFY(f.data->setData(f.data->indexOfItem(good).siblingAtColumn(KST_Data::ColIP),
                                QStringLiteral("127.0.0.1")));
        f.select({good, untyped});
        f.boxes.clear();
        QMetaObject::invokeMethod(w, "actionStart");
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(f.boxes[0].title, QStringLiteral("Keystead"));
        QCOMPARE(f.boxes[0].text,
                 QStringLiteral("panel panel2 cannot be started:No panel type selected."));
        QCOMPARE(good->state(), Panel::Stopped);
        QCOMPARE(f.selection()->selectedRows(0),
                 QModelIndexList{f.data->indexOfItem(untyped)});
        QCOMPARE(f.selection()->currentIndex().siblingAtColumn(0), f.data->indexOfItem(untyped));
    }

    // The questions for panels, racks and both; Cancel keeps everything,
    // OK removes the panels and racks with their files. The Delete key
    // asks the same.
    void deleteAsksAndCancelKeeps()
    {
        QCOMPARE(KST_PanelManager::deleteQuestion(0, 1), QStringLiteral("Remove selected panel?"));
        QCOMPARE(KST_PanelManager::deleteQuestion(0, 3), QStringLiteral("Remove selected panels?"));
        QCOMPARE(KST_PanelManager::deleteQuestion(1, 0), QStringLiteral("Remove selected rack?"));
        QCOMPARE(KST_PanelManager::deleteQuestion(2, 0), QStringLiteral("Remove selected racks?"));
        QCOMPARE(KST_PanelManager::deleteQuestion(1, 1),
                 QStringLiteral("Remove selected rack(s) and panel(s) ?"));

        ManagerFixture f;
        QVERIFY(f.initialise());
        KST_PanelManager *w = f.window.get();
        Panel *a = f.addPanel(0, QStringLiteral("127.0.0.1"), 24911);
        Panel *b = f.addPanel(0, QStringLiteral("127.0.0.1"), 24912);
        KST_Rack *second = f.data->addRack();
        KST_Rack *third = f.data->addRack();
        Panel *c = f.addPanel(1, QStringLiteral("127.0.0.1"), 24913);
        QVERIFY(QDir().mkpath(c->dataDirectory() + QLatin1Char('/') + c->panelDir()));

        // The Delete key with one stopped panel selected.
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        f.select({a});
        w->treeView()->setFocus();
        f.answers = {QMessageBox::Cancel};
        f.boxes.clear();
        QTest::keyClick(w->treeView(), Qt::Key_Delete);
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(f.boxes[0].title, QStringLiteral("Keystead"));
        QCOMPARE(f.boxes[0].text, QStringLiteral("Remove selected panel?"));
        QCOMPARE(f.boxes[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(f.data->rack(0)->panelCount(), 2);

        struct Case
        {
            QList<ItemData *> items;
            const char *question;
        };
        const Case cases[] = {
            {{a, b}, "Remove selected panels?"},
            {{second}, "Remove selected rack?"},
            {{second, third}, "Remove selected racks?"},
            {{third, a}, "Remove selected rack(s) and panel(s) ?"},
        };
        for (const Case &k : cases) {
            f.select(k.items);
            f.boxes.clear();
            f.answers = {QMessageBox::Cancel};
            w->deleteAction()->trigger();
            QCOMPARE(f.boxes.size(), 1);
            QCOMPARE(f.boxes[0].text, QString::fromLatin1(k.question));
            QCOMPARE(f.data->rowCount(), 3);
            QCOMPARE(f.data->rack(0)->panelCount(), 2);
            QCOMPARE(f.data->rack(1)->panelCount(), 1);
        }

        // OK: the rack with its panel and the selected panel go, files too.
        const QString cDir = c->dataDirectory() + QLatin1Char('/') + c->panelDir();
        QVERIFY(QFileInfo(cDir).isDir());
        f.select({second, a});
        f.answers = {QMessageBox::Ok};
        w->deleteAction()->trigger();
        QCOMPARE(f.data->rowCount(), 2);
        QCOMPARE(f.data->rack(1), third);
        QCOMPARE(f.data->rack(0)->panels(), QList<Panel *>{b});
        QVERIFY(!QFileInfo::exists(cDir));
        QVERIFY(!w->deleteAction()->isEnabled());
    }

    // A click on the "Visible" cell of a selected row toggles every
    // selected row the same way and keeps the selection.
    void visibleClickTogglesEverySelectedRow()
    {
        ManagerFixture f;
        QVERIFY(f.initialise());
        KST_PanelManager *w = f.window.get();
        KST_PanelTree *tree = w->treeView();
        Panel *p1 = f.addPanel(0, QStringLiteral("127.0.0.1"), 24921);
        Panel *p2 = f.addPanel(0, QStringLiteral("127.0.0.1"), 24922);
        Panel *p3 = f.addPanel(0, QStringLiteral("127.0.0.1"), 24923);
        Panel *other = f.addPanel(0, QStringLiteral("127.0.0.1"), 24924);
        tree->expandAll();
        w->resize(900, 400);
        QVERIFY(p1->isVisible() && p2->isVisible() && p3->isVisible());

        f.select({p1, p2, p3});
        QSignalSpy changed(f.data.get(), &QAbstractItemModel::dataChanged);
        clickCell(tree, f.data->indexOfItem(p2).siblingAtColumn(KST_Data::ColVisible));
        QVERIFY(!p1->isVisible() && !p2->isVisible() && !p3->isVisible());
        QVERIFY(other->isVisible());
        QCOMPARE(f.selection()->selectedRows(0).size(), 3);
        bool sawCell = false;
        for (const QList<QVariant> &args : changed)
            sawCell |= args[0].value<QModelIndex>()
                       == f.data->indexOfItem(p3).siblingAtColumn(KST_Data::ColVisible);
        QVERIFY(sawCell);
        QVERIFY(f.data->isChanged());

        clickCell(tree, f.data->indexOfItem(p1).siblingAtColumn(KST_Data::ColVisible));
        QVERIFY(p1->isVisible() && p2->isVisible() && p3->isVisible());

        // A click elsewhere in a selected row selects that row alone; a
        // click on an unselected row's cell toggles that row only.
        clickCell(tree, f.data->indexOfItem(p1).siblingAtColumn(KST_Data::ColName));
        QCOMPARE(f.selection()->selectedRows(0), QModelIndexList{f.data->indexOfItem(p1)});
        clickCell(tree, f.data->indexOfItem(other).siblingAtColumn(KST_Data::ColVisible));
        QVERIFY(!other->isVisible());
        QVERIFY(p1->isVisible());

        // A rack hides its window.
        KST_Rack *rack = f.data->rack(0);
        QVERIFY(rack->isVisible());
        f.select({rack});
        clickCell(tree, f.data->indexOfItem(rack).siblingAtColumn(KST_Data::ColVisible));
        QVERIFY(!rack->isVisible());
        QVERIFY(!rack->isWindowShown());

        // Showing a face of a hidden rack shows the rack, flag and window.
        f.select({other});
        clickCell(tree, f.data->indexOfItem(other).siblingAtColumn(KST_Data::ColVisible));
        QVERIFY(other->isVisible());
        QVERIFY(rack->isVisible());
        QVERIFY(rack->isWindowShown());

        // The "Presses" cell switches remote presses the same way.
        QVERIFY(p1->remotePresses() && p2->remotePresses() && other->remotePresses());
        f.select({p1, p2});
        clickCell(tree, f.data->indexOfItem(p2).siblingAtColumn(KST_Data::ColPresses));
        QVERIFY(!p1->remotePresses() && !p2->remotePresses() && other->remotePresses());
        QCOMPARE(f.selection()->selectedRows(0).size(), 2);
        clickCell(tree, f.data->indexOfItem(p1).siblingAtColumn(KST_Data::ColPresses));
        QVERIFY(p1->remotePresses() && p2->remotePresses());
    }

    // New panels go after the selected panel (or at the end of the
    // selected rack) and are selected; new racks go after the selected one
    // and show their window.
    void newPanelsAndRacksFollowTheSelection()
    {
        ManagerFixture f;
        QVERIFY(f.initialise());
        KST_PanelManager *w = f.window.get();
        w->addPanelAction()->trigger();
        QCOMPARE(f.data->rowCount(), 1);
        Panel *first = f.data->rack(0)->panel(0);
        QVERIFY(first);
        QCOMPARE(f.selection()->selectedRows(0), QModelIndexList{f.data->indexOfItem(first)});
        w->addPanelAction()->trigger();
        Panel *second = f.data->rack(0)->panel(1);
        f.select({first});
        f.selection()->setCurrentIndex(f.data->indexOfItem(first), QItemSelectionModel::NoUpdate);
        w->addPanelAction()->trigger();
        QCOMPARE(f.data->rack(0)->panelCount(), 3);
        QCOMPARE(f.data->rack(0)->panel(2), second);
        Panel *middle = f.data->rack(0)->panel(1);
        QCOMPARE(f.selection()->selectedRows(0), QModelIndexList{f.data->indexOfItem(middle)});

        KST_Rack *r0 = f.data->rack(0);
        f.select({r0});
        w->addRackAction()->trigger();
        QCOMPARE(f.data->rowCount(), 2);
        KST_Rack *r1 = f.data->rack(1);
        QVERIFY(r1 != r0);
        QVERIFY(r1->isVisible());
        QVERIFY(r1->isWindowShown());
        f.select({r0});
        w->addRackAction()->trigger();
        QCOMPARE(f.data->rack(2), r1);
    }

    // The error label alternates between red on white and its own palette.
    void errorLabelBlinks()
    {
        ManagerFixture f;
        QLabel *label = f.window->errorLabel();
        const QPalette own = label->palette();
        QMetaObject::invokeMethod(f.window.get(), "timer_errorLabelBlink");
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::red));
        QCOMPARE(label->palette().color(QPalette::Window), QColor(Qt::white));
        // No white box while there is nothing to tell.
        QVERIFY(!label->autoFillBackground());
        QMetaObject::invokeMethod(f.window.get(), "timer_errorLabelBlink");
        QCOMPARE(label->palette().color(QPalette::WindowText), own.color(QPalette::WindowText));
        QCOMPARE(label->palette().color(QPalette::Window), own.color(QPalette::Window));
        QMetaObject::invokeMethod(f.window.get(), "timer_errorLabelBlink");
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::red));
    }

    // Editors: the port takes 2001 to 65535 only; the address box offers
    // this machine's addresses and "*" last, the current one in bold, and
    // a choice applies at once; the type box likewise.
    void delegateEditors()
    {
        ManagerFixture f({QStringLiteral("127.0.0.1"), QStringLiteral("192.0.2.5")});
        QVERIFY(f.initialise());
        KST_PanelTree *tree = f.window->treeView();
        Panel *p = f.addPanel(0, QStringLiteral("192.0.2.5"), 2500);
        tree->expandAll();
        const QModelIndex row = f.data->indexOfItem(p);

        tree->edit(row.siblingAtColumn(KST_Data::ColPort));
        auto *port = tree->findChild<QLineEdit *>();
        QVERIFY(port);
        QCOMPARE(port->text(), QStringLiteral("2500"));
        QCOMPARE(port->alignment(), Qt::AlignCenter);
        const QValidator *v = port->validator();
        QVERIFY(v);
        for (const char *text : {"2000", "65536", "99999", "-1"}) {
            QString t = QString::fromLatin1(text);
            int pos = 0;
            QVERIFY2(v->validate(t, pos) != QValidator::Acceptable, text);
        }
        for (const char *text : {"2001", "65535", "24000"}) {
            QString t = QString::fromLatin1(text);
            int pos = 0;
            QCOMPARE(v->validate(t, pos), QValidator::Acceptable);
        }
        port->setText(QStringLiteral("3000"));
        QTest::keyClick(port, Qt::Key_Return);
        QTRY_COMPARE(p->panelPort(), 3000);

        tree->edit(row.siblingAtColumn(KST_Data::ColIP));
        auto *ip = tree->findChild<QComboBox *>();
        QVERIFY(ip);
        QCOMPARE(ip->count(), 3);
        QCOMPARE(ip->itemText(2), QStringLiteral("*"));
        QCOMPARE(ip->currentText(), QStringLiteral("192.0.2.5"));
        QCOMPARE(ip->itemData(ip->currentIndex(), Qt::UserRole).toInt(), 2);
        QCOMPARE(ip->itemData(0, Qt::UserRole).toInt(), 0);
        QVERIFY(dynamic_cast<IPItemDelegate *>(ip->itemDelegate()));
        ip->setCurrentIndex(2);
        emit ip->textActivated(QStringLiteral("*"));
        QCOMPARE(p->ip(), QStringLiteral("*"));
        QTRY_VERIFY(!tree->findChild<QComboBox *>());

        tree->edit(row.siblingAtColumn(KST_Data::ColType));
        auto *type = tree->findChild<QComboBox *>();
        QVERIFY(type);
        QCOMPARE(type->count(), f.data->panelInfo()->typeCount());
        QCOMPARE(type->currentText(), QStringLiteral("SK2000A"));
        QCOMPARE(type->itemData(type->currentIndex(), Qt::UserRole).toInt(), 2);
        QVERIFY(dynamic_cast<PanelTypeItemDelegate *>(type->itemDelegate()));
        const int sk1100 = type->findText(QStringLiteral("SK1100A"));
        QVERIFY(sk1100 >= 0);
        QCOMPARE(type->itemData(sk1100, Qt::UserRole).toInt(), 0);
        type->setCurrentIndex(sk1100);
        emit type->textActivated(QStringLiteral("SK1100A"));
        QCOMPARE(p->panelType(), f.data->panelInfo()->typeIndex(QStringLiteral("SK1100A")));

        // A rack's name takes the plain line edit.
        QTRY_VERIFY(!tree->findChild<QComboBox *>());
        tree->edit(f.data->index(0, KST_Data::ColName));
        auto *name = tree->viewport()->findChild<QLineEdit *>();
        QVERIFY(name);
        QCOMPARE(name->text(), QStringLiteral("rack"));
        // Redrawn rows (a rack window resized) leave the typing alone.
        name->setText(QStringLiteral("rac"));
        emit f.data->dataChanged(f.data->index(0, 0), f.data->index(0, KST_Data::ColumnCount - 1));
        QCOMPARE(name->text(), QStringLiteral("rac"));
        QTest::keyClick(name, Qt::Key_Return);
        QTRY_COMPARE(f.data->rack(0)->name(), QStringLiteral("rac"));
    }

    // Icons of the state columns for a stopped panel; the comm squares'
    // colours; the squares of a panel that does not run are grey.
    void iconsAndCommSquares()
    {
        ManagerFixture f;
        QVERIFY(f.initialise());
        Panel *p = f.addPanel(0, QStringLiteral("127.0.0.1"), 24931);
        KST_PanelManagerItemDelegate delegate;
        const QImage notStarted = QImage(QStringLiteral(":/images2/started_no.png"));
        for (int c : {KST_Data::ColStarted, KST_Data::ColOnline, KST_Data::ColCfg}) {
            const QPixmap *icon = delegate.stateIcon(p, c);
            QVERIFY(icon);
            // Compared as the pixmap holds the picture, premultiplied: taken
            // back to straight alpha, a channel that lies halfway between two
            // values rounds either way, depending on the processor.
            const QImage shown = icon->toImage();
            QCOMPARE(shown, notStarted.convertToFormat(shown.format()));
        }
        QVERIFY(!delegate.stateIcon(p, KST_Data::ColName));
        // The tree draws every cell of the panel without complaint.
        f.window->treeView()->expandAll();
        log_recorder::clear();
        f.window->grab();
        QCOMPARE(log_recorder::count(QtCriticalMsg), 0);

        QCOMPARE(KST_CommWidget::transmitColor(4, 4), QColor(255, 204, 0));
        QCOMPARE(KST_CommWidget::transmitColor(0, 4), QColor(64, 51, 0));
        QCOMPARE(KST_CommWidget::transmitColor(2, 4), QColor(159, 127, 0));
        QCOMPARE(KST_CommWidget::receiveColor(4, 4), QColor(0, 255, 0));
        QCOMPARE(KST_CommWidget::failureColor(1, 4), QColor(111, 0, 0));

        KST_CommWidget w;
        w.resize(40, 16);
        w.updateFrom(p);
        QVERIFY(!w.shownStarted());
        const QImage mask = QImage(QStringLiteral(":/images2/comm.png"))
                                .scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QCOMPARE(w.leftSquare().size(), QSize(16, 16));
        QCOMPARE(w.rightSquare().size(), QSize(16, 16));
        int opaque = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                if (qAlpha(mask.pixel(x, y)) != 255)
                    continue;
                ++opaque;
                QCOMPARE(QColor(w.leftSquare().pixel(x, y)), QColor(128, 128, 128));
                QCOMPARE(QColor(w.rightSquare().pixel(x, y)), QColor(128, 128, 128));
            }
        QVERIFY(opaque > 0);

        // A transmit right now; then a failed send: the left half red.
        w.showLevels(4, 0, 0, 4, true);
        const QPoint inLeft(4, 8), inRight(12, 8);
        QVERIFY(qAlpha(mask.pixel(inLeft)) == 255 && qAlpha(mask.pixel(inRight)) == 255);
        QCOMPARE(QColor(w.leftSquare().pixel(inLeft)), QColor(255, 204, 0));
        QCOMPARE(QColor(w.leftSquare().pixel(inRight)), QColor(255, 204, 0));
        QCOMPARE(QColor(w.rightSquare().pixel(inLeft)), QColor(0, 64, 0));
        w.showLevels(4, 3, 2, 4, true);
        QCOMPARE(QColor(w.leftSquare().pixel(inLeft)), QColor(159, 0, 0));
        QCOMPARE(QColor(w.leftSquare().pixel(inRight)), QColor(255, 204, 0));
        QCOMPARE(QColor(w.rightSquare().pixel(inRight)), QColor(0, 207, 0));
        // Fully transparent where the mask is.
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                if (qAlpha(mask.pixel(x, y)) == 0)
                    QCOMPARE(qAlpha(w.leftSquare().pixel(x, y)), 0);
        // A taller cell scales the mask anew.
        w.resize(60, 24);
        w.showLevels(3, 3, 2, 4, true);
        QCOMPARE(w.leftSquare().size(), QSize(24, 24));
    }

    // Selected rows mark their faces; the marks follow the selection.
    void facesShowTheSelection()
    {
        ManagerFixture f;
        QVERIFY(f.initialise());
        Panel *a = f.addPanel(0, QStringLiteral("127.0.0.1"), 24941);
        Panel *b = f.addPanel(0, QStringLiteral("127.0.0.1"), 24942);
        QVERIFY(a->face() && b->face());
        f.select({a});
        QVERIFY(kst_isFaceSelected(a->face()));
        QVERIFY(!kst_isFaceSelected(b->face()));
        f.select({b, f.data->rack(0)});
        QVERIFY(!kst_isFaceSelected(a->face()));
        QVERIFY(kst_isFaceSelected(b->face()));
        // The mark lets presses through to the face.
        QWidget *mark = b->face()->findChild<QWidget *>(QStringLiteral("kst_selection_mark"));
        QVERIFY(mark);
        QVERIFY(mark->testAttribute(Qt::WA_TransparentForMouseEvents));
        QCOMPARE(mark->geometry(), b->face()->rect());
    }

    // CTRL+T toggles the frame of the active rack window and nothing else.
    void titleOnOffTogglesTheActiveRackWindow()
    {
        ManagerFixture f;
        QVERIFY(f.initialise());
        f.addPanel(0, QStringLiteral("127.0.0.1"), 24951);
        KST_RackWidgetResizer *frame = f.data->rack(0)->frame();
        QVERIFY(frame);
        auto framed = [frame]() { return !(frame->windowFlags() & Qt::FramelessWindowHint); };
        QVERIFY(framed());
        f.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        f.window->titleOnOffAction()->trigger();
        QVERIFY(framed());

        frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(frame));
        const QPoint where = frame->geometry().topLeft();
        QTest::keyClick(frame, Qt::Key_T, Qt::ControlModifier);
        QVERIFY(!framed());
        QCOMPARE(frame->geometry().topLeft(), where);
        QVERIFY(frame->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(frame));
        // Through another window: the frame's window was active all along.
        f.window->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), f.window.get());
        frame->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), frame);
        f.window->titleOnOffAction()->trigger();
        QVERIFY(framed());
    }
};

QTEST_MAIN(TestPanelManager)
#include "tst_panelmanager.moc"
