// The router-link stream parser: messages across datagram boundaries.

#include "link/rlink.h"

#include <QTest>

namespace {

struct Msg {
    char cmd;
    QByteArray data;
    bool operator==(const Msg &o) const { return cmd == o.cmd && data == o.data; }
};
std::vector<Msg> s_msgs;

void record(uint8_t cmd, const uint8_t *data, int len)
{
    s_msgs.push_back(Msg{char(cmd), QByteArray(reinterpret_cast<const char *>(data), len)});
}

void feed(RlinkParser *p, const QByteArray &bytes)
{
    rlp_feed(p, reinterpret_cast<const uint8_t *>(bytes.constData()), int(bytes.size()), record);
}

} // namespace

class TestRlinkParser : public QObject
{
    Q_OBJECT

private slots:
    void messagesAcrossDatagrams()
    {
        RlinkParser p;
        rlp_reset(&p);
        s_msgs.clear();

        // A zero-length message is dispatched right at its third byte.
        feed(&p, QByteArray("P\0", 2));
        QVERIFY(s_msgs.empty());
        feed(&p, QByteArray("\0", 1));
        QCOMPARE(s_msgs, (std::vector<Msg>{{'P', ""}}));

        // Split over two datagrams, and two messages in one.
        s_msgs.clear();
        feed(&p, QByteArray("Q\0\x05.S", 5));
        QVERIFY(s_msgs.empty());
        feed(&p, QByteArray("VA\rO\0\0", 6));
        QCOMPARE(s_msgs, (std::vector<Msg>{{'Q', ".SVA\r"}, {'O', ""}}));

        // Every split point of a message gives the same result.
        const QByteArray whole("B\0\x04\x01\x02\x03\x04", 7);
        for (int cut = 0; cut <= whole.size(); ++cut) {
            s_msgs.clear();
            rlp_reset(&p);
            feed(&p, whole.left(cut));
            feed(&p, whole.mid(cut));
            QCOMPARE(s_msgs, (std::vector<Msg>{{'B', QByteArray("\x01\x02\x03\x04", 4)}}));
        }
    }

    void overlongMessageIsDropped()
    {
        RlinkParser p;
        rlp_reset(&p);
        s_msgs.clear();
        // 513 bytes announced: 512 are stored, the 513th ('P') arrives with
        // the buffer full. It ends the message and is dropped; the two zero
        // bytes after it are a header left incomplete, not a QUERY.
        QByteArray q513("Q\x02\x01", 3);
        q513 += QByteArray(512, 'x') + 'P' + QByteArray(2, '\0');
        feed(&p, q513);
        QVERIFY(s_msgs.empty());
        feed(&p, QByteArray(1, '\0')); // completes the header of command 0
        QCOMPARE(s_msgs, (std::vector<Msg>{{'\0', ""}}));

        // 600 bytes announced: the first 512 are stored, the next byte is
        // dropped and what follows is read as new messages.
        rlp_reset(&p);
        s_msgs.clear();
        QByteArray msg("Q\x02\x58", 3);
        QByteArray body(600, '\0');
        body[512] = 'P'; // dropped
        body[513] = 'P'; // a complete QUERY
        body[514] = 0;
        body[515] = 0;
        feed(&p, msg + body);
        // The zero filler after it reads as empty messages of command 0,
        // which the command table ignores.
        std::vector<Msg> real;
        for (const Msg &m : s_msgs)
            if (m.cmd)
                real.push_back(m);
        QCOMPARE(real, (std::vector<Msg>{{'P', ""}}));
        QVERIFY(s_msgs.front() == (Msg{'P', ""}));
        // A message of exactly 512 bytes is fine.
        rlp_reset(&p);
        s_msgs.clear();
        feed(&p, QByteArray("Q\x02\x00", 3) + QByteArray(512, 'z'));
        QCOMPARE(s_msgs.size(), size_t(1));
        QCOMPARE(s_msgs[0].data.size(), 512);
    }
};

QTEST_GUILESS_MAIN(TestRlinkParser)
#include "tst_rlink_parser.moc"
