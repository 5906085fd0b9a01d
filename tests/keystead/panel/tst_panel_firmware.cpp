// The host's firmware loader: loading a panel's library copy, the reports
// it turns into queued signals, stopping and unloading, and key messages
// from the injector reaching the firmware.

#include "client_injector.h"
#include "framing.h"
#include "injector.h"
#include "kst_firmware_inbox.h"
#include "kst_panel_firmware.h"
#include "../../support/log_recorder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QNetworkProxy>
#include <QPointer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <elf.h>
#include <functional>
#include <memory>
#include <thread>

using State = TFW_IFirmwareCallback;

namespace {

// Whether the file is mapped into this process, i.e. still loaded.
bool isMapped(const QString &path)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    return maps.readAll().contains(path.toUtf8());
}

// A copy of a library under the name a panel directory gives it.
QString copyLibrary(const QString &library, const QTemporaryDir &dir)
{
    const QString copy = dir.path() + QStringLiteral("/firm.");
    QFile::remove(copy);
    return QFile::copy(library, copy) ? copy : QString();
}

// The maps line (device and inode, path) of the mapping holding address.
QByteArray mappingOf(const void *address)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return QByteArray();
    const quintptr a = quintptr(address);
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        const QList<QByteArray> range = f.value(0).split('-');
        if (f.size() < 6 || range.size() != 2)
            continue;
        if (a >= range.at(0).toULongLong(nullptr, 16) && a < range.at(1).toULongLong(nullptr, 16))
            return f.at(3) + ' ' + f.at(4) + ' ' + f.at(5);
    }
    return QByteArray();
}

// Changes a byte of the library's build identifier: another build, as far as
// anyone comparing the files can tell, that still loads and runs.
bool changeBuildId(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray data = f.readAll();
    if (data.size() < int(sizeof(Elf64_Ehdr)))
        return false;
    const auto *eh = reinterpret_cast<const Elf64_Ehdr *>(data.constData());
    for (int i = 0; i < eh->e_phnum; ++i) {
        const auto *ph = reinterpret_cast<const Elf64_Phdr *>(data.constData() + eh->e_phoff
                                                               + size_t(i) * eh->e_phentsize);
        if (ph->p_type != PT_NOTE)
            continue;
        for (size_t at = ph->p_offset; at + sizeof(Elf64_Nhdr) <= ph->p_offset + ph->p_filesz;) {
            const auto *nh = reinterpret_cast<const Elf64_Nhdr *>(data.constData() + at);
            const size_t desc = at + sizeof(Elf64_Nhdr) + ((nh->n_namesz + 3) & ~3u);
            if (nh->n_type == NT_GNU_BUILD_ID && nh->n_descsz > 0) {
                data[int(desc)] = char(data[int(desc)] ^ 0x5a);
                return f.seek(0) && f.write(data) == data.size();
            }
            at = desc + ((nh->n_descsz + 3) & ~3u);
        }
    }
    return false;
}

} // namespace

// Receives a loader's reports the way a panel does: through string-based
// queued connections to slots of the same signatures; takes injected
// payloads like a panel as well.
class PanelStandIn : public QObject
{
    Q_OBJECT

public:
    QList<int> states;
    QList<QThread *> stateThreads;
    QList<std::vector<QByteArray>> batches;
    QStringList texts;
    KST_PanelFirmware *loader = nullptr;

    bool connectTo(KST_PanelFirmware *fw)
    {
        loader = fw;
        return connect(fw, SIGNAL(stateMsg(TFW_IFirmwareCallback::StateMsg)), this,
                       SLOT(firm_stateMsg(TFW_IFirmwareCallback::StateMsg)), Qt::QueuedConnection)
               && connect(fw, SIGNAL(buttondriverMsg(std::vector<QByteArray>)), this,
                          SLOT(firm_buttondriverMsg(std::vector<QByteArray>)),
                          Qt::QueuedConnection)
               && connect(fw, SIGNAL(firm_msg_signal(QString)), this, SLOT(firm_msg(QString)),
                          Qt::QueuedConnection);
    }

    bool waitFor(int state, int timeoutMs = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (!states.contains(state) && t.elapsed() < timeoutMs)
            QTest::qWait(5);
        return states.contains(state);
    }

public slots:
    void firm_stateMsg(TFW_IFirmwareCallback::StateMsg stateMsg)
    {
        states.append(int(stateMsg));
        stateThreads.append(QThread::currentThread());
    }
    void firm_buttondriverMsg(std::vector<QByteArray> msg) { batches.append(msg); }
    void firm_msg(QString text) { texts.append(text); }
    void dispatch_msg_buffer(QByteArray &buffer)
    {
        collector::CollectorMsg msg;
        if (msg.unpack(buffer) && loader)
            loader->sendCollectorMsg(msg);
    }
};

// Takes an inbox's reports whenever it is woken, as a loader does.
class InboxOwner : public QObject
{
    Q_OBJECT

public:
    KST_FirmwareInbox inbox{this, "wake"};
    std::vector<KST_FirmwareInbox::Report> reports;
    int wakes = 0;
    QList<QThread *> wakeThreads;
    std::function<void()> onWake;

    Q_INVOKABLE void wake()
    {
        ++wakes;
        if (onWake)
            onWake();
        wakeThreads.append(QThread::currentThread());
        for (KST_FirmwareInbox::Report &r : inbox.take())
            reports.push_back(std::move(r));
    }
};

typedef int (*ProbeKeyState)(int);
typedef TFW_IFirmwareCallback *(*FakeCallback)();
typedef void (*FakeReport)(int);

class TestPanelFirmware : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { log_recorder::install(); }

    void metaTypesAreRegisteredUnderTheirNames()
    {
        KST_PanelFirmware fw(QStringLiteral("/nonexistent/firm."));
        QCOMPARE(QMetaType::fromName("TFW_IFirmwareCallback::StateMsg"),
                 QMetaType::fromType<TFW_IFirmwareCallback::StateMsg>());
        QCOMPARE(QMetaType::fromName("vector<QByteArray>"),
                 QMetaType::fromType<std::vector<QByteArray>>());
        QCOMPARE(QMetaType::fromName("collector::CollectorMsg"),
                 QMetaType::fromType<collector::CollectorMsg>());
    }

    // Every way a start can fail leaves the loader unbound: no call reaches
    // a firmware, and deleting it unloads what it loaded.
    void failedStartsLeaveNothingBound_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QString>("critical");
        QTest::newRow("missing") << QString() << QStringLiteral("could not load library");
        QTest::newRow("not a library") << QStringLiteral("junk")
                                       << QStringLiteral("could not load library");
        QTest::newRow("no entry") << QStringLiteral(FAKE_NO_ENTRY_LIBRARY)
                                  << QStringLiteral("failed to resolve lib function");
        QTest::newRow("null entry") << QStringLiteral(FAKE_NULL_ENTRY_LIBRARY)
                                    << QStringLiteral("lib function returned no firmware");
    }
    void failedStartsLeaveNothingBound()
    {
        QFETCH(QString, library);
        QFETCH(QString, critical);
        QTemporaryDir dir;
        QString path = dir.path() + QStringLiteral("/firm.");
        if (library == QLatin1String("junk")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a library at all");
        } else if (!library.isEmpty()) {
            path = copyLibrary(library, dir);
            QVERIFY(!path.isEmpty());
        }

        log_recorder::clear();
        auto *fw = new KST_PanelFirmware(path);
        QVERIFY(!fw->start());
        QCOMPARE(log_recorder::count(QtCriticalMsg, critical), 1);
        QVERIFY(!fw->errorString().isEmpty());
        QVERIFY(!fw->firmware());

        QVERIFY(!fw->stop());
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("firmware lib not loaded")), 1);
        fw->sendCollectorMsg(collector::CollectorMsg(5, 1));
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("firmware null")), 1);

        delete fw;
        QVERIFY(!isMapped(path));
        QCOMPARE(log_recorder::count(QtCriticalMsg, QString()), 3);
    }

    // The firmware reports on its own thread; the panel hears of it only
    // when its event loop runs, in order, on its own thread.
    void reportsArriveQueuedOnTheGuiThread()
    {
        QTemporaryDir dir;
        const QString copy = copyLibrary(QStringLiteral(TESSFW_LIBRARY), dir);
        PanelStandIn panel;
        KST_PanelFirmware fw(copy);
        QVERIFY(panel.connectTo(&fw));
        // Even a receiver connected directly hears of a report on the GUI
        // thread only.
        QList<QThread *> emitters;
        connect(&fw, &KST_PanelFirmware::stateMsg, &fw,
                [&emitters] { emitters.append(QThread::currentThread()); }, Qt::DirectConnection);

        QVERIFY(fw.start());
        QVERIFY(fw.firmware());
        QVERIFY(isMapped(copy));
        QCOMPARE(fw.firmware()->version(), QStringLiteral("1.1.1.7"));
        fw.firmware()->start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 43101,
                             dir.path() + QStringLiteral("/cfgSK2000A"));
        QElapsedTimer t;
        t.start();
        while (fw.pendingReports() < 2 && t.elapsed() < 5000)
            QThread::msleep(5); // no events processed meanwhile
        QVERIFY(fw.pendingReports() >= 2);
        QVERIFY(emitters.isEmpty());
        QVERIFY(panel.states.isEmpty());

        QVERIFY(panel.waitFor(State::ST_RUNNING));
        QCOMPARE(panel.states.mid(0, 2), (QList<int>{State::ST_THREAD_STARTED, State::ST_RUNNING}));

        // Stopping twice is fine while the firmware is bound.
        QVERIFY(fw.stop());
        QVERIFY(fw.stop());
        QVERIFY(panel.waitFor(State::ST_THREAD_FINISHED));
        QCOMPARE(panel.states.mid(panel.states.size() - 2),
                 (QList<int>{State::ST_STOPPING, State::ST_THREAD_FINISHED}));
        for (QThread *th : panel.stateThreads)
            QCOMPARE(th, QThread::currentThread());
        QCOMPARE(emitters.size(), panel.states.size());
        for (QThread *th : emitters)
            QCOMPARE(th, QThread::currentThread());
        QCOMPARE(fw.pendingReports(), 0);

        // A key event after the end comes back as a text line.
        fw.sendCollectorMsg(collector::CollectorMsg(5, 1));
        QTRY_COMPARE(panel.texts.size(), 1);
        QVERIFY(panel.texts.at(0).startsWith(QStringLiteral("_firmware NULL ")));
    }

    // Reports from two threads at once reach the owner's thread complete,
    // each thread's in its own order, with their texts and records intact;
    // a burst wakes the owner far fewer times than it has reports. A closed
    // inbox takes nothing and wakes no one.
    void inboxHandsReportsOverInOrder()
    {
        InboxOwner owner;
        const int perThread = 3000;
        auto reporter = [&owner, perThread](int who) {
            std::vector<QByteArray> batch(1);
            for (int i = 0; i < perThread; ++i) {
                switch (i % 3) {
                case 0:
                    owner.inbox.stateMsg(TFW_IFirmwareCallback::ST_UDP_SENT);
                    break;
                case 1:
                    owner.inbox.firmMsg(QStringLiteral("%1 %2").arg(who).arg(i));
                    break;
                default:
                    batch[0] = QByteArray::number(who) + ' ' + QByteArray::number(i);
                    owner.inbox.buttondriverMsg(batch);
                    batch[0].fill('x'); // the firmware reuses its vector at once
                    break;
                }
            }
        };
        std::thread a(reporter, 1), b(reporter, 2);
        a.join();
        b.join();
        QTRY_COMPARE(int(owner.reports.size()), 2 * perThread);
        QCOMPARE(owner.inbox.pending(), 0);
        QVERIFY(owner.wakes >= 1);
        QVERIFY(owner.wakes < 2 * perThread);
        for (QThread *th : owner.wakeThreads)
            QCOMPARE(th, QThread::currentThread());

        // The index of each thread's next text and next record.
        int nextText[3] = {0, 1, 1};
        int nextRecord[3] = {0, 2, 2};
        int states = 0;
        for (const KST_FirmwareInbox::Report &r : owner.reports) {
            if (r.kind == KST_FirmwareInbox::Report::State) {
                QCOMPARE(r.state, TFW_IFirmwareCallback::ST_UDP_SENT);
                ++states;
                continue;
            }
            const QString line = r.kind == KST_FirmwareInbox::Report::Text
                                     ? r.text
                                     : QString::fromLatin1(r.batch.at(0));
            const int who = line.section(QLatin1Char(' '), 0, 0).toInt();
            const int i = line.section(QLatin1Char(' '), 1).toInt();
            QVERIFY2(who == 1 || who == 2, qPrintable(line));
            int &expected = r.kind == KST_FirmwareInbox::Report::Text ? nextText[who] : nextRecord[who];
            QCOMPARE(i, expected);
            expected += 3;
        }
        QCOMPARE(states, 2 * perThread / 3);

        const int wakes = owner.wakes;
        owner.inbox.stateMsg(TFW_IFirmwareCallback::ST_RUNNING);
        QCOMPARE(owner.inbox.pending(), 1);
        owner.inbox.close();
        QCOMPARE(owner.inbox.pending(), 0);
        owner.inbox.firmMsg(QStringLiteral("late"));
        QCOMPARE(owner.inbox.pending(), 0);
        QCoreApplication::processEvents();
        QTest::qWait(10);
        QCOMPARE(int(owner.reports.size()), 2 * perThread);
        QCOMPARE(owner.wakes, wakes); // not even the wake-up rung before the close
    }

    // However many panels report, their owner's thread has one wake-up
    // descriptor to watch for them all, and every owner gets its report. An
    // owner deleted by another's wake (a panel stopped by what a report
    // said) is not called any more.
    void inboxesOfAThreadShareOneWakeUp()
    {
        auto eventFds = [] {
            int n = 0;
            for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
                n += fd.symLinkTarget().contains(QLatin1String("eventfd")) ? 1 : 0;
            return n;
        };
        const int before = eventFds();
        const int count = 300;
        std::vector<std::unique_ptr<InboxOwner>> owners;
        for (int i = 0; i < count; ++i)
            owners.push_back(std::make_unique<InboxOwner>());
        QVERIFY2(eventFds() - before <= 1, qPrintable(QString::number(eventFds() - before)));

        owners[0]->onWake = [&owners, count] { owners[count - 1].reset(); };
        std::thread reporter([&owners] {
            for (auto &o : owners)
                o->inbox.stateMsg(TFW_IFirmwareCallback::ST_RUNNING);
        });
        reporter.join();
        QTRY_VERIFY(owners[count - 2]->wakes == 1);
        QCoreApplication::processEvents();
        QVERIFY(!owners[count - 1]);
        for (int i = 0; i < count - 1; ++i) {
            QCOMPARE(owners[size_t(i)]->wakes, 1);
            QCOMPARE(int(owners[size_t(i)]->reports.size()), 1);
        }
    }

    // Copies loaded with the library they came from run on its code pages:
    // their code is mapped from the original, their variables are their own,
    // and each runs its own panel. A copy that differs from that library
    // (another build) keeps its own pages and runs as well.
    void copiesRunOnTheOriginalsCodePages()
    {
        const QString original = QFileInfo(QStringLiteral(TESSFW_LIBRARY)).canonicalFilePath();
        QTemporaryDir dirs[3];
        QString copies[3];
        for (int i = 0; i < 3; ++i)
            copies[i] = QFileInfo(copyLibrary(original, dirs[i])).canonicalFilePath();
        QVERIFY(changeBuildId(copies[2]));

        PanelStandIn panels[3];
        KST_PanelFirmware *loaders[3];
        for (int i = 0; i < 3; ++i) {
            loaders[i] = new KST_PanelFirmware(copies[i], original);
            QVERIFY(panels[i].connectTo(loaders[i]));
            QVERIFY(loaders[i]->start());
            loaders[i]->firmware()->start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"),
                                          quint16(43111 + i), QString());
        }
        for (int i = 0; i < 3; ++i)
            QVERIFY(panels[i].waitFor(State::ST_RUNNING));
        // The shared copies' code is one image, not their own files, and
        // their variables their own files.
        QByteArray code[3];
        for (int i = 0; i < 3; ++i) {
            QLibrary again(copies[i]); // the same handle as the loader's
            code[i] = mappingOf(reinterpret_cast<const void *>(again.resolve(TFW_ENTRY_NAME)));
            QVERIFY(!code[i].isEmpty());
            QVERIFY(isMapped(copies[i]));
        }
        QCOMPARE(code[0], code[1]);
        QVERIFY2(!code[0].contains(copies[0].toUtf8()), code[0].constData());
        QVERIFY2(code[2].endsWith(copies[2].toUtf8()), code[2].constData()); // the other build

        for (KST_PanelFirmware *fw : loaders)
            delete fw;
        for (const QString &copy : copies)
            QVERIFY(!isMapped(copy));
    }

    // Two panels load two copies with two firmware objects; deleting a
    // loader, even with its firmware still running, stops it and unloads
    // only its own copy.
    void eachLoaderOwnsItsCopy()
    {
        QTemporaryDir a, b;
        const QString copyA = copyLibrary(QStringLiteral(TESSFW_LIBRARY), a);
        const QString copyB = copyLibrary(QStringLiteral(TESSFW_LIBRARY), b);
        PanelStandIn panelA, panelB;
        auto *fwA = new KST_PanelFirmware(copyA);
        auto *fwB = new KST_PanelFirmware(copyB);
        QVERIFY(panelA.connectTo(fwA));
        QVERIFY(panelB.connectTo(fwB));
        QVERIFY(fwA->start());
        QVERIFY(fwB->start());
        QVERIFY(fwA->firmware() != fwB->firmware());
        fwA->firmware()->start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 43102,
                               QString());
        fwB->firmware()->start(QStringLiteral("SK1100A"), QStringLiteral("127.0.0.1"), 43103,
                               QString());
        QVERIFY(panelA.waitFor(State::ST_RUNNING));
        QVERIFY(panelB.waitFor(State::ST_RUNNING));

        delete fwA; // running: stopped and unloaded on the spot
        QVERIFY(!isMapped(copyA));
        QVERIFY(isMapped(copyB));
        QTest::qWait(50);
        QVERIFY(!panelB.states.contains(State::ST_STOPPING));

        QVERIFY(fwB->stop());
        QVERIFY(panelB.waitFor(State::ST_THREAD_FINISHED));
        delete fwB;
        QVERIFY(!isMapped(copyB));
        // Nothing reported by the gone loader arrives afterwards.
        const int seen = panelA.states.size();
        QTest::qWait(30);
        QCOMPARE(panelA.states.size(), seen);
    }

    // A firmware whose thread does not stop keeps its library: unloading it
    // would pull the code from under the thread. Its later reports go
    // nowhere instead of into the deleted loader.
    void firmwareThatWillNotStopKeepsItsLibrary()
    {
        QTemporaryDir dir;
        const QString copy = copyLibrary(QStringLiteral(FAKE_STUCK_LIBRARY), dir);
        PanelStandIn panel;
        auto *fw = new KST_PanelFirmware(copy);
        QVERIFY(panel.connectTo(fw));
        QVERIFY(fw->start());

        QLibrary probe(copy); // never unloaded: it shares the loader's handle
        auto callback = reinterpret_cast<FakeCallback>(probe.resolve("fake_callback"));
        auto report = reinterpret_cast<FakeReport>(probe.resolve("fake_report"));
        QVERIFY(callback && report);
        TFW_IFirmwareCallback *handedOver = callback();
        QVERIFY(handedOver);

        // Reports are copies: the firmware changes its vector right after.
        report(State::ST_RUNNING);
        QTRY_COMPARE(panel.states, QList<int>{State::ST_RUNNING});
        QTRY_COMPARE(panel.batches.size(), 1);
        QCOMPARE(panel.batches.at(0), std::vector<QByteArray>{QByteArray("first")});
        QTRY_COMPARE(panel.texts, QStringList{QStringLiteral("fake text")});

        log_recorder::clear();
        QPointer<KST_PanelFirmware> gone(fw);
        delete fw;
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("firmware thread still running")), 1);
        QVERIFY(isMapped(copy));
        QVERIFY(callback() != nullptr);
        QVERIFY(callback() != handedOver);
        QVERIFY(!gone);
        report(State::ST_STOPPING);
        QTest::qWait(20);
        QCOMPARE(panel.states, QList<int>{State::ST_RUNNING});
    }

    // Framed key messages from a TCP client go through the injector and the
    // panel's dispatch into the firmware copy's key state.
    void injectedKeysReachTheFirmware()
    {
        QTemporaryDir dir;
        const QString copy = copyLibrary(QStringLiteral(TESSFW_PROBE_LIBRARY), dir);
        PanelStandIn panel;
        KST_PanelFirmware fw(copy);
        QVERIFY(panel.connectTo(&fw));
        QVERIFY(fw.start());
        QLibrary probeLib(copy);
        auto keyState = reinterpret_cast<ProbeKeyState>(probeLib.resolve("tfw_probe_key_state"));
        QVERIFY(keyState);

        collector::Injector injector(QStringLiteral("127.0.0.1"), 0, &panel);
        QVERIFY(injector.run());
        fw.firmware()->start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 43104,
                             QString());
        QVERIFY(panel.waitFor(State::ST_RUNNING));

        QTcpSocket client;
        client.setProxy(QNetworkProxy::NoProxy);
        client.connectToHost(QStringLiteral("127.0.0.1"), injector.serverPort());
        QVERIFY(client.waitForConnected(5000));
        // Two presses in one write.
        client.write(collector::frame(collector::CollectorMsg(5, 1).pack())
                     + collector::frame(collector::CollectorMsg(9, 1).pack()));
        QTRY_COMPARE(keyState(4), 1);
        QTRY_COMPARE(keyState(8), 1);
        QCOMPARE(keyState(5), 0);
        client.write(collector::frame(collector::CollectorMsg(5, 0).pack()));
        QTRY_COMPARE(keyState(4), 0);
        QCOMPARE(keyState(8), 1);

        QVERIFY(fw.stop());
        QVERIFY(panel.waitFor(State::ST_THREAD_FINISHED));
    }
};

QTEST_GUILESS_MAIN(TestPanelFirmware)
#include "tst_panel_firmware.moc"
