// The bridge's mapping between the panels' numbers and an SW-P-08 router's,
// without sockets: matrix, level letters, source and destination offsets,
// the general or extended form by the numbers, what the panels are told of
// the router's messages and what they are not, and its own protects.

#include "bridge_core.h"

#include <QTest>

namespace {

struct Recorder : BridgeCore::Output {
    std::vector<swp08::Message> router;
    QList<QByteArray> panels;
    void toRouter(const swp08::Message &m) override { router.push_back(m); }
    void toPanels(const QByteArray &text) override { panels.append(text); }
    void note(const QString &) override {}
    QStringList sent()
    {
        QStringList out;
        for (const swp08::Message &m : router)
            out << QString::fromStdString(swp08::describe(m));
        router.clear();
        return out;
    }
    QList<QByteArray> told()
    {
        QList<QByteArray> t;
        t.swap(panels);
        return t;
    }
};

swp08::Message msg(uint8_t command, int matrix, int level, int dest, int second)
{
    swp08::Message m;
    m.command = command;
    m.matrix = matrix;
    m.level = level;
    m.dest = dest;
    (command == swp08::Tally || command == swp08::Connected ? m.source : m.device) = second;
    m.protect = swp08::Protected;
    return m;
}

} // namespace

class TestBridgeCore : public QObject
{
    Q_OBJECT

private slots:
    void mapping()
    {
        BridgeOptions o;
        QString why;
        QVERIFY(!o.parseLevels(QStringLiteral("V=0,A=0"), &why));
        QVERIFY(!o.parseLevels(QStringLiteral("V=0,V=1"), &why));
        QVERIFY(!o.parseLevels(QStringLiteral("X1=2"), &why));
        QVERIFY(o.parseLevels(QStringLiteral("V=3,A=17"), &why));
        o.matrix = 2;
        o.device = 44;
        o.sourceOffset = 1020;
        o.destOffset = 10;
        Recorder r;
        BridgeCore core(o, r);
        core.linkUp();
        QCOMPARE(r.sent(), QStringList({QStringLiteral("tally dump request m2 l3"),
                                        QStringLiteral("protect dump request m2 l3 from d10"),
                                        QStringLiteral("ext tally dump request m2 l17"),
                                        QStringLiteral("ext protect dump request m2 l17 from d10")}));

        // A take on V, A and B (unmapped): one connect per mapped level,
        // extended (source 7 is 1026 on the router); nothing for the
        // panels yet.
        QVERIFY(core.panelCommand(".SVAB005,007\r").isEmpty());
        QCOMPARE(r.sent(), QStringList({QStringLiteral("ext connect m2 l3 d14 s1026"),
                                        QStringLiteral("ext connect m2 l17 d14 s1026")}));
        QVERIFY(r.told().isEmpty());
        // Only a level nothing maps is refused.
        QCOMPARE(core.panelCommand(".SB005,007\r"), QList<QByteArray>{".E\r"});

        // The router's report; another matrix, a destination before the
        // offset and a source before the offset do not reach the panels.
        core.routerMessage(msg(swp08::Connected, 2, 3, 14, 1026));
        core.routerMessage(msg(swp08::Connected, 2, 17, 14, 1026));
        core.routerMessage(msg(swp08::Connected, 1, 3, 15, 1026));
        core.routerMessage(msg(swp08::Connected, 2, 3, 9, 1026));
        core.routerMessage(msg(swp08::Connected, 2, 3, 16, 1019));
        core.flush();
        QCOMPARE(r.told(), QList<QByteArray>{".UVA005,007\r"});
        QCOMPARE(core.source(0, 6), int(BridgeCore::NotShown));
        QCOMPARE(core.panelCommand(".IAV005\r"), QList<QByteArray>{".AVA005,007\r"});

        // Dumps: the mirror learns what no panel asked for without telling
        // the panels; afterwards, what changed is told.
        swp08::Message dump = msg(swp08::DumpWord, 2, 3, 12, 0);
        dump.sources = {1020, 1021, 1026, 1030};
        core.routerMessage(dump);
        core.flush();
        QVERIFY(r.told().isEmpty());
        QCOMPARE(core.panelCommand(".IV006\r"), QList<QByteArray>{".AV006,011\r"});
        dump.sources = {1020, 1022, 1026, 1031};
        core.routerMessage(dump);
        core.flush();
        QCOMPARE(r.told(), QList<QByteArray>({".UV004,003\r", ".UV006,012\r"}));
        // An unknown crosspoint is asked of the router, and its answer told.
        QVERIFY(core.panelCommand(".IV020\r").isEmpty());
        QCOMPARE(r.sent(), QStringList{QStringLiteral("interrogate m2 l3 d29")});
        core.routerMessage(msg(swp08::Tally, 2, 3, 29, 1021));
        core.flush();
        QCOMPARE(r.told(), QList<QByteArray>{".UV020,002\r"});

        // Locks: another device's protect on any mapped level locks the
        // destination; the bridge's own shows as asked (protect here).
        core.routerMessage(msg(swp08::ProtectConnected, 2, 17, 14, 9));
        QCOMPARE(r.told(), QList<QByteArray>{".BA005,255\r"});
        QCOMPARE(core.panelCommand(".SV005,001\r"), QList<QByteArray>{".BA005,255\r"});
        QVERIFY(r.sent().isEmpty());
        QVERIFY(core.panelCommand(".BP006\r").isEmpty());
        QCOMPARE(r.sent(), QStringList({QStringLiteral("protect connect m2 l3 d15 dev44"),
                                        QStringLiteral("ext protect connect m2 l17 d15 dev44")}));
        core.routerMessage(msg(swp08::ProtectConnected, 2, 3, 15, 44));
        QCOMPARE(r.told(), QList<QByteArray>{".BA006,1\r"});
        QCOMPARE(core.panelCommand(".BI006\r"), QList<QByteArray>{".BA006,1\r"});

        // The router away: takes, locks and salvos get the error reply;
        // interrogates are still answered.
        core.linkDown();
        QCOMPARE(core.panelCommand(".SV005,001\r"), QList<QByteArray>{".E\r"});
        QCOMPARE(core.panelCommand(".BL007\r"), QList<QByteArray>{".E\r"});
        QCOMPARE(core.panelCommand(".F001\r"), QList<QByteArray>{".E\r"});
        QCOMPARE(core.panelCommand(".IV005\r"), QList<QByteArray>{".AV005,007\r"});
        QVERIFY(r.sent().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBridgeCore)
#include "tst_bridge_core.moc"
