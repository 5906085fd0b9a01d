#include "recording_semantics.h"

#include <QTest>

class TestPcslSemantics : public QObject
{
    Q_OBJECT

private slots:
    void valueStackAndSlots()
    {
        RecordingSemantics sem;
        sem.init();
        QCOMPARE(sem.popText(), static_cast<const char *>(nullptr));
        PcslToken t = {PCSL_IDENTIFIER, "key", 1};
        sem.pushValue(t);
        // Missing operator and value reach the hook as null.
        sem.assignmentComplete();
        QCOMPARE(sem.events, QStringList({"prop -.(null) (null) key"}));

        // Texts are copied at push, cut to 255 characters.
        QByteArray longText(400, 'v');
        PcslToken v = {PCSL_STRING, longText.constData(), 1};
        sem.pushValue(v);
        longText.fill('w');
        QCOMPARE(QByteArray(sem.popText()), QByteArray(255, 'v'));

        // Contexts: arg type and user word are set at push.
        QVERIFY(sem.contextPush("Menu", "3", PCSL_NUMBER));
        SemContext *c = sem.currentContext();
        QCOMPARE(QByteArray(c->name), QByteArray("Menu"));
        QCOMPARE(c->arg_type, int(PCSL_NUMBER));
        QCOMPARE(c->self, c);
        QCOMPARE(c->user, 0u);
        sem.contextPop();
        QVERIFY(sem.currentContext() == nullptr);
        sem.contextPop();                   // popping nothing is harmless
        QCOMPARE(sem.contextDepth(), 0);
    }

    void symbolTable()
    {
        Semantics sem;
        SemNamed a{"ab"}, b{"ba"}, c{"c\x01"}, d{"\xff\xfe"}, e{"zz"};
        QCOMPARE(sem.symbolInsert(&a), -2);          // no table
        QVERIFY(sem.symbolFind("ab") == nullptr);

        SemNamed *table[5] = {};
        sem.symbolTableAttach(table, 5);
        QCOMPARE(sem.symbolInsert(nullptr), -1);
        // "ab" and "ba" have the same sum (195 % 5 = 0); "c\x01" too (100).
        QCOMPARE(sem.symbolInsert(&a), 0);
        QCOMPARE(sem.symbolInsert(&b), 1);
        QCOMPARE(sem.symbolInsert(&c), 2);
        // Characters above 127 count as negative: the slot stays in range.
        const int di = sem.symbolInsert(&d);
        QCOMPARE(di, 3);                             // (-1 - 2) mod 5 = 2, taken: next
        QCOMPARE(sem.symbolFind("ab"), &a);
        QCOMPARE(sem.symbolFind("ba"), &b);
        QCOMPARE(sem.symbolFind("c\x01"), &c);
        QCOMPARE(sem.symbolFind("\xff\xfe"), &d);
        QVERIFY(sem.symbolFind("a") == nullptr);     // home slot empty
        QCOMPARE(sem.symbolInsert(&e), 4);           // 244 % 5 = 4
        // A full table: a name that is absent is searched once round.
        QVERIFY(sem.symbolFind("nothere") == nullptr);
        QCOMPARE(sem.symbolFind("zz"), &e);
    }
};

QTEST_GUILESS_MAIN(TestPcslSemantics)
#include "tst_pcsl_semantics.moc"
