#include "recording_semantics.h"

#include "eahufbuf.h"
#include "echain.h"

#include <QTest>

#include <memory>
#include <vector>

static const QByteArray kHashLine = QByteArray(43, '#') + '\n';

class TestPcslParser : public QObject
{
    Q_OBJECT

private slots:
    void commentOnlyTextParsesClean()
    {
        RecordingSemantics sem;
        ParseRun run = parseText(kHashLine, &sem);
        QCOMPARE(run.result, 0);
        QCOMPARE(sem.endResult, 0);
        QVERIFY(sem.events.isEmpty());
        QCOMPARE(run.messages, QByteArray());
        QCOMPARE(sem.inits, 1);
        QCOMPARE(sem.starts, 1);

        // Empty text, comments of both kinds, white space of every kind.
        RecordingSemantics sem2;
        run = parseText("# one\n#! two\n three !#\n\t\v\f\r  \n#", &sem2);
        QCOMPARE(run.result, 0);
        QVERIFY(sem2.events.isEmpty());
    }

    void objectArgumentsAndNesting()
    {
        RecordingSemantics sem;
        ParseRun run = parseText(kHashLine +
                                 "obj KnownMenus() {\n"
                                 "  object Menu(12) {\n"
                                 "    menuName = \"Main menu\"\n"
                                 "    data Button(\"x y\") { bT = Source bV = -3 }\n"
                                 "  }\n"
                                 "}\n",
                                 &sem);
        QCOMPARE(run.result, 0);
        QCOMPARE(run.messages, QByteArray());
        const QStringList expected = {
            "begin KnownMenus(:20) depth 1",
            "begin Menu(12:11) depth 2",
            "prop Menu.menuName = Main menu",
            "begin Button(x y:12) depth 3",
            "prop Button.bT = Source",
            "prop Button.bV = -3",
            "end Button",
            "end Menu",
            "end KnownMenus",
        };
        QCOMPARE(sem.events, expected);
        QCOMPARE(sem.contextDepth(), 0);
        QCOMPARE(sem.valueDepth(), 0);
    }

    void objectNameWithoutParenthesis()
    {
        RecordingSemantics sem;
        ParseRun run = parseText("obj Menu 5 { a = 1 }", &sem);
        QCOMPARE(run.result, -1);
        QCOMPARE(sem.endResult, -1);
        QVERIFY2(run.messages.startsWith("Line 1: Syntax error (5) expecting '(' \n"), run.messages.constData());
        QVERIFY(run.messages.contains("Parser halting.\n"));
        // Nothing after the error reaches the property hook; the object
        // that was begun is ended.
        QVERIFY(!sem.events.join('|').contains("prop"));
        QCOMPARE(sem.events.first(), QStringLiteral("begin Menu(:20) depth 1"));
        QCOMPARE(sem.events.last(), QStringLiteral("end Menu"));
        QCOMPARE(sem.contextDepth(), 0);
    }

    void keywordsAreCaseSensitive()
    {
        for (const char *kw : {"obj", "object", "data"}) {
            RecordingSemantics sem;
            ParseRun run = parseText(QByteArray(kw) + " A(1) { k = 2 }", &sem);
            QCOMPARE(run.result, 0);
            QCOMPARE(sem.events, QStringList({"begin A(1:11) depth 1", "prop A.k = 2", "end A"}));
        }
        RecordingSemantics sem;
        ParseRun run = parseText("Obj A(1) { k = 2 }", &sem);
        QCOMPARE(run.result, -1);
        QVERIFY2(run.messages.startsWith("Line 1: Syntax error (A) expecting 'Unknown token' \n"),
                 run.messages.constData());
        QVERIFY(sem.events.isEmpty());

        // "begin" and "end" end the statements; the text must then end.
        RecordingSemantics sem2;
        run = parseText("a = 1\nbegin", &sem2);
        QCOMPARE(run.result, -1);
        QVERIFY(run.messages.startsWith("Line 2: Syntax error (begin) expecting 'End of file' \n"));
    }

    void seventhNestedObjectStaysInTheSixth()
    {
        QByteArray text;
        for (int i = 1; i <= 7; ++i)
            text += "obj L" + QByteArray::number(i) + "(" + QByteArray::number(i) + ") {\n";
        text += "inner = 7\n}\nafter7 = 6\n}\nafter6 = 5\n}}}}}\n";
        RecordingSemantics sem;
        ParseRun run = parseText(text, &sem);
        QCOMPARE(run.result, 0);
        QCOMPARE(run.messages,
                 QByteArray("Semantics::contextPush: Semantic error. Too many embedded contexts (6)\n"));
        QVERIFY(sem.events.contains("prop L6.inner = 7"));
        // The seventh's end closes nothing: the sixth is still open for
        // its own properties, and the fifth gets the fifth's.
        QVERIFY(sem.events.contains("prop L6.after7 = 6"));
        QVERIFY(sem.events.contains("prop L5.after6 = 5"));
        QCOMPARE(sem.events.count(QStringLiteral("end L6")), 2);
        QCOMPARE(sem.events.last(), QStringLiteral("end L1"));
        QCOMPARE(sem.contextDepth(), 0);
    }

    void lineNumbers()
    {
        // Line feeds in strings are kept but not counted; those in block
        // comments are. The error sits on the sixth line of the text, which
        // the parser calls line 5.
        RecordingSemantics sem;
        ParseRun run = parseText("a = \"one\ntwo\"\n#! x\ny\n !#\nb = )\n", &sem);
        QCOMPARE(run.result, -1);
        QVERIFY2(run.messages.startsWith("Line 5: Syntax error ()) expecting 'Unknown token' \n"),
                 run.messages.constData());
        QCOMPARE(sem.events, QStringList({"prop -.a = one\ntwo"}));
    }

    void haltingAfterTheFirstError()
    {
        RecordingSemantics sem;
        ParseRun run = parseText("obj A() {\n"
                                 "  obj B() {\n"
                                 "    x = )\n"
                                 "    y = 1\n"
                                 "  }\n"
                                 "  z = 2\n"
                                 "}\n",
                                 &sem);
        QCOMPARE(run.result, -1);
        QCOMPARE(sem.events, QStringList({"begin A(:20) depth 1", "begin B(:20) depth 2", "end B", "end A"}));
        const QByteArray expected =
            "Line 3: Syntax error ()) expecting 'Unknown token' \n"
            "Parser halting.\n"
            "Line 3: Syntax error ()) expecting '}' \n"
            "Parser halting.\n"
            "Line 3: Syntax error ()) expecting '}' \n"
            "Parser halting.\n"
            "Line 3: Syntax error ()) expecting 'End of file' \n";
        QCOMPARE(run.messages, expected);
        QCOMPARE(sem.endResult, -1);
    }

    void valuesAndScriptArguments()
    {
        RecordingSemantics sem;
        const char *const args[] = {"first", "second"};
        ParseRun run = parseText("a = $1 b = $2 c = $3 d = $0 e = &1F f = 0x2a g = @glob_1 h = -7 i = other\n"
                                 "j = $x\n",
                                 &sem, 2, args);
        QCOMPARE(run.result, 0);
        QCOMPARE(sem.events, QStringList({"prop -.a = first", "prop -.b = second", "prop -.c = ",
                                          "prop -.d = ", "prop -.e = &1F", "prop -.f = &2a",
                                          "prop -.g = @glob_1", "prop -.h = -7", "prop -.i = other",
                                          "prop -.j = "}));
        QCOMPARE(sem.lastValueType, int(PCSL_STRING));

        // Without arguments every "$n" is empty.
        RecordingSemantics sem2;
        run = parseText("a = $1", &sem2);
        QCOMPARE(sem2.events, QStringList({"prop -.a = "}));
    }

    void commandsAndCalls()
    {
        RecordingSemantics sem;
        QByteArray text;
        for (int i = 0; i < 40; ++i)
            text += "cmd reset(" + QByteArray::number(i) + ")\n";
        text += "cmd go()\ncmd say(\"hi\")\nf(a, 1, \"s\", &FF)\ng()\n";
        ParseRun run = parseText(text, &sem);
        QCOMPARE(run.result, 0);
        QCOMPARE(run.messages, QByteArray());
        QCOMPARE(sem.events.size(), 44);
        QCOMPARE(sem.events[39], QStringLiteral("cmd reset(39)"));
        QCOMPARE(sem.events[40], QStringLiteral("cmd go()"));
        QCOMPARE(sem.events[41], QStringLiteral("cmd say(hi)"));
        QCOMPARE(sem.events[42], QStringLiteral("call f(10:a,11:1,12:s,15:&FF)"));
        QCOMPARE(sem.events[43], QStringLiteral("call g()"));
        // Nothing piles up on the value stack.
        QCOMPARE(sem.valueDepth(), 0);

        // A call with more arguments than the value stack holds is cut
        // with a message, and parsing goes on.
        RecordingSemantics sem2;
        QByteArray many = "f(";
        for (int i = 0; i < 40; ++i)
            many += QByteArray(i ? "," : "") + QByteArray::number(i);
        run = parseText(many + ")\nk = 1\n", &sem2);
        QCOMPARE(run.result, 0);
        QVERIFY(run.messages.contains("Semantic error. Too many values (32)"));
        QCOMPARE(sem2.events.last(), QStringLiteral("prop -.k = 1"));

        // A call argument that is not a value.
        RecordingSemantics sem3;
        run = parseText("f(a,)", &sem3);
        QCOMPARE(run.result, -1);
        QVERIFY(run.messages.startsWith("Line 1: Syntax error ()) expecting 'Unknown token' \n"));
        QVERIFY(sem3.events.isEmpty());
    }

    void unexpectedCharactersAndLongLexemesEndTheText()
    {
        RecordingSemantics sem;
        ParseRun run = parseText("a = 1\nb = 2 ; c = 3\n", &sem);
        QCOMPARE(run.result, 0);
        QCOMPARE(run.messages, QByteArray("Line 2: Unexpected character ';(3b)'\n"));
        QCOMPARE(sem.events, QStringList({"prop -.a = 1", "prop -.b = 2"}));

        // Bytes above 127 are shown as such.
        RecordingSemantics sem2;
        run = parseText("a = 1 \xe9", &sem2);
        QCOMPARE(run.messages, QByteArray("Line 1: Unexpected character '\xe9(e9)'\n"));

        // 254 characters is the longest lexeme.
        RecordingSemantics sem3;
        run = parseText("a = \"" + QByteArray(254, 'x') + "\" b = 1", &sem3);
        QCOMPARE(run.result, 0);
        QCOMPARE(sem3.events.size(), 2);
        QCOMPARE(sem3.events[0].size(), int(strlen("prop -.a = ")) + 254);

        RecordingSemantics sem4;
        run = parseText(QByteArray(255, 'k') + " = 1\nb = 2", &sem4);
        QCOMPARE(run.result, 0);
        QCOMPARE(run.messages, QByteArray("Line 1: Token too long\n"));
        QVERIFY(sem4.events.isEmpty());

        // An unterminated string or block comment ends the text.
        RecordingSemantics sem5;
        run = parseText("a = 1 b = \"open", &sem5);
        QCOMPARE(run.result, -1);
        QCOMPARE(sem5.events, QStringList({"prop -.a = 1"}));
        RecordingSemantics sem6;
        run = parseText("a = 1 #! open", &sem6);
        QCOMPARE(run.result, 0);
    }

    void streamNotGood()
    {
        RecordingSemantics sem;
        EMemBuf mem;                        // no block attached
        Parser parser;
        parser.attach(&mem, &sem);
        StdoutCapture cap;
        QCOMPARE(parser.parse(), 1);
        QCOMPARE(cap.text(), QByteArray("stream is not good\n"));
        QCOMPARE(sem.inits, 0);
        QCOMPARE(sem.starts, 0);
    }

    void smallGetAreasReadTheSame()
    {
        // The lexer scans the stream's get area itself; through a stream
        // that hands out a few characters per refill every token, comment
        // and run of white space straddles refills, and the result must be
        // what the whole text in one block gives.
        const QByteArray texts[] = {
            kHashLine + "obj KnownMenus() {\n  object Menu(12) {\n    menuName = \"Main\nmenu\"\n"
                        "    data Button(\"x y\") { bT = Source bV = -3 h = &1F g = 0x2a }\n"
                        "  }\n#! block\n comment !# cmd Reset(4)\n  f(1, @glob_al, $1, x)\n}\n",
            "a = 1\n\n\n  b = 2 )",
            "obj A() { name = \"" + QByteArray(300, 'n') + "\" }",
            "obj A() { " + QByteArray(254, 'k') + " = 1 " + QByteArray(255, 'k') + " = 2 }",
            "obj A() { n = 12345 m = \"open string\n",
            "x = 1\n y = 2 ;",
            "# only a comment\n#",
        };
        const char *const args[] = {"arg"};
        for (const QByteArray &text : texts) {
            RecordingSemantics whole;
            const ParseRun expected = parseText(text, &whole, 1, args);
            // Huffman-code the text so that a decoder with a tiny output
            // buffer can feed it back.
            std::vector<char> sink(size_t(text.size()) * 2 + 64);
            EMemBuf out;
            out.setbuf(sink.data(), sink.size());
            out.open("w");
            char ein[10], eout[10];
            EAhufBuf enc(ein, sizeof ein, eout, sizeof eout, 0);
            enc.open(&out, "w");
            QCOMPARE(enc.sputn(text.constData(), size_t(text.size())), size_t(text.size()));
            QCOMPARE(enc.close(), 0);
            for (size_t room : {size_t(1), size_t(2), size_t(3), size_t(7)}) {
                EMemBuf src;
                src.setbuf(sink.data(), out.written());
                src.open("r");
                char din[5];
                std::vector<char> dout(room + 1);
                EAhufBuf dec(din, sizeof din, dout.data(), dout.size(), 1);
                dec.open(&src, "r");
                RecordingSemantics sem;
                Parser parser;
                parser.attach(&dec, &sem);
                StdoutCapture cap;
                const int r = parser.parse(1, args);
                const QByteArray messages = cap.text();
                QCOMPARE(r, expected.result);
                QCOMPARE(messages, expected.messages);
                QCOMPARE(sem.events, whole.events);
            }
        }
    }

    void parsesThroughTheDecompressionChain()
    {
        const QByteArray text = kHashLine + "obj Menu(1) {\n  menuName = \"A\"\n  x = $1\n}\n";
        auto enc = std::make_unique<EEncodeChain>();
        QByteArray coded(4096, '\0');
        long n = enc->compress(text.constData(), size_t(text.size()), coded.data(), size_t(coded.size()));
        QVERIFY(n > 0);
        auto dec = std::make_unique<EDecodeChain>();
        dec->open(coded.constData(), size_t(n));
        // A panel reads five bytes to see whether this is PCSL; the parser
        // goes on from there.
        char head[5];
        QCOMPARE(dec->stream()->sgetn(head, 5), size_t(5));
        QCOMPARE(QByteArray(head, 5), QByteArray("#####"));
        RecordingSemantics sem;
        Parser parser;
        parser.attach(dec->stream(), &sem);
        const char *const args[] = {"arg"};
        StdoutCapture cap;
        QCOMPARE(parser.parse(1, args), 0);
        QCOMPARE(cap.text(), QByteArray());
        QCOMPARE(sem.events, QStringList({"begin Menu(1:11) depth 1", "prop Menu.menuName = A",
                                          "prop Menu.x = arg", "end Menu"}));
        QCOMPARE(dec->close(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPcslParser)
#include "tst_pcsl_parser.moc"
