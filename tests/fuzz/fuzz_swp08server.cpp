// The router simulator's reader of an SW-P-08 client: a byte stream from a
// client, in pieces with time passing between them, through the link end
// into the simulated router's session, with every change of the matrix
// told back as the server tells its clients. Checks that everything sent
// to the client is ACK, NAK or a frame of a message the codec reads back
// (replies never build a message the wire cannot carry), that every text
// for the panels is a well-formed tally or lock state, and that the same
// stream in one piece sends the same bytes.
//
// Input: byte 0 picks the matrix (bits 0-1: levels, sources and
// destinations; bit 2: matrix 0 or 17); byte 1 the piece size (1 to 256);
// the rest is the stream. A piece whose first byte is 0xFF is a time jump
// of 600 ms instead (re-sends), and one starting with 0xFE a panel's
// router command (the rest of the piece) for the simulator.

#include "fuzz_common.h"
#include "router_state.h"
#include "swp08_frame.h"
#include "swp08_message.h"
#include "swp08_session.h"
#include "swp08_transport.h"

#include <QList>
#include <QRegularExpression>

namespace {

struct Rig : Swp08Session::Output, swp08::Transport::Handler {
    Rig(int levels, int sources, int dests, int matrix)
        : state(levels, sources, dests), session(state, matrix, *this), link(*this), matrix(matrix)
    {
        state.setObserver([this](const RouterState::Change &c) {
            for (const swp08::Message &m : Swp08Session::changeMessages(state, this->matrix, c))
                reply(m);
        });
    }

    void reply(const swp08::Message &m) override
    {
        const std::vector<uint8_t> data = swp08::encode(m);
        FUZZ_CHECK(!data.empty());
        link.send(data, now);
    }
    void toPanels(const QByteArray &text) override { panels.append(text); }
    void write(const uint8_t *b, size_t n) override { wire.insert(wire.end(), b, b + n); }
    void frame(const std::vector<uint8_t> &data) override { session.handle(data); }
    void gaveUp(const std::vector<uint8_t> &, bool) override {}

    RouterState state;
    Swp08Session session;
    swp08::Transport link;
    int matrix;
    int64_t now = 0;
    QList<QByteArray> panels;
    std::vector<uint8_t> wire;
};

void run(Rig &r, const uint8_t *data, size_t size, size_t piece)
{
    for (size_t at = 0; at < size; at += piece) {
        const size_t n = std::min(piece, size - at);
        const uint8_t *p = data + at;
        if (p[0] == 0xFF) {
            r.now += 600;
            r.link.poll(r.now);
        } else if (p[0] == 0xFE) {
            for (const RouterState::Out &o : r.state.handle(QByteArray(reinterpret_cast<const char *>(p + 1),
                                                                       qsizetype(n - 1))))
                r.panels.append(o.text);
        } else {
            r.link.receive(p, n, r.now);
        }
    }
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
    static const int sizes[4][3] = {{4, 8, 8}, {17, 300, 1100}, {26, 2000, 200}, {1, 2000, 70}};
    const int *z = sizes[data[0] & 3];
    const int matrix = (data[0] & 4) ? 17 : 0;
    const size_t piece = size_t(data[1]) + 1;
    Rig a(z[0], z[1], z[2], matrix);
    run(a, data + 2, size - 2, piece);

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
    static const QRegularExpression text(QStringLiteral(
        "^(\\.U[VABCDEFGHIJKLMNOPQRSTUWXYZ]{1,26}\\d{3,5},\\d{3,5}|\\.BA\\d{3,5},(0|1|255)|\\.A[A-Z]*\\d{3,5},\\d{3,5})\\r$"));
    for (const QByteArray &t : a.panels)
        FUZZ_CHECK(text.match(QString::fromLatin1(t)).hasMatch());

    bool plain = true;
    for (size_t at = 2; at < size; at += piece)
        plain = plain && data[at] != 0xFF && data[at] != 0xFE;
    if (plain) {
        Rig b(z[0], z[1], z[2], matrix);
        run(b, data + 2, size - 2, size);
        FUZZ_CHECK(b.wire == a.wire);
        FUZZ_CHECK(b.panels == a.panels);
    }
    return 0;
}
