// The injector: framed payloads cut from TCP streams, and the limits that
// keep a misbehaving client from holding memory or connections.

#include "client_injector.h"
#include "collector_msg.h"
#include "framing.h"
#include "injector.h"
#include "../support/log_recorder.h"

#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>
#include <memory>
#include <vector>

using collector::ClientInjector;
using collector::Injector;

namespace {

QByteArray header(quint32 n)
{
    QByteArray h(4, '\0');
    qToBigEndian<quint32>(n, reinterpret_cast<uchar *>(h.data()));
    return h;
}

} // namespace

// What a panel receives from its injector.
class Sink : public QObject
{
    Q_OBJECT

public:
    QList<QByteArray> payloads;

public slots:
    void dispatch_msg_buffer(QByteArray &buffer) { payloads.append(buffer); }
};

class NoSlot : public QObject
{
    Q_OBJECT
};

class TestInjector : public QObject
{
    Q_OBJECT

    // A client connected to the injector, with its server side set up.
    static std::unique_ptr<QTcpSocket> connectClient(Injector &injector)
    {
        const int before = injector.clientCount();
        auto s = std::make_unique<QTcpSocket>();
        s->setProxy(QNetworkProxy::NoProxy);
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        s->connectToHost(QStringLiteral("127.0.0.1"), injector.serverPort());
        if (!s->waitForConnected(5000))
            return nullptr;
        QElapsedTimer t;
        t.start();
        while (injector.clientCount() == before && t.elapsed() < 5000)
            QTest::qWait(2);
        return s;
    }

    static void writeNow(QTcpSocket &s, const QByteArray &data)
    {
        s.write(data);
        s.flush();
    }

private slots:
    void initTestCase() { log_recorder::install(); }

    void framesAreCutFromTheStream()
    {
        Sink sink;
        Injector injector(QStringLiteral("127.0.0.1"), 0, &sink);
        QVERIFY(injector.run());
        auto c = connectClient(injector);
        QVERIFY(c);
        QCOMPARE(injector.clientCount(), 1);
        ClientInjector *server = injector.clients().first();
        // Unless told otherwise, half a frame may wait 30 s for its rest.
        QCOMPARE(server->partialFrameTimeout(), 30000);

        // Two messages in one segment: two payloads, in order.
        writeNow(*c, collector::frame("first") + collector::frame("second message"));
        QTRY_COMPARE(sink.payloads, (QList<QByteArray>{"first", "second message"}));

        // One message over three segments: one payload, after the third.
        const QByteArray msg = collector::frame(collector::CollectorMsg(5, 1).pack());
        writeNow(*c, msg.left(3));
        QTRY_COMPARE(server->pendingBytes(), 3);
        writeNow(*c, msg.mid(3, 9));
        QTRY_COMPARE(server->pendingBytes(), 12);
        QCOMPARE(sink.payloads.size(), 2);
        writeNow(*c, msg.mid(12));
        QTRY_COMPARE(sink.payloads.size(), 3);
        QCOMPARE(sink.payloads.last(), collector::CollectorMsg(5, 1).pack());
        QCOMPARE(server->pendingBytes(), 0);

        // Length 0 is an empty payload; the stream goes on after it.
        writeNow(*c, header(0) + collector::frame("after"));
        QTRY_COMPARE(sink.payloads.size(), 5);
        QCOMPARE(sink.payloads.at(3), QByteArray());
        QCOMPARE(sink.payloads.at(4), QByteArray("after"));

        // The largest frame allowed, 64 KiB, arrives whole.
        const QByteArray big(ClientInjector::MaxFrameLength, 'x');
        writeNow(*c, collector::frame(big));
        QTRY_COMPARE(sink.payloads.size(), 6);
        QCOMPARE(sink.payloads.last(), big);
        QCOMPARE(c->state(), QAbstractSocket::ConnectedState);

        // A client that leaves is removed, its partial frame dropped.
        writeNow(*c, header(16) + "abc");
        QTRY_COMPARE(server->pendingBytes(), 7);
        c->disconnectFromHost();
        QTRY_COMPARE(injector.clientCount(), 0);
        QCOMPARE(sink.payloads.size(), 6);
    }

    void overLongFrameClosesTheConnection()
    {
        Sink sink;
        Injector injector(QStringLiteral("127.0.0.1"), 0, &sink);
        QVERIFY(injector.run());
        auto bystander = connectClient(injector);
        auto c = connectClient(injector);
        QVERIFY(bystander && c);
        QCOMPARE(injector.clientCount(), 2);

        // What came before the bad length still counts; nothing after it.
        log_recorder::clear();
        writeNow(*c, collector::frame("before") + header(ClientInjector::MaxFrameLength + 1)
                         + QByteArray(100, 'y'));
        QTRY_COMPARE(c->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(sink.payloads, QList<QByteArray>{"before"});
        QCOMPARE(log_recorder::countContaining(QtWarningMsg, QStringLiteral("frame length 65537")), 1);
        QTRY_COMPARE(injector.clientCount(), 1);

        // A length with the top bit set is no negative size either.
        auto c2 = connectClient(injector);
        QVERIFY(c2);
        writeNow(*c2, header(0xffffffffu));
        QTRY_COMPARE(c2->state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(injector.clientCount(), 1);

        // The other client was not disturbed.
        writeNow(*bystander, collector::frame("still here"));
        QTRY_COMPARE(sink.payloads.size(), 2);
        QCOMPARE(sink.payloads.last(), QByteArray("still here"));
    }

    // A frame that stays incomplete closes its connection once the timeout
    // has passed since its first bytes, however slowly the rest trickles
    // in; complete frames and an idle connection never time out.
    void incompleteFrameTimesOut()
    {
        Sink sink;
        Injector injector(QStringLiteral("127.0.0.1"), 0, &sink);
        injector.setPartialFrameTimeout(500);
        QVERIFY(injector.run());
        auto half = connectClient(injector);
        auto trickle = connectClient(injector);
        auto steady = connectClient(injector);
        auto idle = connectClient(injector);
        QVERIFY(half && trickle && steady && idle);
        for (ClientInjector *ci : injector.clients())
            QCOMPARE(ci->partialFrameTimeout(), 500);

        log_recorder::clear();
        writeNow(*half, header(16) + "12345678");
        writeNow(*trickle, header(64));
        writeNow(*idle, collector::frame("idle"));
        // steady completes a frame every 100 ms and starts the next one.
        const QByteArray f = collector::frame("0123456789");
        writeNow(*steady, f.left(7));
        for (int i = 0; i < 10; ++i) {
            QTest::qWait(100);
            writeNow(*steady, f.mid(7) + f.left(7));
            if (trickle->state() == QAbstractSocket::ConnectedState)
                writeNow(*trickle, "z");
        }
        QTRY_COMPARE(half->state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(trickle->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(log_recorder::countContaining(QtWarningMsg, QStringLiteral("incomplete frame")), 2);
        QCOMPARE(steady->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(idle->state(), QAbstractSocket::ConnectedState);
        writeNow(*steady, f.mid(7));
        QTRY_COMPARE(sink.payloads.count("0123456789"), 11);
        QCOMPARE(sink.payloads.count("idle"), 1);
        QTRY_COMPARE(injector.clientCount(), 2);
    }

    void atMostSixteenClients()
    {
        Sink sink;
        Injector injector(QStringLiteral("127.0.0.1"), 0, &sink);
        QVERIFY(injector.run());
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < Injector::MaxClients; ++i) {
            clients.push_back(connectClient(injector));
            QVERIFY(clients.back());
        }
        QCOMPARE(injector.clientCount(), 16);

        log_recorder::clear();
        QTcpSocket extra;
        extra.setProxy(QNetworkProxy::NoProxy);
        extra.connectToHost(QStringLiteral("127.0.0.1"), injector.serverPort());
        QVERIFY(extra.waitForConnected(5000)); // the system accepts, the injector closes
        QTRY_COMPARE(extra.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(log_recorder::countContaining(QtWarningMsg, QStringLiteral("16 clients already")), 1);
        QCOMPARE(injector.clientCount(), 16);

        // Every served client still delivers; a freed place is taken again.
        for (auto &c : clients)
            writeNow(*c, collector::frame("k"));
        QTRY_COMPARE(sink.payloads.size(), 16);
        clients.front()->disconnectFromHost();
        QTRY_COMPARE(injector.clientCount(), 15);
        auto again = connectClient(injector);
        QVERIFY(again);
        QCOMPARE(injector.clientCount(), 16);
        writeNow(*again, collector::frame("again"));
        QTRY_COMPARE(sink.payloads.size(), 17);
        QCOMPARE(again->state(), QAbstractSocket::ConnectedState);
    }

    // Sixteen connections held open without a word do not lock everyone
    // out: once they have been idle for the give-way time (5 s), the one
    // idle longest makes room for a new client, whose keys arrive.
    void idleClientsGiveWay()
    {
        Sink sink;
        Injector injector(QStringLiteral("127.0.0.1"), 0, &sink);
        QVERIFY(injector.run());
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < Injector::MaxClients; ++i) {
            held.push_back(connectClient(injector));
            QVERIFY(held.back());
        }
        QTest::qWait(5300);
        writeNow(*held[0], collector::frame("still here"));
        QTRY_COMPARE(sink.payloads.size(), 1);

        QTcpSocket fresh;
        fresh.setProxy(QNetworkProxy::NoProxy);
        fresh.connectToHost(QStringLiteral("127.0.0.1"), injector.serverPort());
        QVERIFY(fresh.waitForConnected(5000));
        writeNow(fresh, collector::frame("new client"));
        QTRY_COMPARE(sink.payloads.size(), 2);
        QCOMPARE(sink.payloads.last(), QByteArray("new client"));
        QTRY_COMPARE(held[1]->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(held[0]->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(injector.clientCount(), 16);
    }

    void runReportsWhetherItListens()
    {
        Sink sink;
        NoSlot noSlot;
        QVERIFY(!Injector(QStringLiteral("300.1.2.3"), 0, &sink).run());
        QVERIFY(!Injector(QStringLiteral("127.0.0.1"), 70000, &sink).run());
        QVERIFY(!Injector(QStringLiteral("127.0.0.1"), 0, &noSlot).run());
        QVERIFY(!Injector(QStringLiteral("127.0.0.1"), 0, nullptr).run());

        // "*" listens on every address; a taken port is refused.
        Injector any(QStringLiteral("*"), 0, &sink);
        QVERIFY(any.run());
        QVERIFY(any.serverPort() != 0);
        Injector taken(QStringLiteral("127.0.0.1"), any.serverPort(), &sink);
        QVERIFY(!taken.run());
        QVERIFY(!taken.isListening());
        auto c = connectClient(any);
        QVERIFY(c);
        writeNow(*c, collector::frame("via any"));
        QTRY_COMPARE(sink.payloads, QList<QByteArray>{"via any"});

        // Deleting the injector with clients connected closes them.
        {
            Injector shortLived(QStringLiteral("127.0.0.1"), 0, &sink);
            QVERIFY(shortLived.run());
            c = connectClient(shortLived);
            QVERIFY(c);
        }
        QTRY_COMPARE(c->state(), QAbstractSocket::UnconnectedState);
    }
};

QTEST_GUILESS_MAIN(TestInjector)
#include "tst_injector.moc"
