// The panel set: the item model under Qt's model tester through adds,
// removes, moves and renames; what the cells show and which can be edited;
// cfg.xml from a fresh start, with missing fields and unreadable; the save
// rule; validation against running panels; drag and drop; the timed start
// with autostart; panel notifications reaching the cells.

#include "arch_archi.h"
#include "arch_itemi.h"
#include "kst_data.h"
#include "kst_rack.h"
#include "kst_rackwidget.h"
#include "pan_imagecontainer.h"
#include "panelset_file.h"
#include "tiny_pictures.h"
#include "../../support/log_recorder.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Panel = KST_PanelInstance;

namespace {

const int kSK2000A = 10;

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QStringList badFiles(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("cfg.xml.bad-*")}, QDir::Files);
}

} // namespace

class TestData : public QObject
{
    Q_OBJECT

    QTemporaryDir m_pictures;
    std::unique_ptr<PAN_ImageContainer> m_images;
    std::unique_ptr<QTemporaryDir> m_base;

    QString cfgPath() const { return m_base->filePath(QStringLiteral("cfg.xml")); }

    // A panel set in this test's base directory, with small faces.
    std::unique_ptr<KST_Data> makeData()
    {
        auto data = std::make_unique<KST_Data>(cfgPath());
        data->setImageContainer(m_images.get());
        PAN_WidgetOptions options;
        options.splash = false;
        options.fadeIn = false;
        data->setFaceOptions(options);
        data->setFirmwareSource(QStringLiteral(TESSFW_LIBRARY));
        return data;
    }

    Panel *addTypedPanel(KST_Data *data, int rack, const QString &ip, int port)
    {
        Panel *p = data->addPanel(rack);
        const QModelIndex i = data->indexOfItem(p);
        data->setData(i.siblingAtColumn(KST_Data::ColType), QStringLiteral("SK2000A"));
        data->setData(i.siblingAtColumn(KST_Data::ColIP), ip);
        data->setData(i.siblingAtColumn(KST_Data::ColPort), port);
        return p;
    }

    // Shown faces are scaled to their rack window's width, which Qt hands to
    // its image thread pool; the thread sanitizer cannot follow that pool's
    // hand-overs, so tests that run firmware threads keep the windows shut.
    static void hideRackWindows(KST_Data *data)
    {
        for (KST_Rack *r : data->racks())
            r->setVisible(false);
    }

private slots:
    void initTestCase()
    {
        log_recorder::install();
        QVERIFY(writeTinyPictures(m_pictures.path()));
        m_images = std::make_unique<PAN_ImageContainer>(m_pictures.path(), nullptr);
    }

    void init()
    {
        m_base = std::make_unique<QTemporaryDir>();
        QVERIFY(m_base->isValid());
        qputenv("TESSALINE_BASE_DIR", QFile::encodeName(m_base->path()));
        log_recorder::clear();
    }

    // Without cfg.xml the set is empty; the first panel brings rack "rack"
    // and uid 1, and the file follows within 10 s (the product interval).
    void freshStartFirstPanelSavedWithinTenSeconds()
    {
        auto data = makeData();
        QAbstractItemModelTester tester(data.get(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(data->rowCount(), 0);
        QCOMPARE(data->columnCount(), int(KST_Data::ColumnCount));
        QVERIFY(!QFileInfo::exists(cfgPath()));

        Panel *p = data->addPanel(0);
        QVERIFY(data->setData(data->indexOfItem(p).siblingAtColumn(KST_Data::ColRouters),
                              QStringLiteral("10.0.0.2 127.000.0.2,10.0.0.2")));
        QCOMPARE(data->rowCount(), 1);
        QCOMPARE(data->rack(0)->name(), QStringLiteral("rack"));
        QCOMPARE(p->uid(), 1);
        QCOMPARE(data->puid(), 1);
        QCOMPARE(p->name(), QStringLiteral("panel1"));
        QVERIFY(p->isVisible());
        QVERIFY(data->rack(0)->isVisible());
        QVERIFY(data->rack(0)->window()->hasFace(p->face()));
        QVERIFY(data->isChanged());

        // The autosaver's interval is 10 s; a loaded machine gets 2 s more
        // to run its timer.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(cfgPath()), 12000);
        QVERIFY(!data->isChanged());
        QVERIFY(readFile(cfgPath()).startsWith("<?xml version = '1.0'?>\n<!DOCTYPE arch"));

        data.reset();
        auto again = makeData();
        QCOMPARE(again->rowCount(), 1);
        QCOMPARE(again->rack(0)->panelCount(), 1);
        QCOMPARE(again->rack(0)->panel(0)->uid(), 1);
        QCOMPARE(again->rack(0)->panel(0)->allowedRouters(),
                 (QStringList{"10.0.0.2", "127.0.0.2"}));
        QCOMPARE(again->rack(0)->panel(0)->parentItem(), static_cast<ItemData *>(again->rack(0)));
        QCOMPARE(again->addPanel(0)->uid(), 2);
    }

    // Qt's model tester watches every change; the cells show what the Part
    // of the tree they belong to shows.
    void modelThroughAddsRemovesMovesRenames()
    {
        auto data = makeData();
        QAbstractItemModelTester tester(data.get(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        KST_Rack *a = data->addRack();
        KST_Rack *b = data->addRack(0);
        QCOMPARE(data->rack(0), b);
        KST_Rack *c = data->addRack(99);
        QCOMPARE(data->rack(2), c);
        Panel *p1 = data->addPanel(1);
        Panel *p2 = data->addPanel(1, 0);
        Panel *p3 = data->addPanel(7, -3); // clamped to the last rack
        QCOMPARE(a->panels(), (QList<Panel *>{p2, p1}));
        QCOMPARE(c->panels(), (QList<Panel *>{p3}));

        // Headers and cells.
        const QStringList names{"Name",   "Type", "IP",  "Port", "Started",     "Visible",
                                "Online", "Cfg",  "Comm", "Presses", "Description", "Routers"};
        for (int s = 0; s < names.size(); ++s)
            QCOMPARE(data->headerData(s, Qt::Horizontal).toString(), names.at(s));
        QCOMPARE(data->headerData(names.size(), Qt::Horizontal).toString(), QStringLiteral("C???"));
        QCOMPARE(data->headerData(3, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignCenter));
        QVERIFY(!data->headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).isValid());

        const QModelIndex ra = data->indexOfItem(a);
        QCOMPARE(ra.row(), 1);
        QCOMPARE(a->modelIndex(), ra);
        QCOMPARE(p1->modelIndex(), data->index(1, 0, ra));
        QVERIFY(data->setData(ra.siblingAtColumn(KST_Data::ColDescription), QStringLiteral("left wall")));
        QCOMPARE(data->data(ra).toString(), QStringLiteral("rack"));
        QCOMPARE(data->data(ra.siblingAtColumn(1)).toString(), QStringLiteral("Rack"));
        QCOMPARE(data->data(ra.siblingAtColumn(KST_Data::ColDescription)).toString(), QStringLiteral("left wall"));
        QCOMPARE(data->data(ra.siblingAtColumn(3)).toString(), QString());
        const QModelIndex i1 = data->indexOfItem(p1);
        QVERIFY(data->setData(i1.siblingAtColumn(1), QStringLiteral("SK2000A")));
        QVERIFY(data->setData(i1.siblingAtColumn(2), QStringLiteral("127.0.0.1")));
        QVERIFY(data->setData(i1.siblingAtColumn(3), QStringLiteral("2042")));
        QCOMPARE(data->data(i1.siblingAtColumn(1)).toString(), QStringLiteral("SK2000A"));
        QCOMPARE(data->data(i1.siblingAtColumn(2)).toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(data->data(i1.siblingAtColumn(3)).toString(), QStringLiteral("2042"));
        for (int col = 4; col <= 8; ++col) {
            QCOMPARE(data->data(i1.siblingAtColumn(col)).toString(), QString());
            QCOMPARE(data->data(i1.siblingAtColumn(col), Qt::TextAlignmentRole).toInt(),
                     int(Qt::AlignCenter));
        }
        QVERIFY(!data->data(i1.siblingAtColumn(2), Qt::TextAlignmentRole).isValid());

        // Renames: a rack's name is its window's title and part of its
        // panels' tooltips.
        QSignalSpy changed(data.get(), &QAbstractItemModel::dataChanged);
        QVERIFY(data->setData(ra, QStringLiteral("studio A")));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(a->frame()->windowTitle(), QStringLiteral("studio A"));
        QVERIFY(p1->toolTip().startsWith(QStringLiteral("panel1[studio A], stopped")));
        QVERIFY(data->setData(i1, QStringLiteral("desk")));
        QVERIFY(p1->toolTip().startsWith(QStringLiteral("desk[studio A]")));

        // Refused edits.
        QVERIFY(!data->setData(i1.siblingAtColumn(1), QStringLiteral("sk2000a")));
        QCOMPARE(p1->panelType(), kSK2000A);
        QVERIFY(!data->setData(i1.siblingAtColumn(3), QStringLiteral("abc")));
        QVERIFY(!data->setData(i1.siblingAtColumn(3), 70000));
        QCOMPARE(p1->panelPort(), 2042);
        QVERIFY(!data->setData(i1.siblingAtColumn(5), true));
        QVERIFY(!data->setData(ra.siblingAtColumn(2), QStringLiteral("1.2.3.4")));
        // Router addresses: IPv4 addresses only, 16 at most.
        QVERIFY(data->setData(i1.siblingAtColumn(KST_Data::ColRouters), QStringLiteral("10.1.0.9")));
        for (const char *bad : {"10.1.0", "0.1.2.3", "router", "10.1.0.256",
                                "1.0.0.1 1.0.0.2 1.0.0.3 1.0.0.4 1.0.0.5 1.0.0.6 1.0.0.7 1.0.0.8 1.0.0.9 "
                                "1.0.0.10 1.0.0.11 1.0.0.12 1.0.0.13 1.0.0.14 1.0.0.15 1.0.0.16 1.0.0.17"})
            QVERIFY2(!data->setData(i1.siblingAtColumn(KST_Data::ColRouters), QString::fromLatin1(bad)), bad);
        QCOMPARE(data->data(i1.siblingAtColumn(KST_Data::ColRouters)).toString(), QStringLiteral("10.1.0.9"));
        QVERIFY(data->setData(i1.siblingAtColumn(KST_Data::ColRouters), QString()));
        QVERIFY(p1->allowedRouters().isEmpty());
        log_recorder::clear();
        QVERIFY(!data->setData(i1, QStringLiteral("x"), Qt::DisplayRole));
        QCOMPARE(log_recorder::count(QtDebugMsg, QStringLiteral("setData, role =")), 1);
        QCOMPARE(p1->name(), QStringLiteral("desk"));

        // Moves by drag and drop: a panel into another rack, racks reordered.
        std::unique_ptr<QMimeData> mime(data->mimeData({data->indexOfItem(p3)}));
        QVERIFY(mime);
        QVERIFY(data->dropMimeData(mime.get(), Qt::MoveAction, 1, 0, data->indexOfItem(a)));
        QCOMPARE(a->panels(), (QList<Panel *>{p2, p3, p1}));
        QCOMPARE(c->panelCount(), 0);
        QCOMPARE(p3->parentItem(), static_cast<ItemData *>(a));
        mime.reset(data->mimeData({data->indexOfItem(c), data->indexOfItem(b)}));
        QVERIFY(mime);
        QVERIFY(data->dropMimeData(mime.get(), Qt::MoveAction, -1, 0, QModelIndex()));
        QCOMPARE(data->racks(), (QList<KST_Rack *>{a, c, b}));
        // Onto its own place: nothing moves.
        mime.reset(data->mimeData({data->indexOfItem(p2)}));
        QVERIFY(data->dropMimeData(mime.get(), Qt::MoveAction, 0, 0, data->indexOfItem(a)));
        QCOMPARE(a->panels(), (QList<Panel *>{p2, p3, p1}));

        // Removes, without and with delete.
        data->removePanels({p3}, false);
        QCOMPARE(a->panels(), (QList<Panel *>{p2, p1}));
        QVERIFY(!p3->parentItem());
        delete p3;
        data->removePanels({p1, p2, p1}, true);
        QCOMPARE(a->panelCount(), 0);
        data->addPanel(2);
        data->removeRacks({b, c}, true);
        QCOMPARE(data->racks(), (QList<KST_Rack *>{a}));
        data->removeRacks({a}, false);
        QCOMPARE(data->rowCount(), 0);
        QVERIFY(!a->parentItem());
        delete a;
        QVERIFY(!data->index(0, 0).isValid());
    }

    // Type, IP and port cells are not enabled while the panel runs; name and
    // description stay editable. A running panel blocks its address and
    // port, "*" blocks the port on every address; the block ends when the
    // running panel has stopped.
    void validationAndCellsOfRunningPanels()
    {
        auto data = makeData();
        Panel *first = addTypedPanel(data.get(), 0, QStringLiteral("127.0.0.1"), 24711);
        Panel *second = addTypedPanel(data.get(), 0, QStringLiteral("127.0.0.1"), 24711);
        Panel *star = addTypedPanel(data.get(), 0, QStringLiteral("*"), 24711);
        Panel *other = addTypedPanel(data.get(), 0, QStringLiteral("*"), 24712);
        Panel *bare = data->addPanel(0);
        hideRackWindows(data.get());

        QString why;
        QVERIFY(!data->validatePanel(bare, &why));
        QCOMPARE(why, QStringLiteral("No panel type selected."));
        data->setData(data->indexOfItem(bare).siblingAtColumn(1), QStringLiteral("SK1100A"));
        QVERIFY(!data->validatePanel(bare, &why));
        QCOMPARE(why, QStringLiteral("No IP selected."));
        data->setData(data->indexOfItem(bare).siblingAtColumn(2), QStringLiteral("203.0.113.9"));
        QVERIFY(!data->validatePanel(bare, &why));
        QCOMPARE(why, QStringLiteral("IP is not valid."));
        QVERIFY(!data->validatePanel(bare));

        for (Panel *p : {first, second, star, other})
            QVERIFY(data->validatePanel(p));

        QVERIFY(data->validatePanel(first, &why));
        QVERIFY(first->start(0));
        const QModelIndex i = data->indexOfItem(first);
        for (int col : {KST_Data::ColType, KST_Data::ColIP, KST_Data::ColPort, KST_Data::ColRouters}) {
            const Qt::ItemFlags f = data->flags(i.siblingAtColumn(col));
            QVERIFY(!(f & Qt::ItemIsEnabled));
            QVERIFY(!(f & Qt::ItemIsEditable));
            QVERIFY(f & Qt::ItemIsSelectable);
        }
        QVERIFY(data->flags(i) & Qt::ItemIsEditable);
        QVERIFY(data->flags(i.siblingAtColumn(KST_Data::ColDescription)) & Qt::ItemIsEditable);
        QVERIFY(!data->setData(i.siblingAtColumn(3), 24800));
        QCOMPARE(first->panelPort(), 24711);
        QTRY_COMPARE_WITH_TIMEOUT(first->state(), Panel::Started, 10000);
        for (int col : {1, 2, 3})
            QVERIFY(!(data->flags(i.siblingAtColumn(col)) & Qt::ItemIsEnabled));
        // Stopped panels are editable.
        QVERIFY(data->flags(data->indexOfItem(second).siblingAtColumn(2)) & Qt::ItemIsEditable);

        QVERIFY(!data->validatePanel(second, &why));
        QCOMPARE(why, QStringLiteral("IP - PanelPort already used."));
        QVERIFY(!data->validatePanel(star, &why));
        QCOMPARE(why, QStringLiteral("IP - PanelPort already used."));
        QVERIFY(data->validatePanel(other));
        // A running panel is no obstacle to itself.
        QVERIFY(data->validatePanel(first));

        QVERIFY(first->stop());
        QTRY_COMPARE_WITH_TIMEOUT(first->state(), Panel::Stopped, 10000);
        QVERIFY(data->validatePanel(second));
        QVERIFY(data->validatePanel(star));
        QVERIFY(data->flags(i.siblingAtColumn(1)) & Qt::ItemIsEnabled);
    }

    // A drag of racks and panels together gives nothing; drops that cannot
    // be placed are refused; a moved panel keeps its directory, a deleted
    // one loses it.
    void dragDropAndPanelDirectories()
    {
        auto data = makeData();
        KST_Rack *a = data->addRack();
        KST_Rack *b = data->addRack();
        Panel *p = data->addPanel(0);
        data->setData(data->indexOfItem(p).siblingAtColumn(1), QStringLiteral("SK2000A"));
        Panel *q = data->addPanel(1);

        QVERIFY(!data->mimeData({data->indexOfItem(a), data->indexOfItem(p)}));
        QCOMPARE(data->dragKind(), int(KST_Data::DragNone));
        QVERIFY(!data->mimeData({}));
        QCOMPARE(data->mimeTypes(),
                 (QStringList{"application/panel.list", "application/rack.list"}));
        QCOMPARE(data->supportedDropActions(), Qt::MoveAction);
        QCOMPARE(data->supportedDragActions(), Qt::MoveAction);

        std::unique_ptr<QMimeData> racks(data->mimeData({data->indexOfItem(b)}));
        QVERIFY(racks->hasFormat(QStringLiteral("application/rack.list")));
        QCOMPARE(data->dragKind(), int(KST_Data::DragRacks));
        QVERIFY(data->flags(QModelIndex()) & Qt::ItemIsDropEnabled);
        // Racks go to the top level only.
        QVERIFY(!data->dropMimeData(racks.get(), Qt::MoveAction, 0, 0, data->indexOfItem(a)));

        std::unique_ptr<QMimeData> panels(data->mimeData({data->indexOfItem(p)}));
        QCOMPARE(data->dragKind(), int(KST_Data::DragPanels));
        QVERIFY(!(data->flags(QModelIndex()) & Qt::ItemIsDropEnabled));
        QVERIFY(!data->dropMimeData(panels.get(), Qt::CopyAction, 0, 0, data->indexOfItem(b)));
        log_recorder::clear();
        QVERIFY(!data->dropMimeData(panels.get(), Qt::MoveAction, 0, 0, data->indexOfItem(q)));
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("rack NULL")), 1);
        QVERIFY(!data->dropMimeData(panels.get(), Qt::MoveAction, 0, 0, QModelIndex()));

        // References to no panel of this set, or bytes that are no list,
        // are refused without being followed.
        QMimeData forged;
        QByteArray bytes;
        {
            QDataStream out(&bytes, QIODevice::WriteOnly);
            out << quint32(1) << quint64(0x1234);
        }
        forged.setData(QStringLiteral("application/panel.list"), bytes);
        QVERIFY(!data->dropMimeData(&forged, Qt::MoveAction, 0, 0, data->indexOfItem(b)));
        forged.setData(QStringLiteral("application/panel.list"), QByteArray("\0\0\0\x09", 4));
        QVERIFY(!data->dropMimeData(&forged, Qt::MoveAction, 0, 0, data->indexOfItem(b)));
        QMimeData forgedRacks;
        forgedRacks.setData(QStringLiteral("application/rack.list"), bytes);
        QVERIFY(!data->dropMimeData(&forgedRacks, Qt::MoveAction, 0, 0, QModelIndex()));
        QCOMPARE(a->panels(), (QList<Panel *>{p}));

        // The panel's directory as a run leaves it.
        const QString dir = m_base->filePath(QStringLiteral("data/p1"));
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(writeFile(p->firmwarePath(), "library"));
        QVERIFY(writeFile(p->configPath(), "config"));

        QSignalSpy reexpand(data.get(), &KST_Data::reexpand_racks);
        QVERIFY(data->dropMimeData(panels.get(), Qt::MoveAction, 0, 0, data->indexOfItem(b)));
        QCOMPARE(reexpand.count(), 1);
        QCOMPARE(b->panels(), (QList<Panel *>{p, q}));
        QVERIFY(b->window()->hasFace(p->face()));
        QVERIFY(!a->window()->hasFace(p->face()));
        QCOMPARE(readFile(p->configPath()), QByteArray("config"));
        QCOMPARE(readFile(p->firmwarePath()), QByteArray("library"));

        data->removePanels({p}, true);
        QVERIFY(!QFileInfo::exists(dir));
        QCOMPARE(b->panels(), (QList<Panel *>{q}));
    }

    // A rack entry without "expanded" loads collapsed with one warning. A
    // "puid" behind the uids in the file is moved past them.
    void loadWithMissingFields()
    {
        const QByteArray file =
            "<?xml version = '1.0'?>\n<!DOCTYPE arch SYSTEM 'arch'>\n<arch>\n"
            " <racks>\n"
            "  <e><name>old</name><desc>d</desc><visible>0</visible>\n"
            "   <panel><e><uid>7</uid><name>seven</name><paneltype>10</paneltype>"
            "<firmware_ip>127.0.0.1</firmware_ip><panelPort>2500</panelPort></e></panel>\n"
            "   <ui_data/></e>\n"
            "  <e><name>second</name><desc/><expanded>1</expanded><visible>0</visible>"
            "<panel/><ui_data/></e>\n"
            " </racks>\n <puid>3</puid>\n <ui_data><e><k>0</k><v>AQID</v></e></ui_data>\n"
            "</arch>\n";
        QVERIFY(writeFile(cfgPath(), file));
        auto data = makeData();
        QCOMPARE(data->rowCount(), 2);
        KST_Rack *old = data->rack(0);
        QCOMPARE(old->name(), QStringLiteral("old"));
        QVERIFY(!old->isExpanded());
        QVERIFY(data->rack(1)->isExpanded());
        QCOMPARE(log_recorder::count(QtWarningMsg, QStringLiteral("child'expanded'not found")),
                 1);
        Panel *seven = old->panel(0);
        QCOMPARE(seven->uid(), 7);
        QCOMPARE(seven->panelType(), kSK2000A);
        QCOMPARE(seven->panelPort(), 2500);
        // Stored before panels had allowed routers: any router, quietly.
        QVERIFY(seven->allowedRouters().isEmpty());
        QCOMPARE(log_recorder::count(QtWarningMsg, QStringLiteral("child'allowed_routers'")), 0);
        QCOMPARE(data->uiData(KST_Data::UiMainWindow), QByteArray("\x01\x02\x03"));
        QCOMPARE(data->puid(), 7);
        QCOMPARE(data->addPanel(1)->uid(), 8);
        QVERIFY(badFiles(m_base->path()).isEmpty());
    }

    // A cfg.xml that cannot be read is kept as "cfg.xml.bad-<date>", the
    // set starts empty with a warning, and the next save writes a new file
    // without touching the kept one.
    void unreadableFileKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("malformed") << QByteArray("<arch><racks><e></racks></arch>");
        QTest::newRow("truncated") << QByteArray(
            "<?xml version = '1.0'?>\n<!DOCTYPE arch SYSTEM 'arch'>\n<arch>\n <racks>\n  <e>\n"
            "   <name>rack</name>\n   <de");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not a panel set") << QByteArray(
            "<?xml version = '1.0'?>\n<arch>\n <images/>\n</arch>\n");
        QTest::newRow("other document") << QByteArray("<html><body>hello</body></html>");
    }
    void unreadableFileKeptAside()
    {
        QFETCH(QByteArray, content);
        QVERIFY(writeFile(cfgPath(), content));
        auto data = makeData();
        QAbstractItemModelTester tester(data.get(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(data->rowCount(), 0);
        const QStringList bad = badFiles(m_base->path());
        QCOMPARE(bad.size(), 1);
        QVERIFY(QRegularExpression(QStringLiteral("^cfg\\.xml\\.bad-\\d{8}-\\d{6}$"))
                    .match(bad.first())
                    .hasMatch());
        QCOMPARE(readFile(m_base->filePath(bad.first())), content);
        QVERIFY(!QFileInfo::exists(cfgPath()));
        QCOMPARE(log_recorder::countContaining(QtWarningMsg, QStringLiteral("could not be read")),
                 1);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("failed to read archive")), 1);

        data->addPanel(0);
        data->save();
        QVERIFY(QFileInfo::exists(cfgPath()));
        QCOMPARE(readFile(m_base->filePath(bad.first())), content);

        // A second bad file on the same second gets a name of its own.
        data.reset();
        QVERIFY(writeFile(cfgPath(), content));
        makeData();
        QCOMPARE(badFiles(m_base->path()).size(), 2);
    }

    // Saved at once when the last save is older than the interval, else by
    // the autosaver within the interval; a failed write is tried again;
    // pending changes are written at the end.
    void saveRule()
    {
        auto data = makeData();
        data->setSaveInterval(400);
        QTest::qWait(450);
        data->addRack();
        QVERIFY(QFileInfo::exists(cfgPath()));
        QVERIFY(!data->isChanged());
        data->setData(data->index(0, 0), QStringLiteral("renamed"));
        QVERIFY(data->isChanged());
        QVERIFY(!readFile(cfgPath()).contains("renamed"));
        QTRY_VERIFY_WITH_TIMEOUT(readFile(cfgPath()).contains("renamed"), 1000);
        QVERIFY(!data->isChanged());

        // Expanding and collapsing, closing a window, interface data.
        const QModelIndex r = data->index(0, 0);
        QTest::qWait(450);
        data->rack_expanded(r);
        QVERIFY(data->rack(0)->isExpanded());
        QVERIFY(readFile(cfgPath()).contains("<expanded>1</expanded>"));
        data->rack_expanded(r);
        QVERIFY(!data->isChanged());
        data->rack_collapsed(r);
        QVERIFY(data->isChanged());
        log_recorder::clear();
        data->rack_collapsed(QModelIndex());
        QCOMPARE(log_recorder::countContaining(QtDebugMsg, QStringLiteral("not a rack")), 1);

        data->rack(0)->setVisible(true);
        QSignalSpy cells(data.get(), &QAbstractItemModel::dataChanged);
        QVERIFY(QMetaObject::invokeMethod(data->rack(0)->frame(), "close"));
        QVERIFY(!data->rack(0)->isVisible());
        QVERIFY(!data->rack(0)->isWindowShown());
        QCOMPARE(cells.count(), 1);
        QCOMPARE(cells.at(0).at(0).toModelIndex(), r.siblingAtColumn(KST_Data::ColVisible));

        data->setUiData(KST_Data::UiTreeHeader, QByteArray("header"));
        data.reset();
        QVERIFY(readFile(cfgPath()).contains("<expanded>0</expanded>"));
        QVERIFY(readFile(cfgPath()).contains(QByteArray("header").toBase64()));

        // Writing into a directory that does not exist fails; the change
        // waits for the next attempt and is written once it can be.
        const QString later = m_base->filePath(QStringLiteral("later/cfg.xml"));
        {
            KST_Data d(later);
            d.setSaveInterval(200);
            QTest::qWait(250);
            log_recorder::clear();
            d.addRack();
            QCOMPARE(log_recorder::count(QtCriticalMsg,
                                         QStringLiteral("failed to open file for writing")),
                     1);
            QVERIFY(d.isChanged());
            QVERIFY(QDir(m_base->path()).mkdir(QStringLiteral("later")));
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(later), 1000);
        }
    }

    // The cascade of new rack windows around the main window's centre.
    void rackWindowCascade()
    {
        // Centre (500.5, 349.5): halves round up.
        const QRect main(100, 50, 801, 600);
        QCOMPARE(KST_Data::cascadeGeometry(main, 0), QRect(505, 354, 401, 300));
        QCOMPARE(KST_Data::cascadeGeometry(main, 1), QRect(509, 358, 401, 300));
        QCOMPARE(KST_Data::cascadeGeometry(main, 10), KST_Data::cascadeGeometry(main, 0));

        auto data = makeData();
        QWidget window;
        window.setGeometry(main);
        data->setMainWindow(&window);
        KST_Rack *r = data->addRack();
        QCOMPARE(r->frame()->geometry().size(), QSize(qRound(window.frameGeometry().width() / 2.0),
                                                      qRound(window.frameGeometry().height() / 2.0)));
    }

    // The timed start: windows at 100 ms, faces at 300 ms after that, then
    // panels marked for autostart start one second later; one that cannot
    // start loses its mark with a warning, and so does the second of two
    // marked panels on one address and port.
    void timedInitAndAutostart()
    {
        auto writeSet = [this]() {
            KST_Data d(cfgPath());
            d.setFirmwareSource(QStringLiteral(TESSFW_LIBRARY));
            d.setImageContainer(m_images.get());
            PAN_WidgetOptions options;
            options.splash = false;
            options.fadeIn = false;
            d.setFaceOptions(options);
            Panel *good = addTypedPanel(&d, 0, QStringLiteral("127.0.0.1"), 24721);
            Panel *twin = addTypedPanel(&d, 0, QStringLiteral("127.0.0.1"), 24721);
            Panel *bad = addTypedPanel(&d, 0, QStringLiteral("203.0.113.9"), 24722);
            for (Panel *p : {good, twin, bad})
                p->setShouldAutostart(true);
            d.rack(0)->setVisible(false);
            d.save();
        };
        writeSet();

        QElapsedTimer clock;
        clock.start();
        auto data = makeData();
        QSignalSpy step1(data.get(), &KST_Data::init_step1_finished);
        QSignalSpy step2(data.get(), &KST_Data::init_step2_finished);
        QCOMPARE(data->rack(0)->panelCount(), 3);
        QVERIFY(!data->rack(0)->window());
        QVERIFY(!data->rack(0)->panel(0)->face());

        QVERIFY(step1.wait(2000));
        // Coarse timers may fire up to 5 % early.
        QVERIFY(clock.elapsed() >= 95);
        QVERIFY(data->rack(0)->window());
        QVERIFY(!data->rack(0)->panel(0)->face());
        QVERIFY(step2.wait(2000));
        QVERIFY(clock.elapsed() >= 380);
        QVERIFY(data->isInitialised());
        Panel *good = data->rack(0)->panel(0);
        Panel *twin = data->rack(0)->panel(1);
        Panel *bad = data->rack(0)->panel(2);
        QVERIFY(good->face());
        QVERIFY(data->rack(0)->window()->hasFace(good->face()));
        QVERIFY(good->shouldAutostart());
        QVERIFY(!twin->shouldAutostart());
        QVERIFY(!bad->shouldAutostart());
        QCOMPARE(log_recorder::count(QtWarningMsg, QStringLiteral("panel autostart failed")), 2);
        QCOMPARE(good->state(), Panel::Stopped);
        QTest::qWait(500);
        QCOMPARE(good->state(), Panel::Stopped);
        QTRY_COMPARE_WITH_TIMEOUT(good->state(), Panel::Started, 10000);
        QVERIFY(clock.elapsed() >= 1330);
        QCOMPARE(twin->state(), Panel::Stopped);
        QVERIFY(good->stop());
        QTRY_COMPARE_WITH_TIMEOUT(good->state(), Panel::Stopped, 10000);
    }

    // A panel's state, online and configuration notifications update its
    // cells; a panel of no rack is reported.
    void panelNotificationsReachCells()
    {
        auto data = makeData();
        data->addPanel(0);
        Panel *p = data->addPanel(0);
        QSignalSpy cells(data.get(), &QAbstractItemModel::dataChanged);
        QSignalSpy state2(data.get(), &KST_Data::panelStateChanged2);
        auto columns = [&cells]() {
            QList<int> c;
            for (const QList<QVariant> &args : qAsConst(cells)) {
                const QModelIndex tl = args.at(0).toModelIndex();
                if (tl != args.at(1).toModelIndex() || tl.row() != 1)
                    return QList<int>{-1};
                c.append(tl.column());
            }
            cells.clear();
            return c;
        };
        emit p->panelStateChanged(p);
        QCOMPARE(columns(), (QList<int>{8, 4, 2, 3, 1, 6, 7, KST_Data::ColRouters}));
        QCOMPARE(state2.count(), 1);
        emit p->onlineStateChanged(p);
        QCOMPARE(columns(), (QList<int>{6}));
        emit p->configLoaded(p);
        QCOMPARE(columns(), (QList<int>{7}));

        Panel loose(77);
        log_recorder::clear();
        data->onlineStateChanged(&loose);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("invalid panel p")), 1);
        // A panel taken out no longer reports to the set.
        data->removePanels({p}, false);
        cells.clear();
        emit p->configLoaded(p);
        QCOMPARE(cells.count(), 0);
        delete p;
    }

    // The local address list is cached for 3 s.
    void addressListCache()
    {
        KST_IPListGetter getter;
        int reads = 0;
        getter.setSource([&reads]() {
            ++reads;
            return QStringList{"10.0.0.2", QString::number(reads), "10.0.0.1"};
        });
        QCOMPARE(getter.list(), (QStringList{"1", "10.0.0.1", "10.0.0.2"}));
        QCOMPARE(getter.list(), (QStringList{"1", "10.0.0.1", "10.0.0.2"}));
        QCOMPARE(reads, 1);
        QTest::qWait(3050);
        QCOMPARE(getter.list(), (QStringList{"10.0.0.1", "10.0.0.2", "2"}));
        QCOMPARE(reads, 2);

        KST_IPListGetter real;
        QVERIFY(real.list().contains(QStringLiteral("127.0.0.1")));
    }
};

QTEST_MAIN(TestData)
#include "tst_data.moc"
