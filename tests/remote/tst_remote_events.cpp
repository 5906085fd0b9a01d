// The remote API's event stream under clients that misbehave, through its
// own listener on loopback: at most 64 clients at once (the 65th is refused
// with 503 and a JSON error, a freed place is taken again); a client that
// stops reading is closed with code 1008 and its reason once its send queue
// is full, while a client that reads gets every change before and after, and
// a client that resets its connection in the middle goes without harm. A
// client that falls behind gets the reason as long as it keeps reading.

#include "button_setter_impl.h"
#include "bd_records.h"
#include "pan_headlessface.h"
#include "rm_events.h"
#include "rm_host.h"
#include "rm_server.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <sys/socket.h>
#include <vector>

namespace {

// One SK1400A panel whose face is kept without drawing; every key shows a
// two-line legend, so that an item message is a few hundred bytes.
class FaceHost : public remote::Host
{
public:
    FaceHost()
    {
        m_face.load(QStringLiteral("layout_sk1400a.xml"));
        setter.setButtons(m_face.buttons());
        std::vector<QByteArray> batch;
        for (const PAN_Item::Setup &item : m_face.items())
            if (item.type == PAN_Item::TypeLCD && item.id >= 0) {
                ids.append(item.id);
                batch.push_back(buttondriver::makeText(item.id, "KEY " + QByteArray::number(item.id) + "\nLINE TWO", 0));
            }
        setter.process_messages(batch);
        connect(&setter, &buttondriver::ButtonSetterImpl::applied, this,
                [this](const QList<qint32> &changed) { emit itemsChanged(1, changed); });
    }
    QList<Rack> racks() const override { return {Rack{QString(), {1}}}; }
    bool panel(int uid, remote::PanelSummary *out) const override
    {
        if (uid != 1)
            return false;
        out->uid = 1;
        out->state = QStringLiteral("started");
        return true;
    }
    bool face(int uid, remote::FaceView *out) const override
    {
        if (uid != 1)
            return false;
        out->panelSize = m_face.panelSize();
        out->items = m_face.items();
        out->setter = const_cast<buttondriver::ButtonSetterImpl *>(&setter);
        return true;
    }
    int commLevel(int, int) const override { return 0; }
    bool sendKey(int, int, bool) override { return true; }
    bool startPanel(int, QString *) override { return false; }
    bool stopPanel(int, QString *) override { return false; }
    QImage faceImage(int, QString *) override { return QImage(); }
    QImage keyImage(int, int, QString *) override { return QImage(); }

    // What every key shows changed (as after a batch of records).
    void changeAll() { emit itemsChanged(1, ids); }

    PAN_HeadlessFace m_face;
    buttondriver::ButtonSetterImpl setter{QStringLiteral("/nonexistent")};
    QList<qint32> ids;
};

// An event-stream client on a bare TCP connection: the upgrade request, the
// answer's status, then the frames the host sends (never masked).
class Client : public QObject
{
public:
    explicit Client(quint16 port)
    {
        connect(&socket, &QTcpSocket::readyRead, this, &Client::readSome);
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write("GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port)
                     + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
    }

    void readSome()
    {
        buffer += socket.readAll();
        if (status == 0) {
            const qsizetype end = buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            status = buffer.mid(9, 3).toInt();
            buffer.remove(0, end + 4);
        }
        if (status != 101)
            return; // the refusal's body stays in the buffer
        qsizetype at = 0;
        for (;;) {
            const qsizetype left = buffer.size() - at;
            if (left < 2)
                break;
            qint64 len = uchar(buffer[at + 1]) & 0x7f;
            qsizetype head = 2;
            if (len == 126) {
                if (left < 4)
                    break;
                len = (uchar(buffer[at + 2]) << 8) | uchar(buffer[at + 3]);
                head = 4;
            } else if (len == 127) {
                if (left < 10)
                    break;
                len = 0;
                for (int i = 2; i < 10; ++i)
                    len = (len << 8) | uchar(buffer[at + i]);
                head = 10;
            }
            if (left < head + len)
                break;
            const QByteArray payload = buffer.mid(at + head, qsizetype(len));
            const int opcode = uchar(buffer[at]) & 0x0f;
            at += head + qsizetype(len);
            if (opcode == 1) {
                ++messages;
                last = payload;
            } else if (opcode == 8 && payload.size() >= 2) {
                closeCode = (uchar(payload[0]) << 8) | uchar(payload[1]);
                closeReason = QString::fromUtf8(payload.mid(2));
            }
        }
        buffer.remove(0, at);
    }

    QTcpSocket socket;
    QByteArray buffer;
    int status = 0;
    int messages = 0;
    QByteArray last;
    int closeCode = -1;
    QString closeReason;
};

} // namespace

class TestRemoteEvents : public QObject
{
    Q_OBJECT

private slots:
    void misbehavingClients()
    {
        FaceHost host;
        remote::Server server(&host);
        remote::Endpoint at;
        at.address = QHostAddress::LocalHost;
        QString why;
        QVERIFY2(server.start(at, QByteArray(), &why), qPrintable(why));
        remote::EventHub *hub = server.events();

        // 64 clients at once; the 65th is refused, and gets in once one
        // has gone.
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < remote::EventHub::MaxClients; ++i)
            clients.push_back(std::make_unique<Client>(server.port()));
        QTRY_VERIFY_WITH_TIMEOUT(hub->clientCount() == 64
                                     && std::all_of(clients.begin(), clients.end(),
                                                    [](const auto &c) { return c->status == 101; }),
                                 20000);
        Client refused(server.port());
        QTRY_COMPARE(refused.status, 503);
        QTRY_VERIFY(refused.buffer.contains("at most 64 event clients"));
        QVERIFY(QJsonDocument::fromJson(refused.buffer).object().contains(QStringLiteral("error")));
        clients.pop_back();
        QTRY_COMPARE(hub->clientCount(), 63);
        clients.push_back(std::make_unique<Client>(server.port()));
        QTRY_COMPARE(clients.back()->status, 101);
        clients.resize(3);
        QTRY_COMPARE(hub->clientCount(), 3);

        // Client 0 stops reading, client 1 reads everything, client 2
        // resets its connection while changes are being sent.
        Client &stuck = *clients[0];
        Client &reader = *clients[1];
        stuck.socket.setReadBufferSize(4096);
        disconnect(&stuck.socket, &QTcpSocket::readyRead, &stuck, nullptr);
        int passes = 0;
        while (hub->dropped() == 0 && passes < 5000) {
            host.changeAll();
            QCoreApplication::processEvents();
            if (++passes == 20) {
                const linger reset{1, 0};
                ::setsockopt(int(clients[2]->socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                             sizeof reset);
                clients[2]->socket.abort();
            }
        }
        QCOMPARE(hub->dropped(), 1);

        // The stuck client reads again, slowly (128 KiB every 50 ms, longer
        // than the host's grace in all), and finds the reason it was closed
        // for behind everything it had been sent.
        stuck.socket.setReadBufferSize(128 * 1024);
        QTimer slowly;
        connect(&slowly, &QTimer::timeout, &stuck, &Client::readSome);
        slowly.start(50);
        QTRY_COMPARE_WITH_TIMEOUT(stuck.closeCode, 1008, 60000);
        QCOMPARE(stuck.closeReason, QStringLiteral("too slow: the send queue is full"));
        QTRY_COMPARE(hub->clientCount(), 1);

        // The reader was not held up: it has every change the stuck client
        // was sent, and gets the next one.
        QTRY_VERIFY(reader.messages >= stuck.messages);
        QVERIFY(stuck.messages > int(host.ids.size()));
        QCOMPARE(reader.closeCode, -1);
        host.setter.process_messages({buttondriver::makeText(host.ids.first(), "LAST", 0)});
        QTRY_VERIFY(reader.last.contains("\"LAST\""));
    }
};

QTEST_GUILESS_MAIN(TestRemoteEvents)
#include "tst_remote_events.moc"
