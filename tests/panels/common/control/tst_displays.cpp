// The text displays of the menu models: fitting a text into eight
// characters, what each display type shows in the panel states that
// change it, and when the displays are drawn.

#include "control/displays.h"
#include "legend_harness.h"

#include <QTest>

using namespace legendharness;

namespace {

// What window 0 was last sent: its text, "" when it was cleared, "-"
// when nothing was sent.
QByteArray windowText(const std::vector<QByteArray> &records, int window)
{
    QByteArray text = "-";
    for (const QByteArray &r : records) {
        buttondriver::Record rec;
        if (buttondriver::parseRecord(r, &rec) == buttondriver::ParseResult::Ok
            && rec.type == buttondriver::TYPE_TEXT && rec.id == buttondriver::DISPLAY_ID_BASE + window)
            text = rec.text;
    }
    return text;
}

} // namespace

class TestDisplays : public QObject
{
    Q_OBJECT

private slots:
    void fitting_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("out");

        QTest::newRow("padded") << QByteArray("MON 1") << QByteArray("MON 1   ");
        QTest::newRow("leading blanks") << QByteArray("   CAM 1") << QByteArray("CAM 1   ");
        QTest::newRow("inner runs") << QByteArray("A  B    C") << QByteArray("A B C   ");
        QTest::newRow("trailing run") << QByteArray("TX    ") << QByteArray("TX      ");
        QTest::newRow("exactly eight") << QByteArray("ABCD EFG") << QByteArray("ABCD EFG");
        QTest::newRow("squeezed to eight") << QByteArray("ABCD   EFG") << QByteArray("ABCD EFG");
        QTest::newRow("too long: blanks out") << QByteArray("AB CD EF G") << QByteArray("ABCDEFG ");
        QTest::newRow("too long: cut") << QByteArray("SATELLITE 12") << QByteArray("SATELLIT");
        QTest::newRow("number text") << QByteArray("O/PUT 001 ") << QByteArray("O/PUT001");
        QTest::newRow("empty") << QByteArray("") << QByteArray("        ");
        QTest::newRow("only blanks") << QByteArray("      ") << QByteArray("        ");
        QTest::newRow("very long") << QByteArray(300, 'x') << QByteArray("xxxxxxxx");
    }

    void fitting()
    {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, out);
        char fitted[DSP_WIDTH + 1];
        dsp_fit(in.constData(), fitted);
        QCOMPARE(QByteArray(fitted), out);
        dsp_fit(nullptr, fitted);
        QCOMPARE(QByteArray(fitted), QByteArray("        "));
    }

    void displayTypes_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("field");
        QTest::addColumn<int>("levels");
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<QByteArray>("text");

        QTest::newRow("1 selected destination") << 1 << 0 << 0 << QByteArray("dest=4") << QByteArray("REC     ");
        QTest::newRow("1 numbers") << 1 << 0 << 0 << QByteArray("numbers") << QByteArray("O/PUT001");
        QTest::newRow("1 no such subpanel") << 1 << 8 << 0 << QByteArray() << QByteArray();
        QTest::newRow("2 destination text") << 2 << 0 << 0 << QByteArray("destext=TX_2") << QByteArray("TX 2    ");
        QTest::newRow("2 failed name") << 2 << 0 << 0 << QByteArray("destext=TX desterror") << QByteArray("Name??? ");
        QTest::newRow("3 routed source") << 3 << 0 << 0 << QByteArray("xpt=V:1:8") << QByteArray("SATELLIT");
        QTest::newRow("3 unknown") << 3 << 0 << 0 << QByteArray() << QByteArray();
        QTest::newRow("3 another subpanel") << 3 << 1 << 0 << QByteArray("xpt=V:1:8") << QByteArray();
        QTest::newRow("4 preset text") << 4 << 0 << 0 << QByteArray("text=VTR1") << QByteArray("VTR1    ");
        QTest::newRow("4 take error") << 4 << 0 << 0 << QByteArray("text=VTR1 takeerror") << QByteArray("Name??? ");
        QTest::newRow("5 preset source") << 5 << 0 << 0 << QByteArray("preset=3") << QByteArray("VTR 1   ");
        QTest::newRow("5 none") << 5 << 0 << 0 << QByteArray() << QByteArray();
        QTest::newRow("6 destination on L") << 6 << 1 << 1 << QByteArray("xpt=V:2:5") << QByteArray("GFX     ");
        QTest::newRow("6 L not selected") << 6 << 1 << 2 << QByteArray("xpt=A:2:5") << QByteArray();
        QTest::newRow("6 L selected") << 6 << 1 << 2 << QByteArray("mask=3 xpt=A:2:6") << QByteArray("BARS    ");
        QTest::newRow("6 no destination") << 6 << 9999 << 1 << QByteArray() << QByteArray();
        QTest::newRow("7 on L") << 7 << 0 << 2 << QByteArray("xpt=V:1:3 xpt=A:1:4") << QByteArray("VTR 2   ");
        QTest::newRow("8 preset entry") << 8 << 0 << 0 << QByteArray("inpreset text=CA xpt=V:1:2")
                                        << QByteArray("CA      ");
        QTest::newRow("8 take error") << 8 << 0 << 0 << QByteArray("takeerror xpt=V:1:2") << QByteArray("Name??? ");
        QTest::newRow("8 routed source") << 8 << 0 << 0 << QByteArray("xpt=V:1:2") << QByteArray("CAM 2   ");
        QTest::newRow("9 destination entry") << 9 << 0 << 0 << QByteArray("indest destext=MO") << QByteArray("MO      ");
        QTest::newRow("9 failed name") << 9 << 0 << 0 << QByteArray("desterror") << QByteArray("Name??? ");
        QTest::newRow("9 selected") << 9 << 0 << 0 << QByteArray("dest=2") << QByteArray("MON 2   ");
        QTest::newRow("10 destination mode") << 10 << 0 << 0 << QByteArray("destmode destext=QC")
                                             << QByteArray("QC      ");
        QTest::newRow("10 failed name") << 10 << 0 << 0 << QByteArray("desterror text=X") << QByteArray("Name??? ");
        QTest::newRow("10 preset text") << 10 << 0 << 0 << QByteArray("text=BARS") << QByteArray("BARS    ");
        QTest::newRow("11 blank") << 11 << 0 << 0 << QByteArray("dest=2") << QByteArray();
        QTest::newRow("0 blank") << 0 << 0 << 0 << QByteArray("dest=2") << QByteArray();
    }

    // Display 0 of an SK2000A with the type, field and levels given.
    void displayTypes()
    {
        QFETCH(int, type);
        QFETCH(int, field);
        QFETCH(int, levels);
        QFETCH(QByteArray, state);
        QFETCH(QByteArray, text);
        RecordingHost host;
        QVERIFY(startPanel("SK2000A", NAMES));
        PtDisplay *d = &panel_tables()->displays[0];
        d->type = uint16_t(type);
        d->dest = uint16_t(field);
        d->level = uint16_t(levels);
        d->fixed_dest = PT_NONE;
        QVERIFY(setState(state));
        // Something on the window, so that a blank display shows as cleared.
        plat_display_text(0, "MARKER");
        host.take();
        dsp_redraw(0);
        QCOMPARE(windowText(host.take(), 0), text);
        // Shown once: the same text is not sent again.
        dsp_redraw(0);
        QVERIFY(host.take().empty());
        // The selected destination becomes the display's fixed destination.
        if (type == 1 && field == 0)
            QCOMPARE(d->fixed_dest, uint32_t(ctl_subpanel(0)->dest));
    }

    // The own text line is set for the display and cut to 15 characters
    // before it is fitted.
    void ownText()
    {
        RecordingHost host;
        QVERIFY(startPanel("SK2000A", NAMES));
        PtDisplay *d = &panel_tables()->displays[2];
        d->type = DSP_OWN_TEXT;
        dsp_set_own_text(2, "  ON   AIR   NOW   !");
        host.take();
        dsp_redraw(2);
        QCOMPARE(windowText(host.take(), 2), QByteArray("ONAIRNO "));
        dsp_set_own_text(2, "");
        dsp_redraw(2);
        QCOMPARE(windowText(host.take(), 2), QByteArray());
        // Beyond the model's displays nothing is drawn.
        panel_tables()->displays[9].type = DSP_OWN_TEXT;
        dsp_set_own_text(9, "HIDDEN");
        dsp_redraw(9);
        dsp_set_own_text(-1, "X");
        QVERIFY(host.take().empty());
    }

    // The displays are redrawn after the first key of a full refresh, on
    // the lamp-key models only; the comms texts give way to them.
    void drawnWithTheFirstKeyOfAFullRefresh()
    {
        RecordingHost host;
        const QByteArray displays = "obj KnownDisplays() { obj Display(1) { disDest=1 disType=1 }"
                                    " obj Display(3) { disDest=1 disLvl=1 disType=3 } }\n";
        QVERIFY(startPanel("SK2000A", NAMES + displays));
        QVERIFY(setState("xpt=V:1:6"));
        host.take();
        redraw(2, true);
        redraw(1, false);
        QCOMPARE(windowText(host.take(), 0), QByteArray("-"));
        redraw(1, true);
        const std::vector<QByteArray> r = host.take();
        QCOMPARE(windowText(r, 0), QByteArray("MON 1   "));
        QCOMPARE(windowText(r, 2), QByteArray("BARS    "));
        // Display index 1 of the SK2000A is always type 10: the preset text,
        // empty, so the version text the comms display left is cleared.
        QCOMPARE(windowText(r, 1), QByteArray());

        // An LCD-key model has no display windows.
        QVERIFY(startPanel("SK1400A", NAMES + displays));
        host.take();
        redraw(1, true);
        QCOMPARE(windowText(host.take(), 0), QByteArray("-"));
    }
};

QTEST_GUILESS_MAIN(TestDisplays)
#include "tst_displays.moc"
