// Twenty panels started and stopped fifty times in one process: each run
// leaves nothing behind, no library copy mapped, no thread, no open file or
// socket, while injector clients come and go with the runs.

#include "framing.h"
#include "injector.h"
#include "kst_panel_firmware.h"
#include "kst_panelinfo.h"
#include "kst_panelinstance.h"
#include "pan_imagecontainer.h"
#include "tiny_pictures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <memory>
#include <vector>

using Panel = KST_PanelInstance;

namespace {

const int kPanels = 20;
const int kCycles = 50;
const int kFirstPort = 24700;

int entries(const QString &dir)
{
    return int(QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

// The entry count of dir once it stays the same for a while: a thread
// that has been waited for may still be on its way out of the system.
int settledEntries(const QString &dir)
{
    int last = entries(dir);
    for (int i = 0; i < 50; ++i) {
        QTest::qWait(100);
        const int now = entries(dir);
        if (now == last)
            return now;
        last = now;
    }
    return last;
}

// Lines of this process's memory map that belong to a file under dir.
int mappedUnder(const QString &dir)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return -1;
    return int(maps.readAll().count(dir.toUtf8()));
}

} // namespace

class TestPanelCycles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_base;
    std::unique_ptr<KST_PanelInfo> m_info;
    PAN_LayoutCache m_layouts;
    QTemporaryDir m_pictures;
    std::unique_ptr<PAN_ImageContainer> m_images;
    // The faces' rack window.
    QWidget m_rack;
    std::vector<std::unique_ptr<Panel>> m_panels;
    int m_threadsRunning = 0;
    int m_fdsRunning = 0;

    bool allIn(Panel::PanelState state, int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            bool all = true;
            for (const auto &p : m_panels)
                all = all && p->state() == state;
            if (all)
                return true;
            if (t.elapsed() > timeoutMs)
                return false;
            QTest::qWait(5);
        }
    }

    // Starts every panel, presses a key on a few through their injectors,
    // stops them all.
    void cycle(int n)
    {
        for (const auto &p : m_panels)
            QVERIFY(p->start(0));
        QVERIFY2(allIn(Panel::Started, 30000), qPrintable(QStringLiteral("cycle %1").arg(n)));
        m_threadsRunning = entries(QStringLiteral("/proc/self/task"));
        m_fdsRunning = entries(QStringLiteral("/proc/self/fd"));

        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = n % 4; i < kPanels; i += 7) {
            auto c = std::make_unique<QTcpSocket>();
            c->setProxy(QNetworkProxy::NoProxy);
            c->connectToHost(m_panels[size_t(i)]->ip(), quint16(kFirstPort + i + 20000));
            QVERIFY(c->waitForConnected(5000));
            c->write(collector::frame(collector::CollectorMsg(3, 1).pack()));
            QVERIFY(c->waitForBytesWritten(5000));
            clients.push_back(std::move(c));
        }
        for (int i = n % 4; i < kPanels; i += 7)
            QTRY_COMPARE(m_panels[size_t(i)]->injector()->clientCount(), 1);

        for (const auto &p : m_panels)
            QVERIFY(p->stop());
        QVERIFY2(allIn(Panel::Stopped, 30000), qPrintable(QStringLiteral("cycle %1").arg(n)));
        for (const auto &p : m_panels) {
            QVERIFY(!p->firmwareLoader());
            QVERIFY(!p->injector());
        }
        // The panels closed their side.
        for (auto &c : clients)
            QTRY_COMPARE(c->state(), QAbstractSocket::UnconnectedState);
    }

private slots:
    void initTestCase()
    {
        // A thousand runs' debug lines would drown what matters.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(m_base.isValid());
        qputenv("TESSALINE_BASE_DIR", QFile::encodeName(m_base.path()));
        m_info = std::make_unique<KST_PanelInfo>();
        KST_FaceResources faces;
        faces.layouts = &m_layouts;
        QVERIFY(writeTinyPictures(m_pictures.path()));
        m_images = std::make_unique<PAN_ImageContainer>(m_pictures.path(), nullptr);
        faces.images = m_images.get();
        faces.options.splash = false;
        faces.options.fadeIn = false;
        for (int i = 0; i < kPanels; ++i) {
            auto p = std::make_unique<Panel>(i + 1);
            p->init(&m_rack, m_info.get(), faces, QStringLiteral(TESSFW_LIBRARY));
            QVERIFY(p->setPanelType(10));
            QVERIFY(p->setIP(QStringLiteral("127.0.0.77")));
            QVERIFY(p->setPanelPort(kFirstPort + i));
            m_panels.push_back(std::move(p));
        }
    }

    void twentyPanelsFiftyTimes()
    {
        const QString data = m_base.path() + QStringLiteral("/data");
        // The first run sets up what the process keeps for good (network
        // and audio back ends, the meta-type registry).
        cycle(0);
        if (QTest::currentTestFailed())
            return;
        const int fds = settledEntries(QStringLiteral("/proc/self/fd"));
        const int threads = settledEntries(QStringLiteral("/proc/self/task"));
        QCOMPARE(mappedUnder(data), 0);

        QElapsedTimer t;
        t.start();
        for (int n = 0; n < kCycles; ++n) {
            cycle(n + 1);
            if (QTest::currentTestFailed())
                return;
        }
        qInfo("%d panels started and stopped %d times in %lld ms", kPanels, kCycles,
              t.elapsed());

        // What is counted is what a run adds: a firmware thread, a router
        // socket and an injector server a panel at least.
        QVERIFY(m_threadsRunning >= threads + kPanels);
        QVERIFY(m_fdsRunning >= fds + 2 * kPanels);
        QCOMPARE(mappedUnder(data), 0);
        QTRY_COMPARE(entries(QStringLiteral("/proc/self/task")), threads);
        QTRY_COMPARE(entries(QStringLiteral("/proc/self/fd")), fds);
        for (int i = 0; i < kPanels; ++i)
            QVERIFY(QFile::exists(m_panels[size_t(i)]->firmwarePath()));
    }

    void cleanupTestCase() { m_panels.clear(); }
};

QTEST_MAIN(TestPanelCycles)
#include "tst_panel_cycles.moc"
