// The panel set keeps every panel whole: a hidden panel's face moves with
// it to another rack; two panels never share a directory; stored values no
// panel can use, and ports two panels would share, are refused; the type
// and address editors keep what they show when left without a choice; a
// panel without a readable layout does not start; a deleted panel's
// directory goes whole; a save cut short leaves nothing behind, and a full
// disk never empties cfg.xml.

#include "arch_archo.h"
#include "arch_itemo.h"
#include "kst_data.h"
#include "kst_delegates.h"
#include "kst_panelinfo.h"
#include "kst_rack.h"
#include "kst_rackwidget.h"
#include "pan_imagecontainer.h"
#include "tiny_pictures.h"
#include "../../support/full_disk.h"
#include "../../support/log_recorder.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Panel = KST_PanelInstance;

namespace {

struct PanelRow
{
    int uid;
    QString name;
    int type = 10; // SK2000A
    bool visible = true;
    QString ip = QStringLiteral("127.0.0.1");
    int port = 2001;
    bool autostart = false;
};

struct RackRow
{
    QString name;
    QList<PanelRow> panels;
};

// A panel set file as the program writes it.
bool writeSet(const QString &path, const QList<RackRow> &racks, int puid)
{
    arch::Archo archo;
    arch::Itemo *list = archo.root()->addChild(QStringLiteral("racks"));
    for (const RackRow &r : racks) {
        arch::Itemo *rack = list->addChild(QStringLiteral("e"));
        rack->put(QStringLiteral("name"), r.name)
            ->put(QStringLiteral("desc"), QString())
            ->put(QStringLiteral("expanded"), true)
            ->put(QStringLiteral("visible"), false);
        arch::Itemo *panels = rack->addChild(QStringLiteral("panel"));
        for (const PanelRow &p : r.panels)
            panels->addChild(QStringLiteral("e"))
                ->put(QStringLiteral("uid"), p.uid)
                ->put(QStringLiteral("name"), p.name)
                ->put(QStringLiteral("description"), QString())
                ->put(QStringLiteral("paneltype"), p.type)
                ->put(QStringLiteral("visible"), p.visible)
                ->put(QStringLiteral("firmware_ip"), p.ip)
                ->put(QStringLiteral("panelPort"), p.port)
                ->put(QStringLiteral("should_autostart"), p.autostart);
        rack->put(QStringLiteral("ui_data"), QByteArray());
    }
    archo.root()->put(QStringLiteral("puid"), puid)->put(QStringLiteral("ui_data"),
                                                          QMap<int, QByteArray>());
    return archo.saveFile(path);
}

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

Panel *findPanel(KST_Data *data, const QString &name)
{
    for (KST_Rack *r : data->racks())
        for (Panel *p : r->panels())
            if (p->name() == name)
                return p;
    return nullptr;
}

} // namespace

class TestPanelsetIntegrity : public QObject
{
    Q_OBJECT

    QTemporaryDir m_pictures;
    std::unique_ptr<PAN_ImageContainer> m_images;
    std::unique_ptr<QTemporaryDir> m_base;
    QString m_base_path;

    QString cfgPath() const { return m_base_path + QStringLiteral("/cfg.xml"); }
    QString panelDir(int uid) const { return m_base_path + QStringLiteral("/data/p%1").arg(uid); }

    void useBase(const QString &path)
    {
        m_base_path = path;
        qputenv("TESSALINE_BASE_DIR", QFile::encodeName(path));
    }

    std::unique_ptr<KST_Data> makeData(const QString &firmware = QString())
    {
        auto data = std::make_unique<KST_Data>(cfgPath());
        data->setImageContainer(m_images.get());
        PAN_WidgetOptions options;
        options.splash = false;
        options.fadeIn = false;
        data->setFaceOptions(options);
        data->setFirmwareSource(firmware);
        data->setInitDelays(1, 1, 60000);
        return data;
    }

    // The program's start: rack windows, then faces and autostart.
    static bool initialise(KST_Data *data)
    {
        QSignalSpy step2(data, &KST_Data::init_step2_finished);
        return data->isInitialised() || step2.wait(5000);
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
        useBase(m_base->path());
        log_recorder::clear();
    }

    // A hidden panel, moved by drag and drop into another rack whose first
    // rack is then deleted, keeps its face and starts on it.
    void hiddenPanelMovedKeepsItsFace()
    {
        QVERIFY(writeSet(cfgPath(),
                         {{QStringLiteral("a"), {{1, QStringLiteral("hidden"), 10, false}}},
                          {QStringLiteral("b"), {{2, QStringLiteral("shown"), 10, true, QStringLiteral("127.0.0.1"), 2002}}}},
                         2));
        // Not a library: the start runs through the face and fails at the load.
        const QString notALibrary = m_base_path + QStringLiteral("/not-a-library");
        QVERIFY(writeFile(notALibrary, "text"));
        auto data = makeData(notALibrary);
        QVERIFY(initialise(data.get()));
        KST_Rack *a = data->rack(0);
        KST_Rack *b = data->rack(1);
        Panel *p = a->panel(0);
        QVERIFY(p->face());
        QVERIFY(!p->isVisible());

        // As the tree drags and drops: the model's own mime data onto rack b.
        std::unique_ptr<QMimeData> mime(data->mimeData({data->indexOfItem(p)}));
        QVERIFY(mime);
        QVERIFY(data->dropMimeData(mime.get(), Qt::MoveAction, -1, 0, data->indexOfItem(b)));
        QCOMPARE(b->panels(), (QList<Panel *>{b->panels().first(), p}));
        data->removeRacks({a}, true);
        QCOMPARE(data->rowCount(), 1);

        QVERIFY(p->face());
        QCOMPARE(p->face()->parentWidget(), b->window()->content());
        QVERIFY(p->buttonSetter());
        p->setInjectorEnabled(false);
        QVERIFY(!p->start(0));
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("firmware init failed")), 1);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("buttonSetterImpl NULL")), 0);
        // Shown again, the face is in its new window.
        p->setVisible(true);
        QVERIFY(b->window()->hasFace(p->face()));
    }

    // Of two panels on one uid the first keeps it; the other gets a uid above
    // every uid in the file and every directory on disk, a directory with its
    // type's default configuration, and the file says so at once.
    void duplicateUidGetsADirectoryOfItsOwn()
    {
        QVERIFY(QDir().mkpath(panelDir(3)));
        QVERIFY(writeFile(panelDir(3) + QStringLiteral("/cfgSK2000A"), "first's"));
        QVERIFY(QDir().mkpath(panelDir(9))); // a panel directory no panel names
        QVERIFY(writeSet(cfgPath(),
                         {{QStringLiteral("r"),
                           {{3, QStringLiteral("first")},
                            {3, QStringLiteral("second"), 1},
                            {0, QStringLiteral("third"), 0}}}},
                         3));
        auto data = makeData();
        QCOMPARE(findPanel(data.get(), "first")->uid(), 3);
        QCOMPARE(findPanel(data.get(), "second")->uid(), 10);
        QCOMPARE(findPanel(data.get(), "third")->uid(), 11);
        QCOMPARE(readFile(panelDir(3) + QStringLiteral("/cfgSK2000A")), QByteArray("first's"));
        QFile resource(QStringLiteral(":/config/cfgSK1100A"));
        QVERIFY(resource.open(QIODevice::ReadOnly));
        QCOMPARE(readFile(panelDir(10) + QStringLiteral("/cfgSK1100A")), resource.readAll());
        QVERIFY(QFileInfo(panelDir(11)).isDir());
        QCOMPARE(log_recorder::countContaining(QtWarningMsg, QStringLiteral("used twice: it gets uid 10")), 1);
        QCOMPARE(log_recorder::countContaining(QtWarningMsg, QStringLiteral("invalid: it gets uid 11")), 1);
        QCOMPARE(data->addPanel(0)->uid(), 12);
        data.reset();

        auto again = makeData();
        QCOMPARE(findPanel(again.get(), "second")->uid(), 10);
        QCOMPARE(findPanel(again.get(), "third")->uid(), 11);
        QCOMPARE(log_recorder::countContaining(QtWarningMsg, QStringLiteral("used twice")), 1);
    }

    // Values no panel can use are refused on load: the panel stays, in error
    // with the reason, and is not started. Validation also refuses ports two
    // panels on one address would share through their FTP servers and
    // injectors.
    void unusableValuesAndSharedPortsAreRefused()
    {
        QVERIFY(writeSet(cfgPath(),
                         {{QStringLiteral("r"),
                           {{1, QStringLiteral("high"), 10, true, QStringLiteral("127.0.0.1"), 99999, true},
                            {2, QStringLiteral("negative"), 10, true, QStringLiteral("127.0.0.1"), -5, true},
                            {3, QStringLiteral("address"), 10, true, QStringLiteral("127.0.0.256"), 2003, true},
                            {4, QStringLiteral("v6"), 10, true, QStringLiteral("::1"), 2004, true},
                            {5, QStringLiteral("type"), 13, true, QStringLiteral("127.0.0.1"), 2001, true},
                            {6, QStringLiteral("ftp"), 10, true, QStringLiteral("127.0.0.1"), 34769},
                            {7, QStringLiteral("tcp"), 10, true, QStringLiteral("127.0.0.1"), 5000},
                            {8, QStringLiteral("self"), 10, true, QStringLiteral("127.0.0.1"), 9979}}}},
                         8));
        auto data = makeData();
        data->ipListGetter()->setSource([] { return QStringList{QStringLiteral("127.0.0.1")}; });
        const QStringList unusable{"high", "negative", "address", "v6", "type"};
        const QStringList reasons{"Port 99999 is not a UDP port (0 to 65535).",
                                  "Port -5 is not a UDP port (0 to 65535).",
                                  "IP 127.0.0.256 is not an IPv4 address.",
                                  "IP ::1 is not an IPv4 address.", "Panel type 13 is unknown."};
        QVERIFY(initialise(data.get()));
        for (int i = 0; i < unusable.size(); ++i) {
            Panel *p = findPanel(data.get(), unusable[i]);
            QCOMPARE(p->state(), Panel::Error);
            QCOMPARE(p->errorText(), reasons[i]);
            QVERIFY(p->toolTip().endsWith(reasons[i]));
            QVERIFY(!p->shouldAutostart());
            QString why;
            QVERIFY(!data->validatePanel(p, &why));
            QCOMPARE(why, reasons[i]);
            // Not even a direct start gets through.
            QVERIFY(!p->start(0));
            QCOMPARE(p->state(), Panel::Error);
        }
        QCOMPARE(log_recorder::countContaining(QtWarningMsg, QStringLiteral("cannot be started")), 5);

        // "type" stays in error on UDP 2001, so its ports count: 34769 has
        // the same FTP control port (14023).
        QString why;
        QVERIFY(!data->validatePanel(findPanel(data.get(), "ftp"), &why));
        QCOMPARE(why, QStringLiteral("IP - PanelPort: TCP port 14023 is used by panel type as well."));
        // FTP data 2 x 5000 + 10020 is the injector port 20 + 20000.
        Panel *type = findPanel(data.get(), "type");
        QVERIFY(type->stop());
        QVERIFY(type->setPanelPort(20));
        type->markUnusable(QStringLiteral("kept in error"));
        QVERIFY(!data->validatePanel(findPanel(data.get(), "tcp"), &why));
        QCOMPARE(why, QStringLiteral("IP - PanelPort: TCP port 20020 is used by panel type as well."));
        QVERIFY(data->validatePanel(findPanel(data.get(), "ftp"), &why));
        // UDP 9979: the panel's own FTP control port is its injector port.
        QVERIFY(!data->validatePanel(findPanel(data.get(), "self"), &why));
        QVERIFY(why.contains(QStringLiteral("FTP server and injector")));
    }

    // Leaving the address or type editor without a choice keeps what the
    // panel had; an address this machine does not have is listed as such.
    void editorsLeftWithoutAChoiceKeepTheValue()
    {
        auto data = makeData();
        data->ipListGetter()->setSource([] { return QStringList{QStringLiteral("127.0.0.1")}; });
        Panel *p = data->addPanel(0);
        QVERIFY(p->setIP(QStringLiteral("10.99.99.99")));
        const QModelIndex row = data->indexOfItem(p);
        KST_PanelManagerItemDelegate delegate;
        QWidget parent;
        const QStyleOptionViewItem option;

        std::unique_ptr<QWidget> ipEditor(
            delegate.createEditor(&parent, option, row.siblingAtColumn(KST_Data::ColIP)));
        auto *ip = qobject_cast<QComboBox *>(ipEditor.get());
        QVERIFY(ip);
        QCOMPARE(ip->currentText(), QStringLiteral("10.99.99.99 (not on this machine)"));
        QCOMPARE(ip->itemData(ip->currentIndex(), Qt::UserRole).toInt(),
                 int(KST_PanelManagerItemDelegate::CurrentEntry));
        QCOMPARE(ip->count(), 3);
        delegate.setModelData(ip, data.get(), row.siblingAtColumn(KST_Data::ColIP));
        QCOMPARE(p->ip(), QStringLiteral("10.99.99.99"));
        ip->setCurrentIndex(ip->findText(QStringLiteral("127.0.0.1")));
        delegate.setModelData(ip, data.get(), row.siblingAtColumn(KST_Data::ColIP));
        QCOMPARE(p->ip(), QStringLiteral("127.0.0.1"));

        std::unique_ptr<QWidget> typeEditor(
            delegate.createEditor(&parent, option, row.siblingAtColumn(KST_Data::ColType)));
        auto *type = qobject_cast<QComboBox *>(typeEditor.get());
        QVERIFY(type);
        QCOMPARE(type->currentIndex(), -1);
        delegate.setModelData(type, data.get(), row.siblingAtColumn(KST_Data::ColType));
        QCOMPARE(p->panelType(), 0);
        type->setCurrentIndex(type->findText(QStringLiteral("SK1400A")));
        delegate.setModelData(type, data.get(), row.siblingAtColumn(KST_Data::ColType));
        QCOMPARE(p->panelType(), data->panelInfo()->typeIndex(QStringLiteral("SK1400A")));
    }

    // A panel whose own layout cannot be read runs on the built-in one of
    // its model; with none to fall back on, it refuses to start, saying why,
    // instead of running without a face.
    void unreadableLayoutFallsBackOrRefusesStart()
    {
        QVERIFY(QDir().mkpath(panelDir(1)));
        QVERIFY(writeFile(panelDir(1) + QStringLiteral("/layout_sk2000a.xml"), "<KTPPanel><group>"));
        QVERIFY(writeSet(cfgPath(), {{QStringLiteral("r"), {{1, QStringLiteral("p")}}}}, 1));
        {
            auto data = makeData();
            QVERIFY(initialise(data.get()));
            Panel *p = data->rack(0)->panel(0);
            QVERIFY(p->faceProblem().isEmpty());
            QVERIFY(p->face()->panelSize().isValid());
            QCOMPARE(log_recorder::countContaining(QtWarningMsg,
                                                   QStringLiteral("the built-in layout :/layout_sk2000a.xml is used")),
                     1);
        }
        log_recorder::clear();
        Q_CLEANUP_RESOURCE(faces); // no built-in layouts
        auto data = makeData();
        QVERIFY(initialise(data.get()));
        Panel *p = data->rack(0)->panel(0);
        Q_INIT_RESOURCE(faces);
        QVERIFY(!p->faceProblem().isEmpty());
        QVERIFY(p->buttonSetter());
        p->setInjectorEnabled(false);
        QVERIFY(!p->start(0));
        QCOMPARE(p->state(), Panel::Error);
        QCOMPARE(p->errorText(),
                 QStringLiteral("panel start refused: no layout layout_sk2000a.xml of type SK2000A could be read"));
        QVERIFY(!QFileInfo::exists(panelDir(1) + QStringLiteral("/firm.")));
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("buttonSetterImpl NULL")), 0);
    }

    // Deleting a panel removes its directory whole; a link inside it goes,
    // what it points to stays.
    void deletedPanelLeavesNoDirectory()
    {
        auto data = makeData();
        Panel *p = data->addPanel(0);
        const QString dir = panelDir(p->uid());
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/sub")));
        for (const char *name : {"cfgSK1100A", "trace.txt", "trace.txt.1", "netsettings", "sub/x"})
            QVERIFY(writeFile(dir + QLatin1Char('/') + QLatin1String(name), "x"));
        QTemporaryDir outside;
        QVERIFY(writeFile(outside.filePath(QStringLiteral("keep")), "keep"));
        QVERIFY(QFile::link(outside.path(), dir + QStringLiteral("/link")));
        data->removePanels({p}, true);
        QVERIFY(!QFileInfo::exists(dir));
        QCOMPARE(readFile(outside.filePath(QStringLiteral("keep"))), QByteArray("keep"));
    }

    // A temporary file of a save that was killed goes at the next start;
    // files that only look alike stay.
    void leftoverSaveTemporaryIsRemoved()
    {
        QVERIFY(writeSet(cfgPath(), {{QStringLiteral("r"), {}}}, 0));
        const QStringList stay{"cfg.xml.bad-20240101-101010", "cfg.xml.1234567", "cfg.xml.ab", "cfg.xmlAbC123"};
        for (const QString &name : stay + QStringList{"cfg.xml.AbC123", "cfg.xml.000000"})
            QVERIFY(writeFile(m_base_path + QLatin1Char('/') + name, "x"));
        auto data = makeData();
        QCOMPARE(data->rowCount(), 1);
        QStringList left = QDir(m_base_path).entryList({QStringLiteral("cfg.xml*")}, QDir::Files);
        left.sort();
        QStringList expected = stay + QStringList{"cfg.xml"};
        expected.sort();
        QCOMPARE(left, expected);
    }

    // On a full disk a save of the panel set fails loudly and the file keeps
    // what it had; nothing is left beside it; with room again it is saved.
    void fullDiskKeepsThePanelSet()
    {
        FullDisk disk;
        QString why;
        if (!disk.setUp(&why))
            QSKIP(qPrintable(why));
        useBase(disk.path());
        auto data = makeData();
        data->addPanel(0);
        data->save();
        const QByteArray before = readFile(cfgPath());
        QVERIFY(before.contains("<name>rack</name>"));

        // Where only the file size limit stands for the full disk, it has to
        // be below what the panel set takes.
        QVERIFY(disk.fill(before.size() / 2));
        QVERIFY(data->setData(data->index(0, 0), QStringLiteral("renamed")));
        log_recorder::clear();
        data->save();
        QCOMPARE(readFile(cfgPath()), before);
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("failed to save to archo")), 1);
        QCOMPARE(QDir(disk.path()).entryList({QStringLiteral("cfg.xml*")}, QDir::Files),
                 QStringList{QStringLiteral("cfg.xml")});

        disk.release();
        data->save();
        QVERIFY(readFile(cfgPath()).contains("<name>renamed</name>"));
        data.reset();
        useBase(m_base->path());
    }
};

QTEST_MAIN(TestPanelsetIntegrity)
#include "tst_panelset_integrity.moc"
