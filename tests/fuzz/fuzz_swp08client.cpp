// The bridge's reader of an SW-P-08 router: a byte stream from the router,
// in pieces with time passing between them, through the link end (frames,
// ACK and NAK, re-sends) into the bridge's mirror, with a panel command now
// and then. Checks that everything sent to the router is ACK, NAK or a
// frame of a message the codec reads back, that every text for the panels
// is a well-formed tally or lock state, that the mirror stays within its
// values, and that the same stream in one piece gives the panels the same.
//
// Input: byte 0 picks the mapping (bits 0-1: offsets, bit 2: matrix 1 or
// 17, bit 3: levels past 15, bit 4: the link up from the start); byte 1 the
// piece size (1 to 256); the rest is the stream. A piece whose first byte
// is 0xFF is a time jump of 600 ms instead (re-sends, keepalive), and one
// starting with 0xFE carries a panel command (the rest of the piece).

#include "bridge_core.h"
#include "fuzz_common.h"
#include "swp08_frame.h"
#include "swp08_message.h"
#include "swp08_transport.h"

#include <QList>
#include <map>
#include <QRegularExpression>

namespace {

struct Rig : BridgeCore::Output, swp08::Transport::Handler {
    explicit Rig(const BridgeOptions &o) : core(o, *this), link(*this) {}

    void toRouter(const swp08::Message &m) override
    {
        const std::vector<uint8_t> data = swp08::encode(m);
        // The bridge only asks for what the codec can put on the wire.
        FUZZ_CHECK(!data.empty());
        link.send(data, now);
    }
    void toPanels(const QByteArray &text) override { panels.append(text); }
    void note(const QString &) override {}
    void write(const uint8_t *b, size_t n) override { wire.insert(wire.end(), b, b + n); }
    void frame(const std::vector<uint8_t> &data) override
    {
        swp08::Message m;
        const char *why = nullptr;
        if (swp08::decode(data, &m, &why))
            core.routerMessage(m);
    }
    void gaveUp(const std::vector<uint8_t> &, bool noAck) override
    {
        if (noAck) {
            link.reset();
            core.linkDown();
        }
    }

    BridgeCore core;
    swp08::Transport link;
    int64_t now = 0;
    QList<QByteArray> panels;
    std::vector<uint8_t> wire;
};

BridgeOptions options(uint8_t pick)
{
    BridgeOptions o;
    o.matrix = (pick & 4) ? 17 : 1;
    o.device = 130;
    const int offsets[4][2] = {{0, 0}, {1000, 3000}, {65000, 63000}, {16, 4096}};
    o.sourceOffset = offsets[pick & 3][0];
    o.destOffset = offsets[pick & 3][1];
    QString why;
    if (pick & 8)
        o.parseLevels(QStringLiteral("V=0,A=15,B=16,C=255,Z=4"), &why);
    return o;
}

void run(Rig &r, const uint8_t *data, size_t size, size_t piece, bool up)
{
    if (up)
        r.core.linkUp();
    for (size_t at = 0; at < size; at += piece) {
        const size_t n = std::min(piece, size - at);
        const uint8_t *p = data + at;
        if (p[0] == 0xFF) {
            r.now += 600;
            r.link.poll(r.now);
        } else if (p[0] == 0xFE) {
            r.panels += r.core.panelCommand(QByteArray(reinterpret_cast<const char *>(p + 1), qsizetype(n - 1)));
        } else {
            r.link.receive(p, n, r.now);
        }
        r.core.flush();
    }
}

// What the panels would show after the texts: the source of every level
// of every destination told, and every lock state.
std::map<QByteArray, QByteArray> shown(const QList<QByteArray> &texts)
{
    std::map<QByteArray, QByteArray> out;
    for (const QByteArray &t : texts) {
        if (t.startsWith(".BA")) {
            out["L" + t.mid(3, t.indexOf(',') - 3)] = t.mid(t.indexOf(',') + 1);
        } else if (t.startsWith(".U")) {
            int i = 2;
            while (i < t.size() && t[i] >= 'A' && t[i] <= 'Z')
                ++i;
            const QByteArray dest = t.mid(i, t.indexOf(',') - i);
            for (int l = 2; l < i; ++l)
                out[t.mid(l, 1) + dest] = t.mid(t.indexOf(',') + 1);
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const BridgeOptions o = options(data[0]);
    const bool up = data[0] & 16;
    const size_t piece = size_t(data[1]) + 1;
    Rig a(o);
    run(a, data + 2, size - 2, piece, up);

    // What went to the router: ACK, NAK and frames of readable messages.
    swp08::FrameReader reader;
    for (uint8_t b : a.wire) {
        const swp08::FrameReader::Event e = reader.feed(b);
        FUZZ_CHECK(e != swp08::FrameReader::Damaged && e != swp08::FrameReader::Lost);
        if (e == swp08::FrameReader::Frame) {
            swp08::Message m;
            const char *why = nullptr;
            FUZZ_CHECK(swp08::decode(reader.data(), &m, &why));
            FUZZ_CHECK(swp08::encode(m) == reader.data());
        }
    }
    // What went to the panels: tallies, lock states, error replies and
    // interrogation answers in the panels' grammar.
    static const QRegularExpression text(QStringLiteral(
        "^(\\.[UA][VABCDEFGHIJKLMNOPQRSTUWXYZ]{1,26}\\d{3,4},\\d{3,5}|\\.BA\\d{3,4},(0|1|255)|\\.E)\\r$"));
    for (const QByteArray &t : a.panels) {
        FUZZ_CHECK(t.size() < 100);
        FUZZ_CHECK(text.match(QString::fromLatin1(t)).hasMatch());
    }
    for (int d = 0; d < BridgeCore::PanelDests; d += 37) {
        const int lock = a.core.lockState(d);
        FUZZ_CHECK(lock == 0 || lock == 1 || lock == 255);
        for (int l = 0; l < BridgeCore::PanelLevels; ++l) {
            const int s = a.core.source(l, d);
            FUZZ_CHECK(s >= BridgeCore::NotShown && s < swp08::MaxExtendedNumber);
        }
    }

    // The pieces do not matter when no time passes and no panel speaks.
    bool plain = true;
    for (size_t at = 2; at < size; at += piece)
        plain = plain && data[at] != 0xFF && data[at] != 0xFE;
    if (plain) {
        Rig b(o);
        run(b, data + 2, size - 2, size, up);
        FUZZ_CHECK(b.wire == a.wire);
        FUZZ_CHECK(shown(b.panels) == shown(a.panels));
    }
    return 0;
}
