// The key scan, driven tick by tick with the quarter-second flag raised on
// chosen ticks, the way the firmware thread's stopwatch raises it.

#include "key_queue.h"
#include "panels_main.h"
#include "plat.h"

#include <QTest>

namespace {

struct Event {
    int tick;
    char kind;
    int key;
    bool operator==(const Event &o) const { return tick == o.tick && kind == o.kind && key == o.key; }
};

// One key script: which keys go down and up on which tick.
struct Step {
    int tick;
    int key;
    bool down;
};

// Runs the scan for `ticks` ticks of 10 ms; the quarter-second flag is
// raised every 25 ticks starting at tick `firstMark`. `functions` gives
// (key, function code) pairs.
std::vector<Event> run(const std::vector<Step> &script, int ticks, int firstMark,
                       const std::vector<std::pair<int, int>> &functions = {})
{
    plat_keys_clear();
    kq_clear();
    for (const auto &f : functions)
        plat_key_set_function(uint8_t(f.first), uint8_t(f.second), 0);
    panels_set_quarter_flag(0);
    std::vector<Event> out;
    for (int t = 0; t < ticks; ++t) {
        for (const Step &s : script)
            if (s.tick == t)
                plat_key_states()[s.key] = s.down ? 1 : 0;
        if (t >= firstMark && (t - firstMark) % 25 == 0)
            panels_set_quarter_flag(1);
        plat_key_scan();
        KeyEvent ev;
        while (kq_get(&ev))
            out.push_back(Event{t, char(ev.kind), ev.key});
    }
    return out;
}

std::vector<Event> ofKind(const std::vector<Event> &evs, char kind)
{
    std::vector<Event> r;
    for (const Event &e : evs)
        if (e.kind == kind)
            r.push_back(e);
    return r;
}

// How QCOMPARE prints an event.
char *toString(const Event &e)
{
    return qstrdup(QByteArray::number(e.tick).append(' ').append(e.kind).append(' ')
                       .append(QByteArray::number(e.key)).constData());
}

} // namespace

class TestKeyScan : public QObject
{
    Q_OBJECT

private slots:
    // Function code 63 (source toggle): a press, repeats every 20 ms from
    // the third quarter-second mark on, a release.
    void heldKeyWithFunctionCodeRepeats()
    {
        // Wherever the stopwatch's marks fall relative to the press.
        for (int firstMark : {1, 10, 24}) {
            const std::vector<Event> evs =
                run({{0, 4, true}, {100, 4, false}}, 101, firstMark, {{4, 63}});
            QVERIFY(!evs.empty());
            QCOMPARE(evs.front(), (Event{0, 'P', 4}));
            QCOMPARE(evs.back(), (Event{100, 'R', 4}));
            QCOMPARE(ofKind(evs, 'P').size(), size_t(1));
            const std::vector<Event> reps = ofKind(evs, 'A');
            QVERIFY(reps.size() > 5);
            // The third mark after the press comes 500 to 750 ms after it;
            // repeats start at the tick after it, then every 20 ms.
            QCOMPARE(reps.front().tick, firstMark + 50 + 1);
            QVERIFY(reps.front().tick * 10 >= 500 && reps.front().tick * 10 <= 760);
            for (size_t i = 1; i < reps.size(); ++i)
                QCOMPARE(reps[i].tick - reps[i - 1].tick, 2);
            QCOMPARE(panels_press_timer(), uint8_t(20));
        }
    }

    // Function code 22 ("Enable"): no press, repeats after three marks, a
    // release. Code 0: a press, no repeat within a second, a release.
    void pressReportingDependsOnFunctionCode()
    {
        for (int code : {22, 0, 64}) {
            const std::vector<Event> evs =
                run({{0, 9, true}, {100, 9, false}}, 101, 5, {{9, code}});
            QCOMPARE(ofKind(evs, 'P').size(), size_t(code == 22 ? 0 : 1));
            QCOMPARE(ofKind(evs, 'R'), (std::vector<Event>{{100, 'R', 9}}));
            const std::vector<Event> reps = ofKind(evs, 'A');
            if (code == 0) {
                // Keys without a function code count one mark in eleven.
                QVERIFY(reps.empty());
            } else {
                QVERIFY(!reps.empty());
                QCOMPARE(reps.front().tick, 56);
            }
        }
    }

    void keysWithoutFunctionCodeRepeatAfterThirtyThreeMarks()
    {
        const std::vector<Event> evs = run({{0, 2, true}, {1000, 2, false}}, 1001, 10);
        const std::vector<Event> reps = ofKind(evs, 'A');
        QVERIFY(!reps.empty());
        // Three hold steps, each after eleven marks: the 33rd mark (tick
        // 10 + 32 * 25 = 810) brings the third step, repeats follow.
        QCOMPARE(reps.front().tick, 811);
        QCOMPARE(ofKind(evs, 'P'), (std::vector<Event>{{0, 'P', 2}}));
        QCOMPARE(ofKind(evs, 'R'), (std::vector<Event>{{1000, 'R', 2}}));
    }

    void oneKeyPerKindPerTick()
    {
        // Two keys released in one tick: two releases in consecutive ticks,
        // lower index first. Two keys pressed in one tick likewise.
        const std::vector<Event> evs =
            run({{0, 7, true}, {0, 3, true}, {10, 7, false}, {10, 3, false}}, 14, 100);
        const std::vector<Event> expected = {{0, 'P', 3}, {1, 'P', 7}, {10, 'R', 3}, {11, 'R', 7}};
        QCOMPARE(evs, expected);

        // A press and release inside one tick never reach the scan as keys;
        // a key that goes up and down again before its release is reported
        // is seen as pressed again.
        const std::vector<Event> again = run({{0, 1, true}, {5, 1, false}, {6, 1, true}, {9, 1, false}}, 12, 100);
        const std::vector<Event> expectedAgain = {{0, 'P', 1}, {5, 'R', 1}, {6, 'P', 1}, {9, 'R', 1}};
        QCOMPARE(again, expectedAgain);
    }

    void keyQueries()
    {
        plat_keys_clear();
        QCOMPARE(plat_key_first_pressed(), uint8_t(PLAT_NO_KEY));
        QCOMPARE(plat_key_first_held(), uint8_t(PLAT_NO_KEY));
        QCOMPARE(plat_key_first_released(), uint8_t(PLAT_NO_KEY));
        plat_key_set_function(20, 13, 6);
        plat_key_set_function(30, 13, 5);
        plat_key_states()[20] = 1;
        plat_key_states()[30] = 1;
        // Keys with a function code other than 63/64 are held at once.
        QCOMPARE(plat_key_first_held(), uint8_t(20));
        QVERIFY(plat_key_is_held(30));
        QVERIFY(!plat_key_is_held(31));
        QVERIFY(!plat_key_is_held(200));
        QCOMPARE(plat_key_find_held(13, 5), uint8_t(30));
        QCOMPARE(plat_key_find_held(13, 7), uint8_t(PLAT_NO_KEY));
        plat_key_clear_function(30);
        QCOMPARE(plat_key_find_held(13, 5), uint8_t(PLAT_NO_KEY));
        plat_key_states()[20] = 0;
        QCOMPARE(plat_key_first_released(), uint8_t(20));
        // Out-of-range keys are ignored.
        plat_key_set_function(200, 13, 1);
        plat_key_set_lamp_capable(200);
    }
};

QTEST_GUILESS_MAIN(TestKeyScan)
#include "tst_key_scan.moc"
