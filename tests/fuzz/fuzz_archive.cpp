// The XML archive reader over arbitrary documents, read the way the program
// reads its two archive files: the panel set (cfg.xml: racks with their
// panels, the last uid, window states) and the custom key pictures ("ci.xml":
// a map from item id to picture under "customImages"). Checks that a
// document that loads gives a tree whose every node can be read as every
// value type, and that what was read writes out as a document that reads
// back to the same values.
//
// Input: the document as it is.

#include "arch_archi.h"
#include "arch_archo.h"
#include "fuzz_common.h"

#include <QBuffer>
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QMap>
#include <QPalette>
#include <QPoint>
#include <QPointF>

namespace {

// The fields of a panel and of a rack as the panel set file keeps them.
struct Panel : arch::Archivable
{
    int uid = 0;
    QString name, description, ip;
    int type = 0, port = 0;
    bool visible = false, autostart = false;
    bool save(arch::Itemo *n) const override
    {
        n->put("uid", uid)->put("name", name)->put("description", description)->put("paneltype", type)
            ->put("visible", visible)->put("firmware_ip", ip)->put("panelPort", port)
            ->put("should_autostart", autostart);
        return true;
    }
    bool load(const arch::Itemi *n) override
    {
        n->get("uid", uid)->get("name", name)->get("description", description)->get("paneltype", type)
            ->get("visible", visible)->get("firmware_ip", ip)->get("panelPort", port)
            ->get("should_autostart", autostart);
        return true;
    }
    bool operator==(const Panel &o) const
    {
        return uid == o.uid && name == o.name && description == o.description && ip == o.ip
               && type == o.type && port == o.port && visible == o.visible && autostart == o.autostart;
    }
};

struct Rack : arch::Archivable
{
    QString name, desc;
    bool expanded = false, visible = false;
    QList<Panel *> panels;
    QByteArray geometry;
    ~Rack() override { qDeleteAll(panels); }
    bool save(arch::Itemo *n) const override
    {
        n->put("name", name)->put("desc", desc)->put("expanded", expanded)->put("visible", visible)
            ->put("panel", panels)->put("ui_data", geometry);
        return true;
    }
    bool load(const arch::Itemi *n) override
    {
        n->get("name", name)->get("desc", desc)->get("expanded", expanded)->get("visible", visible)
            ->get("panel", panels)->get("ui_data", geometry);
        return true;
    }
    bool operator==(const Rack &o) const
    {
        if (name != o.name || desc != o.desc || expanded != o.expanded || visible != o.visible
            || geometry != o.geometry || panels.size() != o.panels.size())
            return false;
        for (qsizetype i = 0; i < panels.size(); ++i)
            if (!(*panels[i] == *o.panels[i]))
                return false;
        return true;
    }
};

struct PanelSet
{
    QList<Rack *> racks;
    int puid = 0;
    QMap<int, QByteArray> ui;
    ~PanelSet() { qDeleteAll(racks); }
    void read(const arch::Itemi *root)
    {
        root->get("racks", racks)->get("puid", puid)->get("ui_data", ui);
    }
    void write(arch::Itemo *root) const
    {
        root->put("racks", racks)->put("puid", puid)->put("ui_data", ui);
    }
    bool operator==(const PanelSet &o) const
    {
        if (puid != o.puid || ui != o.ui || racks.size() != o.racks.size())
            return false;
        for (qsizetype i = 0; i < racks.size(); ++i)
            if (!(*racks[i] == *o.racks[i]))
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
    set.write(out.root());
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
