// Collector message framing and unpacking: a byte stream as it arrives on an
// injector connection, in pieces, cut into framed payloads by the
// FrameReader the injector's clients use, each payload unpacked as a
// CollectorMsg. Checks that the
// pieces do not matter (the whole stream at once gives the same payloads),
// that framing the payloads again gives back the bytes they came from, and
// that unpacking succeeds exactly for 16-byte payloads and packs back to
// them.
//
// Input: byte 0 sets the piece size (1 to 256); the rest is the stream.

#include "collector_msg.h"
#include "framing.h"
#include "fuzz_common.h"

#include <QByteArray>
#include <QList>

using collector::CollectorMsg;
using collector::FrameReader;

namespace {

// Small enough that the fuzzer meets the limit.
const quint32 kMaxPayload = 4096;

QList<QByteArray> readAll(FrameReader &r)
{
    QList<QByteArray> out;
    QByteArray p;
    while (r.next(&p))
        out.append(p);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_silence_stdout(); // unpack prints its size message
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const qsizetype piece = qsizetype(data[0]) + 1;
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    FrameReader pieces(kMaxPayload);
    QList<QByteArray> got;
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        pieces.append(stream.mid(at, piece));
        got += readAll(pieces);
    }
    FrameReader whole(kMaxPayload);
    whole.append(stream);
    FUZZ_CHECK(readAll(whole) == got);
    FUZZ_CHECK(whole.failed() == pieces.failed());

    QByteArray again;
    for (const QByteArray &p : got) {
        FUZZ_CHECK(quint32(p.size()) <= kMaxPayload);
        again += collector::frame(p);
        CollectorMsg m(7, 1);
        const CollectorMsg before = m;
        const bool ok = m.unpack(p);
        FUZZ_CHECK(ok == (p.size() == CollectorMsg::PackedSize));
        if (ok)
            FUZZ_CHECK(m.pack() == p);
        else
            FUZZ_CHECK(m == before);
    }
    FUZZ_CHECK(stream.startsWith(again));
    if (!pieces.failed())
        FUZZ_CHECK(pieces.pending() == stream.size() - again.size());
    return 0;
}
