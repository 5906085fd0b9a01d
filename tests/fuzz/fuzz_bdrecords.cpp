// Button-driver record batches into ButtonSetterImpl, as the host hands
// the firmware's batches to it, with a face of fake buttons (LCD keys, LEDs,
// display windows, the two special ids 300 and 301), then a few timer ticks
// for flashing, sequences and scrolling legends. Checks that every picture
// shown is a whole face image, that the timer runs while a button flashes
// or animates, and that buttons dropped from the table are not touched
// again.
//
// Input: byte 0 sets the number of 20 ms ticks after each batch (low 4
// bits) and whether a second batch follows the ticks (bit 4). Then records:
// a 16-bit big-endian length (cut to what is left) and the record bytes; a
// length of 0xFFFF ends the first batch.

#include "button_setter_impl.h"
#include "face_image.h"
#include "fuzz_common.h"
#include "ibutton.h"

#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <memory>
#include <vector>

using namespace buttondriver;

namespace {

class FakeButton : public IButton
{
public:
    FakeButton(qint32 id, qint32 kind) : m_id(id), m_kind(kind) {}
    void setColor(quint8, quint8, quint8) override { ++calls; }
    void setImage(const FaceImage &image, qint32) override
    {
        ++calls;
        FUZZ_CHECK(image.width() >= 36 && image.data().size() == image.bytesPerLine() * 24);
    }
    qint32 id() const override { return m_id; }
    bool isLED() const override { return m_kind == KIND_LED; }
    void setText(const QString &, qint32) override { ++calls; }
    bool isVirtual() const override { return false; }
    IButton *mapped() const override { return m_partner; }
    void setMapped(IButton *p) override
    {
        ++calls;
        m_partner = p;
    }
    qint32 kind() const override { return m_kind; }
    long calls = 0;

private:
    qint32 m_id;
    qint32 m_kind;
    IButton *m_partner = nullptr;
};

QCoreApplication *s_app;
QString s_levelFile;

std::vector<QByteArray> takeBatch(const uint8_t *data, size_t size, size_t *at)
{
    std::vector<QByteArray> batch;
    while (size - *at >= 2) {
        size_t n = size_t(data[*at]) << 8 | data[*at + 1];
        *at += 2;
        if (n == 0xFFFF)
            break;
        if (n > size - *at)
            n = size - *at;
        batch.emplace_back(reinterpret_cast<const char *>(data + *at), qsizetype(n));
        *at += n;
    }
    return batch;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz_silence_stdout();
    s_app = new QCoreApplication(*argc, *argv);
    // The driver's reports are expected; they are not what is looked at.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    // Brightness levels that scale, so that the scaling is reached too.
    static QTemporaryDir dir;
    s_levelFile = dir.filePath(QStringLiteral("buttonlevel"));
    QFile f(s_levelFile);
    if (f.open(QIODevice::WriteOnly))
        f.write("led 50\nlcd 250\nfoo 3\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int ticks = data[0] & 0x0f;
    const bool second = data[0] & 0x10;

    std::vector<std::unique_ptr<FakeButton>> face;
    QMap<qint32, IButton *> table;
    auto add = [&](qint32 id, qint32 kind) {
        face.push_back(std::make_unique<FakeButton>(id, kind));
        table.insert(id, face.back().get());
    };
    for (qint32 id = 1; id <= 8; ++id)
        add(id, IButton::KIND_LCD);
    for (qint32 id = 9; id <= 12; ++id)
        add(id, IButton::KIND_LED);
    add(300, IButton::KIND_LCD);
    add(301, IButton::KIND_LED);
    add(1000, IButton::KIND_DISPLAY);
    add(1009, IButton::KIND_DISPLAY);

    {
        ButtonSetterImpl setter(s_levelFile);
        setter.setButtons(table);
        size_t at = 1;
        for (int round = 0; round < (second ? 2 : 1); ++round) {
            setter.process_messages(takeBatch(data, size, &at));
            for (int t = 0; t < ticks; ++t)
                setter.update_timer();
            bool busy = false;
            for (const auto &b : face)
                busy = busy || setter.isFlashing(b.get()) || setter.isAnimating(b.get());
            // Virtual buttons may flash or animate too; then the timer runs
            // although no button of the face does.
            if (busy)
                FUZZ_CHECK(setter.timerActive());
        }
        // A new table ends what the old one's buttons were doing: they are
        // not touched again.
        setter.setButtons(QMap<qint32, IButton *>());
        FUZZ_CHECK(!setter.timerActive());
        std::vector<long> calls;
        for (const auto &b : face)
            calls.push_back(b->calls);
        for (int t = 0; t < 3; ++t)
            setter.update_timer();
        for (size_t i = 0; i < face.size(); ++i)
            FUZZ_CHECK(face[i]->calls == calls[i]);
    }
    return 0;
}
