#include "arch_archi.h"
#include "arch_archo.h"
#include "sample.h"

#include <QBuffer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using arch::Archi;
using arch::Archo;

static QByteArray written(const Archo &out)
{
    QByteArray bytes;
    return out.toXml(bytes) ? bytes : QByteArray("<not written>");
}

static bool parse(Archi &in, const QByteArray &xml)
{
    QBuffer buf;
    buf.setData(xml);
    buf.open(QIODevice::ReadOnly);
    return in.load(&buf);
}

static QByteArray doc(const QByteArray &body)
{
    return "<?xml version = '1.0'?>\n<!DOCTYPE arch SYSTEM 'arch'>\n<arch>" + body + "</arch>\n";
}

static void expectLog(QtMsgType type, const QString &pattern, int times = 1)
{
    for (int i = 0; i < times; ++i)
        QTest::ignoreMessage(type, QRegularExpression(pattern));
}

class TestArch : public QObject
{
    Q_OBJECT

private slots:
    void roundTripEveryTypeThroughFile();
    void writtenDocumentIsExact();
    void everyValueTypeWrittenExactly();
    void readingCases();
    void malformedAndDeepDocuments();
    void writingNeverMakesAnUnreadableFile();
};

void TestArch::roundTripEveryTypeThroughFile()
{
    Sample s;
    s.flag = true;
    s.i8 = std::numeric_limits<qint8>::min();
    s.u8 = std::numeric_limits<quint8>::max();
    s.i16 = std::numeric_limits<qint16>::min();
    s.u16 = std::numeric_limits<quint16>::max();
    s.i32 = std::numeric_limits<qint32>::min();
    s.u32 = std::numeric_limits<quint32>::max();
    s.i64 = std::numeric_limits<qint64>::min();
    s.u64 = std::numeric_limits<quint64>::max();
    s.d = 0.1 + 0.2; // needs 17 digits
    s.f = -0.0f;
    s.text = QStringLiteral("  <1> & \"A\" 'b'\tend\r\nline \u00e9\U0001F600 ");
    for (int i = 0; i < 256; ++i)
        s.bytes.append(char(i));
    s.image = QImage(5, 3, QImage::Format_ARGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            s.image.setPixel(x, y, qRgba(x * 50, y * 100, 7, 255 - x * 40));
    s.point = QPoint(-7, 1 << 30);
    s.pointF = QPointF(1234567.891, -2.5e-7);
    s.color = QColor(10, 20, 30, 40);
    for (const auto &r : arch::codec::paletteRoles)
        s.palette.setColor(r.role, QColor(int(r.role) * 10, 3, 4, 200));
    s.leaf.label = QStringLiteral(" \n "); // blanks only
    s.leaf.number = 42;
    for (int i = 0; i < 3; ++i)
        s.leaves.append(new Leaf(QStringLiteral("leaf %1").arg(i), i * 10));
    s.blobs = {{-5, "minus five"}, {9, QByteArray()}, {3, QByteArray("\0\1", 2)}};

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cfg.xml"));
    Archo out;
    out.root()->put("sample", s);
    QVERIFY(out.saveFile(path));
    Archi in;
    QVERIFY(in.loadFile(path));
    Sample r;
    in.root()->get("sample", r);

    QCOMPARE(r.flag, true);
    QCOMPARE(r.i8, s.i8);
    QCOMPARE(r.u8, s.u8);
    QCOMPARE(r.i16, s.i16);
    QCOMPARE(r.u16, s.u16);
    QCOMPARE(r.i32, s.i32);
    QCOMPARE(r.u32, s.u32);
    QCOMPARE(r.i64, s.i64);
    QCOMPARE(r.u64, s.u64);
    QCOMPARE(r.d, s.d);
    QCOMPARE(r.f, s.f);
    QVERIFY(std::signbit(r.f));
    QCOMPARE(r.text, s.text);
    QCOMPARE(r.bytes, s.bytes);
    QCOMPARE(r.image.convertToFormat(QImage::Format_ARGB32), s.image);
    QCOMPARE(r.point, s.point);
    QCOMPARE(r.pointF, s.pointF);
    QCOMPARE(r.color, s.color);
    for (const auto &role : arch::codec::paletteRoles)
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            QCOMPARE(r.palette.color(group, role.role), s.palette.color(role.role));
    QCOMPARE(r.leaf.label, s.leaf.label);
    QCOMPARE(r.leaf.number, 42);
    QCOMPARE(r.leaves.size(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(r.leaves.at(i)->label, s.leaves.at(i)->label);
    QCOMPARE(r.leaves.at(2)->number, 20);
    QCOMPARE(r.blobs, s.blobs);
}

void TestArch::writtenDocumentIsExact()
{
    Archo out;
    out.root()->put("count", 5)->put("name", QString())->put("scale", 0.5)->put("big", 1e6);
    out.root()->addChild("rack", QStringLiteral("the first rack"))->put("pos", QPoint(1, 2));
    out.root()->put("blobs", QMap<int, QByteArray>{{2, "b"}, {1, "a"}});
    QCOMPARE(written(out),
             QByteArray("<?xml version = '1.0'?>\n"
                        "<!DOCTYPE arch SYSTEM 'arch'>\n"
                        "<arch>\n"
                        " <count>5</count>\n"
                        " <name/>\n"
                        " <scale>0.5</scale>\n"
                        " <big>1e+06</big>\n"
                        " <rack>\n"
                        "  <!--the first rack-->\n"
                        "  <pos>\n"
                        "   <x>1</x>\n"
                        "   <y>2</y>\n"
                        "  </pos>\n"
                        " </rack>\n"
                        " <blobs>\n"
                        "  <e>\n"
                        "   <k>1</k>\n"
                        "   <v>YQ==</v>\n"
                        "  </e>\n"
                        "  <e>\n"
                        "   <k>2</k>\n"
                        "   <v>Yg==</v>\n"
                        "  </e>\n"
                        " </blobs>\n"
                        "</arch>\n"));
}

// One object holding every value type, a palette among them, written as
// the exact document the format defines: element names, palette role names
// and their order, every encoding. Only the picture's PNG bytes (the image
// library's own) are checked by decoding them.
void TestArch::everyValueTypeWrittenExactly()
{
    Sample s;
    s.flag = true;
    s.i8 = -8;
    s.u8 = 200;
    s.i16 = -1000;
    s.u16 = 60000;
    s.i32 = -70000;
    s.u32 = 4000000000u;
    s.i64 = -5;
    s.u64 = std::numeric_limits<quint64>::max();
    s.d = 0.25;
    s.f = 1.5f;
    s.text = QStringLiteral("a<b & c");
    s.bytes = QByteArray("\0\1AB", 4);
    s.image = QImage(2, 1, QImage::Format_ARGB32);
    s.image.setPixel(0, 0, qRgba(255, 0, 0, 255));
    s.image.setPixel(1, 0, qRgba(0, 0, 255, 128));
    s.point = QPoint(3, -4);
    s.pointF = QPointF(0.5, -2.25);
    s.color = QColor(10, 20, 30, 40);
    // Each role a colour of its own, from its Qt role value.
    for (int role : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16, 18, 19})
        s.palette.setColor(QPalette::ColorRole(role), QColor(role * 10 + 5, 100 + role, 200 - role, 255));
    s.leaf = Leaf(QStringLiteral("leaf"), 7);
    s.leaves.append(new Leaf(QStringLiteral("one"), 1));
    s.blobs = {{1, "a"}};

    Archo out;
    out.root()->put("sample", s);
    QByteArray doc = written(out);
    const qsizetype open = doc.indexOf("<image>"), close = doc.indexOf("</image>");
    QVERIFY(open > 0 && close > open);
    const QByteArray png = QByteArray::fromBase64(doc.mid(open + 7, close - open - 7));
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
    QCOMPARE(QImage::fromData(png).convertToFormat(QImage::Format_ARGB32), s.image);
    doc.replace(open + 7, close - open - 7, "@IMAGE@");

    QCOMPARE(doc, QByteArray(
        "<?xml version = '1.0'?>\n"
        "<!DOCTYPE arch SYSTEM 'arch'>\n"
        "<arch>\n"
        " <sample>\n"
        "  <flag>1</flag>\n"
        "  <i8>-8</i8>\n"
        "  <u8>200</u8>\n"
        "  <i16>-1000</i16>\n"
        "  <u16>60000</u16>\n"
        "  <i32>-70000</i32>\n"
        "  <u32>4000000000</u32>\n"
        "  <i64>-5</i64>\n"
        "  <u64>18446744073709551615</u64>\n"
        "  <d>0.25</d>\n"
        "  <f>1.5</f>\n"
        "  <text>a&lt;b &amp; c</text>\n"
        "  <bytes>AAFBQg==</bytes>\n"
        "  <image>@IMAGE@</image>\n"
        "  <point>\n"
        "   <x>3</x>\n"
        "   <y>-4</y>\n"
        "  </point>\n"
        "  <pointF>\n"
        "   <x>0.5</x>\n"
        "   <y>-2.25</y>\n"
        "  </pointF>\n"
        "  <color>\n"
        "   <r>10</r>\n"
        "   <g>20</g>\n"
        "   <b>30</b>\n"
        "   <a>40</a>\n"
        "  </color>\n"
        "  <palette>\n"
        "   <WindowText>\n"
        "    <r>5</r>\n"
        "    <g>100</g>\n"
        "    <b>200</b>\n"
        "    <a>255</a>\n"
        "   </WindowText>\n"
        "   <Button>\n"
        "    <r>15</r>\n"
        "    <g>101</g>\n"
        "    <b>199</b>\n"
        "    <a>255</a>\n"
        "   </Button>\n"
        "   <Light>\n"
        "    <r>25</r>\n"
        "    <g>102</g>\n"
        "    <b>198</b>\n"
        "    <a>255</a>\n"
        "   </Light>\n"
        "   <Midlight>\n"
        "    <r>35</r>\n"
        "    <g>103</g>\n"
        "    <b>197</b>\n"
        "    <a>255</a>\n"
        "   </Midlight>\n"
        "   <Dark>\n"
        "    <r>45</r>\n"
        "    <g>104</g>\n"
        "    <b>196</b>\n"
        "    <a>255</a>\n"
        "   </Dark>\n"
        "   <Mid>\n"
        "    <r>55</r>\n"
        "    <g>105</g>\n"
        "    <b>195</b>\n"
        "    <a>255</a>\n"
        "   </Mid>\n"
        "   <Text>\n"
        "    <r>65</r>\n"
        "    <g>106</g>\n"
        "    <b>194</b>\n"
        "    <a>255</a>\n"
        "   </Text>\n"
        "   <BrightText>\n"
        "    <r>75</r>\n"
        "    <g>107</g>\n"
        "    <b>193</b>\n"
        "    <a>255</a>\n"
        "   </BrightText>\n"
        "   <ButtonText>\n"
        "    <r>85</r>\n"
        "    <g>108</g>\n"
        "    <b>192</b>\n"
        "    <a>255</a>\n"
        "   </ButtonText>\n"
        "   <Base>\n"
        "    <r>95</r>\n"
        "    <g>109</g>\n"
        "    <b>191</b>\n"
        "    <a>255</a>\n"
        "   </Base>\n"
        "   <Window>\n"
        "    <r>105</r>\n"
        "    <g>110</g>\n"
        "    <b>190</b>\n"
        "    <a>255</a>\n"
        "   </Window>\n"
        "   <Shadow>\n"
        "    <r>115</r>\n"
        "    <g>111</g>\n"
        "    <b>189</b>\n"
        "    <a>255</a>\n"
        "   </Shadow>\n"
        "   <Highlight>\n"
        "    <r>125</r>\n"
        "    <g>112</g>\n"
        "    <b>188</b>\n"
        "    <a>255</a>\n"
        "   </Highlight>\n"
        "   <HighlightedText>\n"
        "    <r>135</r>\n"
        "    <g>113</g>\n"
        "    <b>187</b>\n"
        "    <a>255</a>\n"
        "   </HighlightedText>\n"
        "   <AlternateBase>\n"
        "    <r>165</r>\n"
        "    <g>116</g>\n"
        "    <b>184</b>\n"
        "    <a>255</a>\n"
        "   </AlternateBase>\n"
        "   <ToolTipBase>\n"
        "    <r>185</r>\n"
        "    <g>118</g>\n"
        "    <b>182</b>\n"
        "    <a>255</a>\n"
        "   </ToolTipBase>\n"
        "   <ToolTipText>\n"
        "    <r>195</r>\n"
        "    <g>119</g>\n"
        "    <b>181</b>\n"
        "    <a>255</a>\n"
        "   </ToolTipText>\n"
        "  </palette>\n"
        "  <leaf>\n"
        "   <label>leaf</label>\n"
        "   <number>7</number>\n"
        "  </leaf>\n"
        "  <leaves>\n"
        "   <e>\n"
        "    <label>one</label>\n"
        "    <number>1</number>\n"
        "   </e>\n"
        "  </leaves>\n"
        "  <blobs>\n"
        "   <e>\n"
        "    <k>1</k>\n"
        "    <v>YQ==</v>\n"
        "   </e>\n"
        "  </blobs>\n"
        " </sample>\n"
        "</arch>\n"
        ));
}

void TestArch::readingCases()
{
    Archi in;
    QVERIFY(parse(in, doc("<!-- top --><t>2</t><f>abc</f><big>300</big><neg>-1</neg>"
                          "<n>1</n><n>2</n><leaves><x><label>one</label><number>1</number></x>"
                          "<y><label>two</label><number>2</number></y></leaves>"
                          "<c><r>200</r></c><empty/><s>\n <!-- a -->ab<!-- b -->cd<?pi x?></s>"
                          "<m><e><k>0</k><v>YQ==</v></e><e><v>Yg==</v></e></m>")));
    bool t = false, f = true;
    quint8 big = 9;
    quint32 neg = 9;
    int n = 0;
    in.root()->get("t", t)->get("f", f)->get("big", big)->get("neg", neg)->get("n", n);
    QCOMPARE(t, true);
    QCOMPARE(f, false);
    QCOMPARE(big, quint8(0)); // out of the type's range
    QCOMPARE(neg, quint32(0));
    QCOMPARE(n, 2); // the second of two siblings

    // A list reads every child of its container, whatever the child's name.
    QList<Leaf *> leaves;
    in.root()->get("leaves", leaves);
    QCOMPARE(leaves.size(), 2);
    QCOMPARE(leaves.at(0)->label, QStringLiteral("one"));
    QCOMPARE(leaves.at(1)->number, 2);
    qDeleteAll(leaves);

    QColor c(1, 2, 3, 4);
    for (const char *name : {"g", "b", "a"})
        expectLog(QtWarningMsg, QStringLiteral("^child'%1'not found \\(.*arch_itemi\\.cpp,\\d+\\)$").arg(name));
    in.root()->get("c", c);
    QVERIFY(c.isValid());
    QCOMPARE(c.rgba(), qRgba(200, 0, 0, 0));

    QString empty = QStringLiteral("x"), s;
    in.root()->get("empty", empty)->get("s", s);
    QCOMPARE(empty, QString());
    QCOMPARE(s, QStringLiteral("abcd")); // comments and indentation are not text

    // A damaged map entry is skipped rather than read as key 0.
    QMap<int, QByteArray> m{{0, "kept"}};
    expectLog(QtWarningMsg, QStringLiteral("^child'k'not found"));
    in.root()->get("m", m);
    QCOMPARE(m, (QMap<int, QByteArray>{{0, "a"}}));

    // Missing fields keep their defaults; a missing object is not read.
    Sample sample;
    sample.i32 = 77;
    expectLog(QtWarningMsg, QStringLiteral("^child'missing'not found"));
    in.root()->get("missing", sample.i32);
    QCOMPARE(sample.i32, 77);
    expectLog(QtCriticalMsg, QStringLiteral("^itemi is null: child'missing'"));
    in.root()->get("missing", sample.leaf);
    QCOMPARE(sample.leaf.label, QStringLiteral("default"));
    expectLog(QtWarningMsg, QStringLiteral("^child'missing'not found"));
    QList<Leaf *> kept{&sample.leaf};
    in.root()->get("missing", kept);
    QCOMPARE(kept.size(), 1);
}

void TestArch::malformedAndDeepDocuments()
{
    Archi in;
    QVERIFY(parse(in, doc("<n>1</n>")));
    expectLog(QtWarningMsg,
              "^failed to load xml data .+ \\(line,col\\) 3 \\d+ \\(.*arch_archi\\.cpp,\\d+\\)$");
    QVERIFY(!parse(in, "<?xml version = '1.0'?>\n<arch>\n<n>2</m>\n</arch>\n"));
    int n = 0;
    in.root()->get("n", n);
    QCOMPARE(n, 1); // the tree read before is kept

    for (const QByteArray &bad : {QByteArray(), QByteArray("<arch>"), QByteArray("<a/><b/>"),
                                  QByteArray("<a>&undefined;</a>"), QByteArray("\xff\xfe<a/>")}) {
        expectLog(QtWarningMsg, "^failed to load xml data");
        QVERIFY2(!parse(in, bad), bad.constData());
    }
    // No header and any root name are accepted.
    QVERIFY(parse(in, "<other><n>3</n></other>"));
    QCOMPARE(in.root()->name(), QStringLiteral("other"));

    auto nested = [](int depth) {
        return QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth);
    };
    QVERIFY(parse(in, nested(Archi::MaxDepth)));
    expectLog(QtWarningMsg, "nested deeper than 256 levels");
    QVERIFY(!parse(in, nested(Archi::MaxDepth + 1)));
}

// Accepts only a few bytes.
class ShortDevice : public QIODevice
{
public:
    ShortDevice() { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 len) override { return qMin<qint64>(len, 10); }
};

void TestArch::writingNeverMakesAnUnreadableFile()
{
    // Characters XML cannot hold are dropped; a comment cannot end early.
    Archo out;
    out.root()->put("s", QStringLiteral("a\x01" "b") + QChar(0xD800) + QStringLiteral("c"));
    out.root()->addChild("n", QStringLiteral("a--b-"))->setText(QStringLiteral("v"));
    // Reported each time the document is built below.
    expectLog(QtWarningMsg, "^characters XML cannot hold dropped from 's'", 3);
    Archi in;
    QVERIFY(parse(in, written(out)));
    QString s, v;
    in.root()->get("s", s)->get("n", v);
    QCOMPARE(s, QStringLiteral("abc"));
    QCOMPARE(v, QStringLiteral("v"));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cfg.xml"));
    QVERIFY(out.saveFile(path));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();

    // A name that is no element name: nothing is written, the old file stays.
    for (const char *name : {"", "1st", "a b", "a<b"}) {
        Archo bad;
        bad.root()->addChild("ok")->put(name, 1);
        expectLog(QtCriticalMsg, "^invalid element name");
        QVERIFY(!bad.saveFile(path));
    }
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"cfg.xml"});

    expectLog(QtCriticalMsg, "^failed to open '.*' for writing");
    QVERIFY(!out.saveFile(dir.filePath(QStringLiteral("missing/cfg.xml"))));
    expectLog(QtCriticalMsg, "^dev = NULL", 2);
    QVERIFY(!out.save(nullptr));
    QVERIFY(!in.load(nullptr));
    ShortDevice tight;
    expectLog(QtCriticalMsg, "^failed to write xml data");
    QVERIFY(!out.save(&tight));
    Leaf one;
    expectLog(QtCriticalMsg, "^null element in list 'l'");
    out.root()->put("l", QList<Leaf *>{&one, nullptr});
    QCOMPARE(out.root()->children().last()->children().size(), 1);
}

QTEST_MAIN(TestArch)
#include "tst_arch.moc"
