// ButtonSetterImpl applying batches to recording buttons; the timer is driven
// by calling update_timer() directly, one call per 20 ms tick.

#include "bd_records.h"
#include "bd_test_support.h"
#include "builtin_images.h"
#include "button_setter_impl.h"
#include "legend.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace buttondriver;
using bdtest::RecordingButton;

namespace {

class RecordingObserver : public ButtonObserver
{
public:
    void colorApplied(qint32 id, quint8 r, quint8 g, quint8 b) override
    {
        lines << QStringLiteral("color %1 %2 %3 %4").arg(id).arg(r).arg(g).arg(b);
    }
    void textApplied(qint32 id, const QString &text, qint32 flags) override
    {
        lines << QStringLiteral("text %1 %2 %3").arg(id).arg(text).arg(flags);
    }
    void imageApplied(qint32 id, const FaceImage &, qint32 imageId) override
    {
        lines << QStringLiteral("image %1 %2").arg(id).arg(imageId);
    }
    QStringList lines;
};

class RecordingHandler : public MessageHandler
{
public:
    void forwardMessage(quint32 a, quint32 b) override { values.push_back({a, b}); }
    std::vector<std::pair<quint32, quint32>> values;
};

// A setter with a few recording buttons: 1 and 3 LCD keys, 2 an LED, 300 and
// 301 LCD keys the all-button picture records leave alone.
struct Rig
{
    explicit Rig(const QByteArray &levels = QByteArray())
    {
        levelFile = dir.path() + QStringLiteral("/buttonlevel");
        if (!levels.isNull())
            writeLevels(levels);
        setter = std::make_unique<ButtonSetterImpl>(levelFile);
        for (const qint32 id : {1, 3, 300, 301})
            buttons[id] = std::make_unique<RecordingButton>(id);
        buttons[2] = std::make_unique<RecordingButton>(2, true);
        install();
    }

    void writeLevels(const QByteArray &text)
    {
        QFile f(levelFile);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }

    void install(MessageHandler *handler = nullptr)
    {
        QMap<qint32, IButton *> map;
        for (auto &[id, b] : buttons)
            map.insert(id, b.get());
        setter->setButtons(map, handler);
    }

    RecordingButton &b(qint32 id) { return *buttons.at(id); }

    void run(const std::vector<QByteArray> &batch) { setter->process_messages(batch); }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            setter->update_timer();
    }
    // Forget what every button was told so far.
    void clear()
    {
        for (auto &[id, b] : buttons)
            b->take();
    }
    bool quiet()
    {
        for (auto &[id, b] : buttons)
            if (!b->calls.isEmpty())
                return false;
        return true;
    }

    QTemporaryDir dir;
    QString levelFile;
    std::unique_ptr<ButtonSetterImpl> setter;
    std::map<qint32, std::unique_ptr<RecordingButton>> buttons;
};

QByteArray withU32(QByteArray record, qsizetype offset, quint32 value)
{
    qToBigEndian<quint32>(value, reinterpret_cast<uchar *>(record.data()) + offset);
    return record;
}

FaceImage scrollWindow(const QString &text, int offset)
{
    FaceImage wide(int(text.size()));
    renderLegend(wide, text, TEXT_SCROLL);
    FaceImage window;
    wide.copyWindow(offset, window);
    return window;
}

} // namespace

class TestButtonSetter : public QObject
{
    Q_OBJECT

private slots:
    void colours()
    {
        Rig rig;
        RecordingObserver obs;
        rig.setter->setObserver(&obs);
        StdoutCapture out;
        // -1 reaches every button, LEDs and 300/301 included.
        rig.run({makeColor(ALL_BUTTONS, 10, 20, 30)});
        for (const qint32 id : {1, 2, 3, 300, 301})
            QCOMPARE(rig.b(id).take(), QStringList{QStringLiteral("color 10 20 30")});
        QCOMPARE(obs.lines.size(), 5);
        QCOMPARE(obs.lines.first(), QStringLiteral("color 1 10 20 30"));

        rig.run({makeColor(99, 1, 1, 1), makeColor(3, 4, 5, 6)});
        QCOMPARE(rig.b(3).take(), QStringList{QStringLiteral("color 4 5 6")});
        QVERIFY(rig.quiet());
        QCOMPARE(out.text(), QByteArray("buttondriver:invalid button id 99, color\n"));
    }

    void allButtonRecordsSkipLedsAnd300()
    {
        Rig rig;
        rig.run({makeButtonImage(ALL_BUTTONS, 12)});
        QCOMPARE(rig.b(1).take(), QStringList{QStringLiteral("image 12")});
        QCOMPARE(rig.b(3).take(), QStringList{QStringLiteral("image 12")});
        QVERIFY(rig.quiet()); // 2 (LED), 300 and 301 untouched

        rig.run({makeImageSeq(ALL_BUTTONS, {0, 1}, 50, 0)});
        QVERIFY(rig.setter->isAnimating(&rig.b(1)) && rig.setter->isAnimating(&rig.b(3)));
        for (const qint32 id : {2, 300, 301})
            QVERIFY(!rig.setter->isAnimating(&rig.b(id)));

        // Text and flashing reach every button.
        rig.run({makeText(ALL_BUTTONS, "", 0), makeColor2(ALL_BUTTONS, 1, 1, 1, 100, 2, 2, 2, 100)});
        for (const qint32 id : {1, 2, 3, 300, 301}) {
            QCOMPARE(rig.b(id).take(), QStringList{QStringLiteral("text  0")});
            QVERIFY(rig.setter->isFlashing(&rig.b(id)));
        }
    }

    void flashing()
    {
        Rig rig;
        QVERIFY(!rig.setter->timerActive());
        rig.run({makeColor2(1, 255, 0, 0, 300, 0, 0, 255, 300)});
        QVERIFY(rig.quiet()); // nothing until the first tick
        QVERIFY(rig.setter->timerActive());
        QStringList seen;
        for (int tick = 0; tick <= 45; ++tick) {
            rig.ticks(1);
            for (const QString &c : rig.b(1).take())
                seen << QStringLiteral("%1 %2").arg(tick).arg(c);
        }
        // 300 ms each: 15 ticks of each colour.
        QCOMPARE(seen, (QStringList{"0 color 255 0 0", "15 color 0 0 255", "30 color 255 0 0",
                                    "45 color 0 0 255"}));

        // Durations below one tick count as one tick.
        rig.run({makeColor2(3, 1, 1, 1, 10, 2, 2, 2, 0)});
        rig.ticks(4);
        QCOMPARE(rig.b(3).take(), (QStringList{"color 1 1 1", "color 2 2 2", "color 1 1 1", "color 2 2 2"}));

        // A plain colour ends the flash and stays.
        rig.run({makeColor(1, 7, 8, 9)});
        QCOMPARE(rig.b(1).take(), QStringList{QStringLiteral("color 7 8 9")});
        QVERIFY(!rig.setter->isFlashing(&rig.b(1)));
        rig.ticks(40);
        QVERIFY(rig.b(1).calls.isEmpty());
        // The timer stops at the first tick with nothing left to drive.
        rig.run({makeColor(3, 0, 0, 0)});
        QVERIFY(rig.setter->timerActive());
        rig.ticks(1);
        QVERIFY(!rig.setter->timerActive());
    }

    void brightness()
    {
        StdoutCapture out;
        Rig rig("led 50\nlcd 80\nfoo 3\nled\nlcd x\n\n  \n");
        QCOMPARE(rig.setter->ledLevel(), 50);
        QCOMPARE(rig.setter->lcdLevel(), 80);
        QCOMPARE(out.text(), QByteArray("buttondriver:reconfig \nbuttondriver:unknown type foo\n"));

        rig.run({makeColor(2, 255, 100, 1), makeColor(1, 255, 100, 1)});
        QCOMPARE(rig.b(2).take(), QStringList{QStringLiteral("color 127 50 0")});
        QCOMPARE(rig.b(1).take(), QStringList{QStringLiteral("color 204 80 0")});
        rig.run({makeColor2(2, 255, 100, 1, 20, 100, 100, 100, 20)});
        rig.ticks(2);
        QCOMPARE(rig.b(2).take(), (QStringList{"color 127 50 0", "color 50 50 50"}));

        // Level 0: a colour is shown as sent, a flash goes black.
        rig.writeLevels("led 0\nlcd 0\n");
        rig.run({makeReconfig(), makeColor(2, 255, 100, 1), makeColor2(1, 255, 100, 1, 20, 9, 9, 9, 20)});
        QCOMPARE(rig.b(2).take(), QStringList{QStringLiteral("color 255 100 1")});
        rig.ticks(2);
        QCOMPARE(rig.b(1).take(), (QStringList{"color 0 0 0", "color 0 0 0"}));

        // Levels above 100 cannot push a component past 255.
        rig.writeLevels("led 200\n");
        rig.run({makeReconfig(), makeColor(2, 200, 100, 0)});
        QCOMPARE(rig.b(2).take(), QStringList{QStringLiteral("color 255 200 0")});

        // A missing file keeps the levels.
        QFile::remove(rig.levelFile);
        rig.run({makeReconfig()});
        QCOMPARE(rig.setter->ledLevel(), 200);
        QCOMPARE(rig.setter->lcdLevel(), 0);

        // No file at all: both 100; the path can be changed afterwards.
        ButtonSetterImpl fresh(rig.dir.path() + QStringLiteral("/none"));
        QCOMPARE(fresh.ledLevel(), 100);
        QCOMPARE(fresh.lcdLevel(), 100);
        QCOMPARE(ButtonSetterImpl::defaultLevelFile(), QStringLiteral("/home/panel/buttonlevel"));
        rig.writeLevels("lcd 42 trailing words\n");
        fresh.setLevelFile(rig.levelFile);
        fresh.reconfig();
        QCOMPARE(fresh.lcdLevel(), 42);
    }

    void textsAndScrolling()
    {
        Rig rig;
        RecordingObserver obs;
        rig.setter->setObserver(&obs);
        StdoutCapture out;
        rig.run({makeText(1, "AB\nCD", 0x06), makeText(99, "NO", 0)});
        QCOMPARE(rig.b(1).take(), QStringList{QStringLiteral("text AB\nCD 6")});
        QCOMPARE(obs.lines, QStringList{QStringLiteral("text 1 AB\nCD 6")});
        QCOMPARE(out.text(), QByteArray("buttondriver:invalid button id 99, text NO\n"));

        // Scroll flag, but every line fits: shown at once.
        rig.run({makeText(1, "ABCDE\nFGH", 0x10)});
        QCOMPARE(rig.b(1).take(), QStringList{QStringLiteral("text ABCDE\nFGH 16")});
        QVERIFY(!rig.setter->timerActive());

        // "ABCDEF": 7 steps, 80 frames of lead-in, 20 of tail, 60 frames a
        // second (1.2 frames a tick).
        const QString text = QStringLiteral("ABCDEF");
        rig.run({makeText(1, text.toLatin1(), 0x10)});
        QVERIFY(rig.b(1).take().isEmpty());
        QVERIFY(rig.setter->timerActive());
        std::vector<FaceImage> shown;
        for (int tick = 0; tick < 90; ++tick) {
            rig.ticks(1);
            shown.push_back(rig.b(1).lastImage);
        }
        for (int tick = 0; tick <= 67; ++tick)
            QCOMPARE(shown[size_t(tick)], scrollWindow(text, 0));
        QCOMPARE(shown[68], scrollWindow(text, 1));
        QCOMPARE(shown[89], scrollWindow(text, 6));
        std::vector<FaceImage> distinct;
        for (const FaceImage &f : shown)
            if (distinct.empty() || distinct.back() != f)
                distinct.push_back(f);
        // One pixel a frame, offsets 0 to 6 in order; at 1.2 frames a tick
        // one frame in five falls between two ticks.
        int offset = -1;
        for (const FaceImage &f : distinct) {
            int next = offset + 1;
            while (next <= 6 && f != scrollWindow(text, next))
                ++next;
            QVERIFY(next <= 6 && next <= offset + 2);
            offset = next;
        }
        QCOMPARE(offset, 6);
        QVERIFY(distinct.size() >= 6);
        for (const QString &c : rig.b(1).take())
            QCOMPARE(c, QStringLiteral("image -1"));
        rig.ticks(1); // the end: back to the start
        QCOMPARE(rig.b(1).lastImage, scrollWindow(text, 0));

        // Eight characters or more: the lead-in is 40 frames.
        const QString longer = QStringLiteral("ABCDEFGH");
        rig.run({makeText(3, longer.toLatin1(), 0x10)});
        rig.ticks(36); // a frame change, so a picture, every tick
        QCOMPARE(rig.b(3).images.size(), size_t(36));
        QCOMPARE(rig.b(3).images[34], scrollWindow(longer, 0)); // frame 40
        QCOMPARE(rig.b(3).images[35], scrollWindow(longer, 2)); // frame 42

        // Plain text ends a scroll.
        rig.b(1).take();
        rig.run({makeText(1, "X", 0)});
        QCOMPARE(rig.b(1).take(), QStringList{QStringLiteral("text X 0")});
        QVERIFY(!rig.setter->isAnimating(&rig.b(1)));
        rig.ticks(100);
        QVERIFY(rig.b(1).calls.isEmpty());
    }

    void imageUploads()
    {
        Rig rig;
        RecordingObserver obs;
        rig.setter->setObserver(&obs);
        const QByteArray builtin5(reinterpret_cast<const char *>(builtinImageData(5)), IMAGE_DATA_SIZE);
        QByteArray pattern(IMAGE_DATA_SIZE, '\0');
        for (int i = 0; i < pattern.size(); ++i)
            pattern[i] = char(i * 7);

        StdoutCapture out;
        rig.run({makeImage(5, QByteArray(100, '\xff'))});
        QCOMPARE(rig.setter->image(5)->data(), builtin5);
        rig.run({makeImage(5, pattern), makeButtonImage(1, 5)});
        QCOMPARE(rig.setter->image(5)->data(), pattern);
        QCOMPARE(rig.b(1).take(), QStringList{QStringLiteral("image 5")});
        QCOMPARE(rig.b(1).lastImage.data(), pattern);
        QCOMPARE(obs.lines, QStringList{QStringLiteral("image 1 5")});

        // Upload and use in one batch; an id never uploaded changes nothing.
        rig.run({makeImage(30, pattern), makeButtonImage(3, 30), makeButtonImage(3, 31),
                 makeButtonImage(99, 30), makeButtonImage(2, 30)});
        QCOMPARE(rig.b(3).take(), QStringList{QStringLiteral("image 30")});
        QVERIFY(rig.quiet()); // LED 2 ignores pictures
        QCOMPARE(out.text(), QByteArray("invalid image data, size = 100\n"
                                        "buttondriver:failed to upload image 5\n"
                                        "buttondriver:image uploaded 5\n"
                                        "buttondriver:image uploaded 30\n"
                                        "buttondriver:invalid image specified 31,image\n"
                                        "buttondriver:invalid button id 99, setButtonImage\n"));
        QVERIFY(!rig.setter->image(31));
    }

    void imageSequences()
    {
        Rig rig;
        StdoutCapture out;
        // Repeat 2: the frames twice, then it stays on the last one.
        rig.run({makeImageSeq(1, {0, 1, 2}, 50, 2)}); // 50 fps: a frame a tick
        rig.ticks(10);
        QCOMPARE(rig.b(1).take(), (QStringList{"image 0", "image 1", "image 2", "image 0", "image 1",
                                               "image 2"}));
        QVERIFY(!rig.setter->isAnimating(&rig.b(1)));
        QVERIFY(!rig.setter->timerActive());

        // Repeat 0 loops until a picture replaces it.
        rig.run({makeImageSeq(1, {3, 4}, 25, 0)}); // 25 fps: a frame every other tick
        rig.ticks(9);
        QCOMPARE(rig.b(1).take(), (QStringList{"image 3", "image 4", "image 3", "image 4", "image 3"}));
        rig.run({makeButtonImage(1, 7)});
        rig.ticks(5);
        QCOMPARE(rig.b(1).take(), QStringList{QStringLiteral("image 7")});

        // A missing frame is reported when it comes due; the rest plays on.
        bdtest::LogCapture log;
        rig.run({makeImageSeq(1, {0, 77, 1}, 50, 1)});
        rig.ticks(4);
        QCOMPARE(rig.b(1).take(), (QStringList{"image 0", "image 1"}));
        QCOMPARE(log.starting(QStringLiteral("critical ButtonSetterImpl::update_timer, image id not found 77")).size(), 1);

        // No frames, an LED, rate 0.
        rig.run({makeImageSeq(1, {}, 50, 0), makeImageSeq(2, {0}, 50, 0)});
        rig.ticks(3);
        QVERIFY(!rig.setter->isAnimating(&rig.b(1)));
        QVERIFY(rig.setter->isAnimating(&rig.b(2)));
        rig.run({makeImageSeq(3, {5, 6}, 0, 0), makeImageSeq(99, {1}, 50, 0)});
        rig.ticks(20);
        QCOMPARE(rig.b(3).take(), QStringList{QStringLiteral("image 5")});
        QVERIFY(rig.quiet());
        QCOMPARE(out.text(), QByteArray("buttondriver:invalid button id 99, imageSeq\n"));
    }

    void syncNullAndUnhandled()
    {
        Rig rig;
        bdtest::LogCapture log;
        StdoutCapture out;
        rig.run({makeSync()});
        QCOMPARE(log.lines.size(), 1);
        QVERIFY(log.lines[0].startsWith(QStringLiteral("critical iodev NULL (")));
        for (const quint32 type : {2u, 3u, 8u, 9u, 17u}) {
            log.lines.clear();
            rig.run({withU32(makeColor(1, 1, 1, 1), 0, type)});
            QCOMPARE(log.lines.size(), 1);
            QVERIFY2(log.lines[0].startsWith(QStringLiteral(
                         "critical ButtonSetterImpl::process_messages, unhandled switch case %1 (").arg(type)),
                     qPrintable(log.lines[0]));
        }
        log.lines.clear();
        rig.run({QByteArray(4, '\0')});
        QCOMPARE(log.lines.size(), 1);
        QVERIFY(log.lines[0].startsWith(
            QStringLiteral("critical ButtonSetterImpl::process_messages , TYPE_NULL_MESSAGE")));
        QVERIFY(rig.quiet());
        QVERIFY(out.text().isEmpty());
    }

    void commands()
    {
        Rig rig;
        bdtest::LogCapture log;
        rig.run({makeText(COMMAND_ID, "@wakeup_lcd", 0)});
        QCOMPARE(log.lines.size(), 1);
        QVERIFY(log.lines[0].startsWith(QStringLiteral("critical @wakeup_lcd when _as0 is NULL (")));

        QBuffer sink;
        sink.open(QIODevice::WriteOnly);
        rig.setter->setWakeupSink(&sink);
        log.lines.clear();
        StdoutCapture out;
        rig.run({makeText(COMMAND_ID, "@wakeup_lcd", 0), makeText(COMMAND_ID, "@sleep", 0)});
        QCOMPARE(out.text(), QByteArray("@wakeup\n"));
        QCOMPARE(sink.data(), QByteArray("@wakeup\n"));
        QCOMPARE(log.lines, (QStringList{"debug buttondriver:cmd \"@wakeup_lcd\"",
                                         "debug buttondriver: unknown cmd \"@sleep\""}));
        QVERIFY(rig.quiet());
    }

    void virtualButtons()
    {
        Rig rig;
        rig.buttons[4] = std::make_unique<RecordingButton>(4, true);
        rig.install();
        StdoutCapture out;
        rig.run({makeVirtual(500), makeVirtual(500), makeVirtual(1), makeText(500, "A", 0)});
        QVERIFY(rig.quiet()); // no partner yet

        // Mapped: the partner shows the virtual's colour (black, never set),
        // then its text.
        rig.run({makeMapVirtual(500, 1)});
        QCOMPARE(rig.b(1).take(), (QStringList{"color 0 0 0", "text A 0", "mapped 500"}));
        rig.run({makeColor(500, 9, 9, 9)});
        QCOMPARE(rig.b(1).take(), QStringList{QStringLiteral("color 9 9 9")});

        // Mapped again elsewhere: the first partner is let go.
        rig.run({makeMapVirtual(500, 3)});
        QCOMPARE(rig.b(1).take(), QStringList{QStringLiteral("mapped none")});
        QCOMPARE(rig.b(3).take(), (QStringList{"color 9 9 9", "text A 0", "mapped 500"}));
        QCOMPARE(rig.b(1).partner, nullptr);
        // A picture replaces the text on the partner, as a copy.
        rig.run({makeButtonImage(500, 4)});
        QCOMPARE(rig.b(3).take(), QStringList{QStringLiteral("image -1")});

        // Another virtual takes button 3 over: 500 loses its partner.
        rig.run({makeVirtual(600), makeMapVirtual(600, 3), makeColor(500, 1, 2, 3)});
        QCOMPARE(rig.b(3).take(), (QStringList{"color 0 0 0", "text  0", "mapped 600"}));
        rig.run({makeButtonImage(600, 0), makeMapVirtual(600, 1)});
        QCOMPARE(rig.b(3).take(), (QStringList{"image -1", "mapped none"}));
        QCOMPARE(rig.b(1).take(), (QStringList{"color 0 0 0", "image -1", "mapped 600"}));

        // A virtual is as much an LED as its partner.
        rig.run({makeVirtual(700), makeMapVirtual(700, 4)});
        rig.b(4).take();
        rig.run({makeButtonImage(700, 0), makeImageSeq(ALL_BUTTONS, {0}, 50, 1)});
        QVERIFY(rig.b(4).calls.isEmpty());

        rig.run({makeMapVirtual(501, 1), makeMapVirtual(1, 3), makeMapVirtual(500, 99),
                 makeMapVirtual(500, 600)});
        QCOMPARE(out.text(), QByteArray("buttondriver:virtual button already created id 500, mapVirtual\n"
                                        "buttondriver:virtual button already created id 1, mapVirtual\n"
                                        "buttondriver:invalid button id 501, mapVirtual\n"
                                        "buttondriver:invalid button id 1, button not virtual\n"
                                        "buttondriver:invalid button id 99, mapVirtual\n"
                                        "buttondriver:invalid button id 600, button is virtual\n"));
    }

    void forwarding()
    {
        Rig rig;
        rig.run({makeForward(1, 2)}); // no handler: nothing
        RecordingHandler handler;
        rig.install(&handler);
        rig.run({makeForward(7, 0xdeadbeef)});
        QCOMPARE(handler.values.size(), size_t(1));
        QCOMPARE(handler.values[0], (std::pair<quint32, quint32>(7, 0xdeadbeef)));
    }

    // Records with bytes after their layout are read by their layout and
    // their own size fields; what follows is not looked at.
    void recordsLongerThanTheirLayout()
    {
        Rig rig;
        const QByteArray builtin5(reinterpret_cast<const char *>(builtinImageData(5)), IMAGE_DATA_SIZE);
        bdtest::LogCapture log;
        StdoutCapture out;
        // A 132-byte image record whose size field says 100.
        const QByteArray image100 = withU32(makeImage(5, QByteArray(IMAGE_DATA_SIZE, '\x11')), 8, 100);
        QCOMPARE(image100.size(), 132);
        rig.run({image100, makeColor(1, 1, 2, 3) + "tail", makeText(3, "AB", 0) + QByteArray("CD\0", 3),
                 makeButtonImage(3, 7) + QByteArray(4, '\xff')});
        QCOMPARE(out.text(), QByteArray("invalid image data, size = 100\n"
                                        "buttondriver:failed to upload image 5\n"));
        QCOMPARE(rig.setter->image(5)->data(), builtin5);
        QCOMPARE(rig.b(1).take(), QStringList{QStringLiteral("color 1 2 3")});
        QCOMPARE(rig.b(3).take(), (QStringList{QStringLiteral("text AB 0"), QStringLiteral("image 7")}));
        QVERIFY2(log.lines.isEmpty(), qPrintable(log.lines.join(QLatin1Char('|'))));
    }

    // Every record type cut short at every length, and with length or
    // count fields beyond the record: each is reported and
    // dropped without being read past its end, and the colour after it in
    // the same batch still applies.
    void badRecordsLeaveTheBatchGoing()
    {
        Rig rig;
        rig.run({makeVirtual(500)});
        const std::vector<QByteArray> good = {
            makeColor(3, 252, 12, 1), makeText(3, "AB\nC", 0x06), makeImage(3, QByteArray(IMAGE_DATA_SIZE, '\x5a')),
            makeButtonImage(3, 4), makeReconfig(), makeColor2(3, 0, 255, 0, 300, 200, 200, 200, 300),
            makeSync(), makeImageSeq(3, {1, 2, -3}, 10, 2), makeForward(1, 2), makeVirtual(501),
            makeMapVirtual(500, 3)};
        QList<QByteArray> bad;
        for (const QByteArray &record : good) {
            for (qsizetype len = 0; len < record.size(); ++len)
                bad << record.left(len);
        }
        const QByteArray text = makeText(3, "ABC", 0);
        const QByteArray image = makeImage(30, QByteArray(IMAGE_DATA_SIZE, '\1'));
        const QByteArray seq = makeImageSeq(3, {1, 2}, 10, 0);
        bad << withU32(text, 12, 5) << withU32(text, 12, 0xffffffff) << withU32(text.left(16), 12, 0)
            << withU32(image, 8, 121) << withU32(image, 8, 0xffffffff) << withU32(seq, 20, 3)
            << withU32(seq, 20, 0x40000000) << withU32(seq, 20, 0xffffffff);

        StdoutCapture out;
        for (const QByteArray &b : bad) {
            const bdtest::ExactBytes exact(b);
            bdtest::LogCapture log;
            rig.run({exact.bytes(), makeColor(1, 9, 9, 9)});
            QCOMPARE(rig.b(1).take(), QStringList{QStringLiteral("color 9 9 9")});
            QVERIFY2(rig.quiet(), qPrintable(b.toHex(' ')));
            QCOMPARE(log.lines.size(), 1);
            QVERIFY2(log.lines[0].startsWith(QStringLiteral("critical ButtonSetterImpl::process_messages, "
                                                            "malformed record"))
                         || log.lines[0].startsWith(QStringLiteral("critical ButtonSetterImpl::process_messages, "
                                                                   "record too short")),
                     qPrintable(log.lines[0]));
        }
        QVERIFY(!rig.setter->isFlashing(&rig.b(3)) && !rig.setter->isAnimating(&rig.b(3)));
        QVERIFY(!rig.setter->image(30));
        QCOMPARE(out.text(), QByteArray()); // not even a reconfig
    }

    // Buttons dropped by setButtons may be deleted at once: the timer must
    // not touch them again.
    void setButtonsForgetsOldButtons()
    {
        Rig rig;
        auto gone = std::make_unique<RecordingButton>(9);
        QMap<qint32, IButton *> map{{9, gone.get()}, {1, &rig.b(1)}};
        rig.setter->setButtons(map);
        rig.run({makeColor2(9, 1, 1, 1, 20, 2, 2, 2, 20), makeImageSeq(9, {0, 1}, 50, 0)});
        QVERIFY(rig.setter->timerActive());
        rig.setter->setButtons({{1, &rig.b(1)}});
        QVERIFY(!rig.setter->isFlashing(gone.get()) && !rig.setter->isAnimating(gone.get()));
        QVERIFY(!rig.setter->timerActive());
        gone.reset();
        rig.ticks(3); // would be a use after free
        StdoutCapture out;
        rig.run({makeColor(9, 1, 1, 1)});
        QCOMPARE(out.text(), QByteArray("buttondriver:invalid button id 9, color\n"));
    }
};

QTEST_MAIN(TestButtonSetter)
#include "tst_button_setter.moc"
