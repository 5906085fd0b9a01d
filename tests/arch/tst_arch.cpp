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
