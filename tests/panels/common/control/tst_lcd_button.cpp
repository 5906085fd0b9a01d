// The legend cache over the Qt platform layer: what reaches the host as
// button-driver records when legends, numbers, times, pictures and
// colours are set, repeated, forced and refused.

#include "../../../support/stdout_capture.h"
#include "bd_records.h"
#include "control/lcd_button.h"
#include "plat.h"
#include "product.h"
#include "recording_host.h"

#include <QTest>

using namespace buttondriver;

namespace {

int model(const char *name)
{
    return prod_find(name);
}

// A fresh cache on the SK1400A (32 keys) with every record of the start
// dropped.
void start(RecordingHost &host)
{
    prod_select(model("SK1400A"));
    lcd_init();
    host.take();
}

QByteArray shownLine(int key, int line)
{
    LcdShown s;
    if (!lcd_shown(key, &s))
        return "?";
    return QByteArray(s.line[line]);
}

} // namespace

class TestLcdButton : public QObject
{
    Q_OBJECT

private slots:
    // Start: every key blank with colour 0, one record each; keys are
    // numbered from 1 to the model's button count.
    void initBlanksEveryKey()
    {
        RecordingHost host;
        prod_select(model("SK1100A"));
        lcd_init();
        const std::vector<QByteArray> r = host.take();
        QCOMPARE(lcd_keys_total(), 16);
        QCOMPARE(int(r.size()), 32);
        QCOMPARE(r.front(), makeColor(1, 0, 0, 0));
        QCOMPARE(r[1], makeText(1, "", 0));
        QCOMPARE(r.back(), makeText(16, "", 0));
        // Blank again: nothing, the keys are blank.
        lcd_reset_all();
        QVERIFY(host.take().empty());
    }

    // The same legend twice sends one record; a set flash makes the next
    // legend go out again, inverted; the cache (not only the platform)
    // holds back repeats, and a forced legend passes it.
    void repeatsFlashAndForce()
    {
        RecordingHost host;
        start(host);
        lcd_set_legend("CAM", "1", nullptr, 3, 0);
        lcd_set_legend("CAM", "1", nullptr, 3, 0);
        QCOMPARE(host.take(), (std::vector<QByteArray>{makeText(3, "CAM\n1", 0)}));

        lcd_set_flash(3, 1);
        QVERIFY(host.take().empty());
        lcd_set_legend("CAM", "1", nullptr, 3, 0);
        lcd_set_legend("CAM", "1", nullptr, 3, 0);
        QCOMPARE(host.take(), (std::vector<QByteArray>{makeText(3, "CAM\n1", 14)}));
        lcd_set_flash(3, 0);
        lcd_set_legend("CAM", "1", nullptr, 3, 0);
        QCOMPARE(host.take(), (std::vector<QByteArray>{makeText(3, "CAM\n1", 0)}));

        // Drawn behind the cache's back: the cache still holds back the
        // repeat; a forced legend goes out and the next plain one does too.
        plat_button_legend(3, "X", "Y", nullptr, 0);
        host.take();
        lcd_set_legend("CAM", "1", nullptr, 3, 0);
        QVERIFY(host.take().empty());
        lcd_set_legend("CAM", "1", nullptr, 3, LCD_FORCE);
        lcd_set_legend("CAM", "1", nullptr, 3, 0);
        QCOMPARE(host.take(), (std::vector<QByteArray>{makeText(3, "CAM\n1", 0)}));
        // Forgotten: the next legend reaches the platform, which drops it
        // as the face shows it already.
        lcd_forget_all();
        lcd_set_legend("CAM", "1", nullptr, 3, 0);
        lcd_set_colour(3, 0);
        QVERIFY(host.take().empty());

        // A third line; a different one is a change.
        lcd_set_legend("LOCK ", "DEST ", " hld ", 4, 0);
        lcd_set_legend("LOCK ", "DEST ", " hld ", 4, 0);
        lcd_set_legend("LOCK ", "DEST ", "     ", 4, 0);
        QCOMPARE(host.take(), (std::vector<QByteArray>{makeText(4, "LOCK\nDEST\nhld", 0), makeText(4, "LOCK\nDEST", 0)}));
        // Ten characters as two lines; shorter texts end early.
        lcd_set_legend_text("PANELLOCK ", 5);
        lcd_set_legend_text("TX", 6);
        lcd_set_legend_onair("STUD1", 7, 1);
        lcd_set_legend_onair("STUD1", 7, 0);
        QCOMPARE(host.take(), (std::vector<QByteArray>{makeText(5, "PANEL\nLOCK", 0), makeText(6, "TX", 0),
                                                       makeText(7, "STUD1\nONAIR", 0), makeText(7, "STUD1", 0)}));
    }

    void numberFormats_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QByteArray>("line");

        QTest::newRow("7") << 7 << 0 << QByteArray("A007E");
        QTest::newRow("1234") << 1234 << 0 << QByteArray("A1234");
        QTest::newRow("-7") << -7 << 0 << QByteArray("-007E");
        QTest::newRow("-1234") << -1234 << 0 << QByteArray("-1234");
        QTest::newRow("beyond four digits") << 123456 << 0 << QByteArray("A9999");
        QTest::newRow("5 %") << 5 << int(LCD_PERCENT) << QByteArray("A  5%");
        QTest::newRow("42 %") << 42 << int(LCD_PERCENT) << QByteArray("A 42%");
        QTest::newRow("100 %") << 100 << int(LCD_PERCENT) << QByteArray("A100%");
        QTest::newRow("wide 7") << 7 << int(LCD_NUMBER_WIDE) << QByteArray("A  7 ");
        QTest::newRow("wide 123") << 123 << int(LCD_NUMBER_WIDE) << QByteArray("A123 ");
        QTest::newRow("wide 12345") << 12345 << int(LCD_NUMBER_WIDE) << QByteArray("A1234");
    }

    // The number replaces the last line given, keeping the first character
    // (and, with three digits, the fifth).
    void numberFormats()
    {
        QFETCH(int, number);
        QFETCH(int, flags);
        QFETCH(QByteArray, line);
        RecordingHost host;
        start(host);
        lcd_set_number_legend("Level", "ABCDE", nullptr, 2, number, uint32_t(flags));
        QCOMPARE(shownLine(2, 0), QByteArray("Level"));
        QCOMPARE(shownLine(2, 1), line);
        QCOMPARE(host.take(), (std::vector<QByteArray>{makeText(2, "Level\n" + line.trimmed(), 0)}));

        lcd_set_number_legend("Level", "ABCDE", "ABCDE", 2, number, uint32_t(flags));
        QCOMPARE(shownLine(2, 1), QByteArray("ABCDE"));
        QCOMPARE(shownLine(2, 2), line);
    }

    void timeLegends_data()
    {
        QTest::addColumn<uint>("count");
        QTest::addColumn<uint>("divisor");
        QTest::addColumn<QByteArray>("time");

        QTest::newRow("no time") << 65535u << 25u << QByteArray("--:--");
        QTest::newRow("250 / 25") << 250u << 25u << QByteArray("10:00");
        QTest::newRow("divisor 0 is 25") << 250u << 0u << QByteArray("10:00");
        QTest::newRow("seconds and frames") << 37u << 25u << QByteArray("01:12");
        QTest::newRow("minutes from 100 s") << 3000u << 25u << QByteArray("02:00");
        QTest::newRow("99 s") << 2499u << 25u << QByteArray("99:24");
        QTest::newRow("no time with divisor 1") << 65535u << 1u << QByteArray("--:--");
    }

    void timeLegends()
    {
        QFETCH(uint, count);
        QFETCH(uint, divisor);
        QFETCH(QByteArray, time);
        RecordingHost host;
        start(host);
        lcd_set_time_legend("VTR 1", 9, count, divisor);
        QCOMPARE(shownLine(9, 0), QByteArray("VTR 1"));
        QCOMPARE(shownLine(9, 1), time);
    }

    void timecode()
    {
        RecordingHost host;
        start(host);
        const uint8_t tc[4] = {0x12, 0x34, 0x56, 0x07};
        lcd_set_timecode_legend(10, tc);
        const uint8_t bad[4] = {0x1A, 0x00, 0xF0, 0x24};
        lcd_set_timecode_legend(11, bad);
        QCOMPARE(host.take(), (std::vector<QByteArray>{makeText(10, "12:34\n56:07", 0), makeText(11, "1-:00\n-0:24", 0)}));
    }

    // Pictures, colours and blank keys are sent when they change; a legend
    // after a picture (and the other way round) is a change.
    void graphicsColoursAndBlanks()
    {
        RecordingHost host;
        start(host);
        lcd_set_graphic(1, LCD_GRAPHIC_UP);
        lcd_set_graphic(1, LCD_GRAPHIC_UP);
        lcd_set_graphic(1, LCD_GRAPHIC_DOWN);
        lcd_set_legend_text("SRC 1", 1);
        lcd_set_graphic(1, LCD_GRAPHIC_DOWN);
        QCOMPARE(host.take(), (std::vector<QByteArray>{makeButtonImage(1, 0), makeButtonImage(1, 1),
                                                       makeText(1, "SRC 1", 0), makeButtonImage(1, 1)}));

        lcd_set_colour(2, 0x33);
        lcd_set_colour(2, 0x33);
        lcd_set_colour(2, 0xCC);
        QCOMPARE(host.take(), (std::vector<QByteArray>{makeColor(2, 40, 255, 40), makeColor(2, 255, 10, 10)}));

        lcd_set_legend_text("TX", 2);
        lcd_blank_key(2);
        lcd_blank_key(2);
        QCOMPARE(host.take(), (std::vector<QByteArray>{makeText(2, "TX", 0), makeText(2, "", 0)}));

        // Every key one colour, none flashing any more.
        lcd_set_flash(5, 1);
        lcd_all_keys_colour(0xCC);
        const std::vector<QByteArray> all = host.take();
        QCOMPARE(int(all.size()), 31); // key 2 is red already
        LcdShown s;
        QVERIFY(lcd_shown(5, &s));
        QCOMPARE(s.extra, 0u);
        QCOMPARE(s.colour, 0xCC);
        lcd_reset_all();
        QVERIFY(lcd_shown(5, &s));
        QCOMPARE(s.colour, 0);
        QCOMPARE(int(s.kind), int(LCD_KIND_BLANK));
    }

    // Programming errors are refused with the failed check printed as an
    // assertion prints it; nothing is sent and the process goes on.
    void refusals()
    {
        RecordingHost host;
        start(host);
        StdoutCapture out;
        lcd_set_legend("A", "B", nullptr, 0, 0);
        lcd_set_colour(33, 1);
        lcd_set_legend(nullptr, "B", nullptr, 1, 0);
        lcd_set_number_legend("A", nullptr, nullptr, 1, 5, 0);
        lcd_set_graphic(-4, 0);
        lcd_blank_key(40);
        const QByteArray text = out.text();
        QVERIFY(host.take().empty());
        QVERIFY2(text.contains("Assertion failed: button > 0, file ..\\panels\\common\\lcd_button, line "), text.constData());
        QVERIFY(text.contains("Assertion failed: button <= lcd_keysTotal, file ..\\panels\\common\\lcd_button"));
        QVERIFY(text.contains("Assertion failed: legend1 != NULL"));
        QVERIFY(text.contains("Assertion failed: legend2 != NULL"));
        QCOMPARE(text.count("Assertion failed"), 6);

        // Without a product there are no keys at all.
        prod_select(PROD_NONE);
        lcd_init();
        QCOMPARE(lcd_keys_total(), 0);
        QVERIFY(host.take().empty());
    }
};

QTEST_GUILESS_MAIN(TestLcdButton)
#include "tst_lcd_button.moc"
