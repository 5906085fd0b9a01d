// Lamps, button colours, pictures, legends and display windows: each call
// that shows something sends exactly one record, repeats send nothing.

#include "bd_records.h"
#include "panels_main.h"
#include "plat.h"
#include "product.h"
#include "recording_host.h"

#include <QRegularExpression>
#include <QTest>

using namespace buttondriver;

namespace {

int productWithCode(int code)
{
    for (int i = 0; i < PROD_COUNT; ++i)
        if (prod_entry(i)->code == code)
            return i;
    return PROD_NONE;
}

QByteArray colour(int id, int r, int g, int b)
{
    return makeColor(id, uint8_t(r), uint8_t(g), uint8_t(b));
}

} // namespace

class TestLedHw : public QObject
{
    Q_OBJECT

private slots:
    void lampColoursByProduct_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("lamp");
        QTest::addColumn<QByteArray>("on");
        QTest::addColumn<QByteArray>("off");

        // Code 34: red/grey below 12, white above.
        QTest::newRow("34 lamp 0") << 34 << 0 << colour(0, 255, 0, 0) << colour(0, 200, 200, 200);
        QTest::newRow("34 lamp 11") << 34 << 11 << colour(11, 255, 0, 0) << colour(11, 200, 200, 200);
        QTest::newRow("34 lamp 12") << 34 << 12 << colour(12, 255, 255, 255) << colour(12, 255, 255, 255);
        // Code 33: lamps 0..8 share their button with an extra lamp (off
        // here), 9..20 red/grey, 21 and above white.
        QTest::newRow("33 lamp 3") << 33 << 3 << colour(3, 0xFC, 0x0C, 0x0C) << colour(3, 0xCC, 0xCC, 0xCC);
        QTest::newRow("33 lamp 9") << 33 << 9 << colour(9, 255, 0, 0) << colour(9, 200, 200, 200);
        QTest::newRow("33 lamp 20") << 33 << 20 << colour(20, 255, 0, 0) << colour(20, 200, 200, 200);
        QTest::newRow("33 lamp 21") << 33 << 21 << colour(21, 255, 255, 255) << colour(21, 255, 255, 255);
        // Code 36: red/grey below 16 except the mixed lamp 9, white above.
        QTest::newRow("36 lamp 8") << 36 << 8 << colour(8, 255, 0, 0) << colour(8, 200, 200, 200);
        QTest::newRow("36 lamp 9") << 36 << 9 << colour(9, 0xFC, 0x0C, 0x0C) << colour(9, 0xCC, 0xCC, 0xCC);
        QTest::newRow("36 lamp 16") << 36 << 16 << colour(16, 255, 255, 255) << colour(16, 255, 255, 255);
        // Any other model: green/grey.
        QTest::newRow("24 lamp 5") << 24 << 5 << colour(5, 0, 255, 0) << colour(5, 200, 200, 200);
        QTest::newRow("24 lamp 255") << 24 << 255 << colour(255, 0, 255, 0) << colour(255, 200, 200, 200);
    }

    void lampColoursByProduct()
    {
        QFETCH(int, code);
        QFETCH(int, lamp);
        QFETCH(QByteArray, on);
        QFETCH(QByteArray, off);
        RecordingHost host;
        prod_select(productWithCode(code));
        plat_led_set(lamp, 1, 0);
        plat_led_set(lamp, 1, 0); // same value: nothing
        plat_led_set(lamp, 0, 0);
        QCOMPARE(host.take(), (std::vector<QByteArray>{on, off}));
        QCOMPARE(host.batches, (std::vector<size_t>{1, 1})); // one record per batch
    }

    void flashingMixedAndOverrides()
    {
        RecordingHost host;
        // Other models flash: green/grey every 300 ms.
        prod_select(productWithCode(31));
        plat_led_set(40, 1, 1);
        plat_led_set(40, 1, 0);
        plat_led_set(40, 0, 1); // flashing but off: plain grey
        plat_led_set(40, 0, 0); // the same colour again, but a new value: sent
        QCOMPARE(host.take(),
                 (std::vector<QByteArray>{makeColor2(40, 0, 255, 0, 300, 200, 200, 200, 300),
                                          colour(40, 0, 255, 0), colour(40, 200, 200, 200),
                                          colour(40, 200, 200, 200)}));

        // Code 36: the extra lamp shows in lamp 9, green in the low nibbles.
        prod_select(productWithCode(36));
        plat_led_set_extra(8, 1);
        plat_led_set_extra(8, 1); // unchanged: nothing
        plat_led_set(9, 1, 0);
        plat_led_set_extra(8, 0);
        plat_led_set(9, 0, 0);
        QCOMPARE(host.take(), (std::vector<QByteArray>{colour(9, 0xC0, 0xCF, 0xC0), colour(9, 0xF0, 0x0F, 0x00),
                                                       colour(9, 0xFC, 0x0C, 0x0C), colour(9, 0xCC, 0xCC, 0xCC)}));

        // Overrides force a lamp on for codes 34 (below 12) and 33 (to 20).
        prod_select(productWithCode(34));
        plat_led_set_override(4, 1); // lamp 5
        plat_led_set_override(4, 0);
        plat_led_set_override(11, 1); // lamp 12: white anyway
        QCOMPARE(host.take(), (std::vector<QByteArray>{colour(5, 255, 0, 0), colour(5, 200, 200, 200),
                                                       colour(12, 255, 255, 255)}));
        plat_led_set_override(11, 0);
        host.take();

        // Out of range: a critical log, nothing sent.
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^led key out of range 256"));
        plat_led_set(256, 1, 0);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^led key out of range -1"));
        plat_led_set(-1, 1, 0);
        plat_led_set_extra(300, 1);
        plat_led_set_override(-5, 1);
        QVERIFY(host.take().empty());
    }

    void allLampsOff()
    {
        RecordingHost host;
        prod_select(productWithCode(24));
        plat_led_set(1, 1, 0);
        plat_led_set(77, 1, 0);
        host.take();
        plat_led_all_off();
        QCOMPARE(host.take(), (std::vector<QByteArray>{colour(1, 200, 200, 200), colour(77, 200, 200, 200)}));
        plat_led_all_off();
        QVERIFY(host.take().empty());
    }

    void paletteAndButtonColour()
    {
        RecordingHost host;
        uint8_t rgb[3];
        plat_palette(204, rgb);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(rgb), 3), QByteArray("\xff\x0a\x0a", 3));
        plat_palette(2, rgb); // not defined: magenta
        QCOMPARE(QByteArray(reinterpret_cast<char *>(rgb), 3), QByteArray("\xff\x00\xff", 3));
        plat_palette(255, rgb);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(rgb), 3), QByteArray("\xc8\x78\x00", 3));

        plat_button_colour(3, 51);
        plat_button_colour(3, 51);
        plat_button_colour(3, 0);
        QCOMPARE(host.take(), (std::vector<QByteArray>{colour(3, 40, 255, 40), colour(3, 0, 0, 0)}));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^button out of range 256"));
        plat_button_colour(256, 1);
        QVERIFY(host.take().empty());
    }

    void legendsAndPictures()
    {
        RecordingHost host;
        plat_button_legend(5, "LOCK ", "DEST ", " hld ", 0x2);
        plat_button_legend(5, "LOCK ", "DEST ", " hld ", 0x2); // unchanged
        plat_button_legend(5, "LOCK ", "DEST ", " hld ", 0x3); // attribute changed
        plat_button_legend(5, "TAKE ", "     ", nullptr, 0);    // empty middle line dropped
        plat_button_legend(5, "A    ", "     ", "  B  ", 0);    // kept before a third line
        plat_button_legend(5, "     ", "XY   ", nullptr, 0x0f); // only the low 3 bits count
        // Lines longer than five characters are cut.
        plat_button_legend(6, "ABCDEFGH", "IJKLMNOP", "", 0);
        QCOMPARE(host.take(), (std::vector<QByteArray>{
                                  makeText(5, "LOCK\nDEST\nhld", 4), makeText(5, "LOCK\nDEST\nhld", 6),
                                  makeText(5, "TAKE", 0), makeText(5, "A\n\nB", 0),
                                  makeText(5, "\nXY", 14), makeText(6, "ABCDE\nIJKLM", 0)}));

        // A picture is sent once; a legend in between makes it due again,
        // and the picture makes the same legend due again.
        plat_button_image(5, 3);
        plat_button_image(5, 3);
        plat_button_legend(5, "X", nullptr, nullptr, 0);
        plat_button_image(5, 3);
        plat_button_legend(5, "X", nullptr, nullptr, 0);
        QCOMPARE(host.take(), (std::vector<QByteArray>{makeButtonImage(5, 3), makeText(5, "X", 0),
                                                       makeButtonImage(5, 3), makeText(5, "X", 0)}));
    }

    void displayWindows()
    {
        RecordingHost host;
        plat_display_text(2, "No Comms");
        plat_display_text(2, "No Comms"); // not sent again
        plat_display_text(2, "Comms OK");
        plat_display_clear(2);
        plat_display_clear(2); // already clear
        QCOMPARE(host.take(), (std::vector<QByteArray>{makeText(1002, "No Comms", 0), makeText(1002, "Comms OK", 0),
                                                       makeText(1002, "", 0)}));

        // A text longer than a window holds is sent every time.
        plat_display_text(3, "0123456789");
        plat_display_text(3, "0123456789");
        QCOMPARE(host.take().size(), size_t(2));

        // Window 255 reaches all ten and is not remembered.
        plat_display_text(255, "ALL");
        std::vector<QByteArray> all = host.take();
        QCOMPARE(all.size(), size_t(10));
        for (int w = 0; w < 10; ++w)
            QCOMPARE(all[size_t(w)], makeText(1000 + w, "ALL", 0));
        plat_display_text(4, "ALL");
        QCOMPARE(host.take().size(), size_t(1));

        // Bad window numbers: a text to the host log, nothing sent.
        plat_display_text(12, "X");
        plat_display_text(-1, "X");
        plat_display_clear(10);
        QVERIFY(host.take().empty());
        QCOMPARE(host.texts.size(), 2);
        QVERIFY(host.texts.at(0).startsWith(QStringLiteral("invalid window index 12 (")));
        QVERIFY(host.texts.at(0).endsWith(QStringLiteral(")\n")));
    }

    // Starting the output: what the face shows is unknown, so the first
    // lamp state, colour and legend of each button go out even when they
    // equal what was sent before; after that repeats are dropped again.
    void startedOutputSendsEverythingOnce()
    {
        RecordingHost host;
        prod_select(productWithCode(31));
        plat_led_set(7, 0, 0);
        plat_button_colour(8, 0);
        plat_button_legend(8, "", "", nullptr, 0);
        host.take();
        QCOMPARE(plat_buttons_start(), 0);
        plat_led_set(7, 0, 0);
        plat_led_set(7, 0, 0);
        plat_button_colour(8, 0);
        plat_button_colour(8, 0);
        plat_button_legend(8, "", "", nullptr, 0);
        plat_button_legend(8, "", "", nullptr, 0);
        QCOMPARE(host.take(), (std::vector<QByteArray>{colour(7, 200, 200, 200), colour(8, 0, 0, 0),
                                                       makeText(8, "", 0)}));
        // Lamps start off: switching all off sends nothing.
        plat_led_all_off();
        QVERIFY(host.take().empty());
    }

    void buzzerAndNetworkSettings()
    {
        RecordingHost host;
        plat_buzzer(1);
        plat_buzzer(0);
        QCOMPARE(host.states, (std::vector<int>{16, 17}));
        // The address in force is the settings' one; without saved
        // settings the mask and gateway are left as they were.
        uint8_t ip[4] = {9, 9, 9, 9};
        plat_net_get_ip(ip);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(ip), 4),
                 QByteArray(reinterpret_cast<const char *>(panels_settings()->ip_address), 4));
        uint8_t mask[4] = {9, 9, 9, 9};
        plat_net_get_mask(mask);
        QCOMPARE(int(mask[0]), 9);
        QCOMPARE(plat_link_mode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestLedHw)
#include "tst_led_hw.moc"
