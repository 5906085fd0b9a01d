// The XML archive reader over arbitrary documents, read the way the program
// reads its two archive files: the panel set (cfg.xml: racks with their
// panels, the last uid, window states) and the custom key pictures ("ci.xml":
// a map from item id to picture under "customImages"), the panel set through
// the records panelrun reads it into. Checks that a
// document that loads gives a tree whose every node can be read as every
// value type, and that what was read writes out as a document that reads
// back to the same values.
//
// Input: the document as it is.

#include "arch_archi.h"
#include "arch_archo.h"
#include "fuzz_common.h"
#include "kst_panelset_file.h"

#include <QBuffer>
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QMap>
#include <QPalette>
#include <QPoint>
#include <QPointF>

namespace {

// The panel set as panelrun reads and writes it (Keystead's own panels and
// racks store the same fields through the same functions).
bool sameFields(const KST_PanelFields &a, const KST_PanelFields &b)
{
    return a.uid == b.uid && a.name == b.name && a.description == b.description
           && a.paneltype == b.paneltype && a.visible == b.visible && a.firmwareIp == b.firmwareIp
           && a.panelPort == b.panelPort && a.shouldAutostart == b.shouldAutostart;
}

bool sameRack(const KST_RackRecord &a, const KST_RackRecord &b)
{
    if (a.fields.name != b.fields.name || a.fields.desc != b.fields.desc
        || a.fields.expanded != b.fields.expanded || a.fields.visible != b.fields.visible
        || a.fields.uiData != b.fields.uiData || a.panels.size() != b.panels.size())
        return false;
    for (qsizetype i = 0; i < a.panels.size(); ++i)
        if (!sameFields(a.panels[i]->fields, b.panels[i]->fields))
            return false;
    return true;
}

struct PanelSet
{
    KST_PanelSetRecords set;
    void read(const arch::Itemi *root) { KST_getPanelSet(root, set.racks, set.puid, set.uiData); }
    void write(arch::Archo &out) const { KST_putPanelSet(out, set.racks, set.puid, set.uiData); }
    bool operator==(const PanelSet &o) const
    {
        if (set.puid != o.set.puid || set.uiData != o.set.uiData
            || set.racks.size() != o.set.racks.size())
            return false;
        for (qsizetype i = 0; i < set.racks.size(); ++i)
            if (!sameRack(*set.racks[i], *o.set.racks[i]))
                return false;
        return true;
    }
};

bool parse(arch::Archi &in, const QByteArray &xml)
{
    QBuffer buf;
    buf.setData(xml);
    buf.open(QIODevice::ReadOnly);
    return in.load(&buf);
}

QByteArray written(const arch::Archo &out)
{
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    FUZZ_CHECK(out.save(&buf));
    return buf.data();
}

// Every node read as every value type: whatever the text, nothing breaks.
void readEverything(const arch::Itemi *node, int depth)
{
    if (depth > 40)
        return;
    for (const arch::Itemi *c : node->children()) {
        const QString &n = c->name();
        bool b = false;
        qint8 i8 = 0;
        quint64 u64 = 0;
        double d = 0;
        float f = 0;
        QString s;
        QByteArray bytes;
        QPoint pt;
        QPointF ptf;
        QColor col;
        QPalette pal;
        node->get(n, b)->get(n, i8)->get(n, u64)->get(n, d)->get(n, f)->get(n, s)->get(n, bytes)
            ->get(n, pt)->get(n, ptf)->get(n, col)->get(n, pal);
        readEverything(c, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(*argc, *argv); // palettes and pictures
    // Missing fields and refused documents are logged; not looked at here.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray xml(reinterpret_cast<const char *>(data), qsizetype(size));
    arch::Archi in;
    if (!parse(in, xml))
        return 0;
    readEverything(in.root(), 0);

    // cfg.xml: read, write, read back.
    PanelSet set;
    set.read(in.root());
    arch::Archo out;
    set.write(out);
    arch::Archi back;
    FUZZ_CHECK(parse(back, written(out)));
    PanelSet again;
    again.read(back.root());
    FUZZ_CHECK(again == set);

    // ci.xml: the pictures decode or stay null.
    QMap<int, QImage> images;
    in.root()->get("customImages", images);
    for (const QImage &img : images)
        FUZZ_CHECK(img.isNull() || (img.width() > 0 && img.height() > 0));
    return 0;
}
