// Randomized documents through Archi::load: mutated valid documents, random
// tag soup, deep nesting and an entity bomb. Nothing may crash, hang or leak
// (the suite also runs under AddressSanitizer); a document that loads is
// then read as an object and with every value type on every node.
//
// TESS_ARCH_FUZZ_SEED and TESS_ARCH_FUZZ_ITERATIONS change the seed and the
// number of cases per generator; the seed is printed so a run can be repeated.

#include "arch_archi.h"
#include "arch_archo.h"
#include "sample.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

#include <cstdio>

namespace {

int g_messages = 0;
QtMessageHandler g_previous = nullptr;

// Rejected documents log a lot; only the count is kept.
void countingHandler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    if (type == QtFatalMsg && g_previous)
        g_previous(type, ctx, msg);
    ++g_messages;
}

const char *const kFragments[] = {
    "<", ">", "</", "/>", "<e>", "</e>", "<k>", "<v>1</v>", "<![CDATA[", "]]>", "<!--", "-->",
    "<?pi x?>", "&amp;", "&#x1;", "&#65;", "&bogus;", "&", "'", " a='1'", "\n", "\xc3", "\xff",
    "<!DOCTYPE a [<!ENTITY x 'yy'>]>", "&x;", "<arch>", "</arch>",
};
const char *const kValues[] = {"", "-1", "300", "99999999999999999999", "1e999", "nan", "x",
                               "AAAA", "iVBORw0KGgo=", " 7 ", "-0"};
const char *const kNames[] = {"e", "k", "v", "x", "y", "r", "g", "a", "label", "number"};

} // namespace

class TestArchFuzz : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void mutatedDocuments();
    void randomTagSoup();
    void deepNestingAndEntityBomb();

private:
    bool loadAndRead(const QByteArray &xml);
    QByteArray mutate(QByteArray doc);
    template <typename T, size_t N>
    const T &pick(const T (&table)[N]) { return table[m_rng.bounded(int(N))]; }

    QRandomGenerator m_rng;
    int m_iterations = 3000;
    int m_loaded = 0;
};

void TestArchFuzz::initTestCase()
{
    bool ok = false;
    const quint32 seed = qEnvironmentVariable("TESS_ARCH_FUZZ_SEED").toUInt(&ok, 0);
    const quint32 used = ok ? seed : 0x7e55a1;
    const int iterations = qEnvironmentVariableIntValue("TESS_ARCH_FUZZ_ITERATIONS", &ok);
    if (ok && iterations > 0)
        m_iterations = iterations;
    m_rng.seed(used);
    std::printf("seed 0x%x, %d cases per generator\n", used, m_iterations);
    std::fflush(stdout);
    g_previous = qInstallMessageHandler(countingHandler);
}

void TestArchFuzz::cleanupTestCase()
{
    qInstallMessageHandler(g_previous);
    std::printf("%d documents loaded, %d log lines\n", m_loaded, g_messages);
}

bool TestArchFuzz::loadAndRead(const QByteArray &xml)
{
    QBuffer buf;
    buf.setData(xml);
    buf.open(QIODevice::ReadOnly);
    arch::Archi in;
    if (!in.load(&buf))
        return false;
    ++m_loaded;
    // As the program reads a file: an object from the root's first child.
    if (const arch::Itemi *first = in.root()->child(QString())) {
        Sample sample;
        sample.load(first);
    }
    QList<const arch::Itemi *> pending{in.root()};
    while (!pending.isEmpty()) {
        const arch::Itemi *node = pending.takeLast();
        const QString name = node->child(QString()) ? node->child(QString())->name() : QString("x");
        bool b; qint8 i8; quint16 u16; int i; quint64 u64; double d; float f; QString s;
        QByteArray bytes; QImage image; QPoint p; QPointF pf; QColor c; QPalette pal;
        QMap<int, QByteArray> map;
        QList<Leaf *> leaves;
        node->get(name, b)->get(name, i8)->get(name, u16)->get(name, i)->get(name, u64)
            ->get(name, d)->get(name, f)->get(name, s)->get(name, bytes)->get(name, image)
            ->get(name, p)->get(name, pf)->get(name, c)->get(name, pal)->get(name, map)
            ->get(name, leaves);
        qDeleteAll(leaves);
        for (const arch::Itemi *child : node->children())
            pending.append(child);
    }
    return true;
}

QByteArray TestArchFuzz::mutate(QByteArray doc)
{
    // A third of the cases only change values, so they still load and the
    // decoders see odd texts.
    const bool valuesOnly = m_rng.bounded(3) == 0;
    for (int edits = 1 + int(m_rng.bounded(8)); edits > 0; --edits) {
        const int pos = doc.isEmpty() ? 0 : int(m_rng.bounded(int(doc.size())));
        switch (valuesOnly ? 0 : m_rng.bounded(6)) {
        case 0: { // the text of a leaf element
            const int open = int(doc.indexOf('>', pos));
            const int close = open < 0 ? -1 : int(doc.indexOf("</", open));
            if (close > open && !doc.mid(open + 1, close - open - 1).contains('<'))
                doc.replace(open + 1, close - open - 1, pick(kValues));
            break;
        }
        case 1:
            if (!doc.isEmpty())
                doc[pos] = char(m_rng.bounded(256));
            break;
        case 2:
            doc.insert(pos, pick(kFragments));
            break;
        case 3:
            doc.remove(pos, int(m_rng.bounded(32)));
            break;
        case 4:
            doc.insert(pos, doc.mid(pos, int(m_rng.bounded(64))));
            break;
        default:
            doc.truncate(pos);
            break;
        }
    }
    return doc;
}

void TestArchFuzz::mutatedDocuments()
{
    Sample s;
    s.text = QStringLiteral("text & <more>");
    s.image = QImage(2, 2, QImage::Format_RGB32);
    s.image.fill(Qt::red);
    s.leaves = {new Leaf, new Leaf};
    s.blobs.insert(1, "one");
    arch::Archo out;
    out.root()->put("sample", s);
    QByteArray base;
    QVERIFY(out.toXml(base));
    QVERIFY(loadAndRead(base));
    for (int i = 0; i < m_iterations; ++i)
        loadAndRead(mutate(base));
}

void TestArchFuzz::randomTagSoup()
{
    for (int i = 0; i < m_iterations; ++i) {
        QByteArray doc = "<arch>";
        QList<const char *> open;
        for (int steps = int(m_rng.bounded(200)); steps > 0; --steps) {
            const quint32 choice = m_rng.bounded(10);
            if (choice < 4) {
                open.append(pick(kNames));
                doc += QByteArray("<") + open.last() + ">";
            } else if (choice < 7 && !open.isEmpty()) {
                doc += QByteArray("</") + open.takeLast() + ">";
            } else {
                doc += choice < 9 ? pick(kValues) : pick(kFragments);
            }
        }
        // Most documents are closed, so many of them load and are read.
        while (m_rng.bounded(4) != 0 && !open.isEmpty())
            doc += QByteArray("</") + open.takeLast() + ">";
        loadAndRead(doc + "</arch>");
    }
}

void TestArchFuzz::deepNestingAndEntityBomb()
{
    const int max = arch::Archi::MaxDepth;
    for (int depth : {max - 1, max, max + 1, 10000, 1000000}) {
        const QByteArray open = QByteArray("<e>").repeated(depth);
        const QByteArray close = QByteArray("</e>").repeated(depth);
        QCOMPARE(loadAndRead(open + close), depth <= max);
        QVERIFY(!loadAndRead(open));
        QVERIFY(!loadAndRead(open + "<x>1</x>" + close.left(close.size() / 2)));
        // Values on every level, the deepest one at the limit.
        QCOMPARE(loadAndRead(QByteArray("<e><k>1</k><v>YQ==</v>").repeated(depth) + close),
                 depth < max);
    }

    // Each entity level multiplies the text by ten: expanded it would take
    // gigabytes. The reader must refuse it, not exhaust memory.
    QByteArray bomb = "<!DOCTYPE arch [<!ENTITY l0 'lollollollol'>";
    for (int i = 1; i < 10; ++i)
        bomb += "<!ENTITY l" + QByteArray::number(i) + " '"
              + ("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "'>";
    QVERIFY(!loadAndRead(bomb + "]><arch><s>&l9;</s></arch>"));
}

QTEST_MAIN(TestArchFuzz)
#include "tst_arch_fuzz.moc"
