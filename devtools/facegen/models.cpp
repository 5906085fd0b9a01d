#include "models.h"

#include <QRect>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace facegen {

namespace {

// A block of keys: rows top to bottom, ids left to right, -1 a blank place.
struct BlockSpec {
    QString name;
    QList<QList<int>> rows;
};

// A bank of text displays (ids from firstId) on a frame of its own.
struct BankSpec {
    int count;
    int firstId;
};

struct FlowPart {
    bool isBank;
    BlockSpec block;
    BankSpec bank;
};

FlowPart keys(const QString &name, const QList<QList<int>> &rows)
{
    return FlowPart{false, BlockSpec{name, rows}, BankSpec{0, 0}};
}

FlowPart bank(int count, int firstId)
{
    return FlowPart{true, BlockSpec{}, BankSpec{count, firstId}};
}

struct ModelSpec {
    QString name;
    int height;
    QSize window;
    int keyW, keyH;
    int spacing;   // between keys of a row
    int rowGap;    // between rows
    int blockGap;  // between blocks
    QList<BankSpec> topBanks; // display banks above the keys (2U models)
    QList<FlowPart> flow;     // left to right across the key field
    QList<int> upDown;        // keys with an upper and a lower colour area
};

QList<int> run(int first, int last)
{
    QList<int> ids;
    for (int i = first; i <= last; ++i)
        ids.append(i);
    return ids;
}

// Blocks of five columns, rows of twenty keys: the dense LCD models.
QList<FlowPart> fiveColumnBlocks(int rows)
{
    QList<FlowPart> parts;
    for (int b = 0; b < 4; ++b) {
        QList<QList<int>> r;
        for (int row = 0; row < rows; ++row)
            r.append(run(row * 20 + b * 5 + 1, row * 20 + b * 5 + 5));
        parts.append(keys(QStringLiteral("keys"), r));
    }
    return parts;
}

QList<ModelSpec> specs()
{
    const QSize small(600, 60);
    QList<ModelSpec> m;
    m.append({"SK1100A", 120, small, 56, 40, 8, 8, 40, {},
              {keys("keys", {run(1, 8)}), keys("keys", {run(9, 16)})}, {}});
    m.append({"SK1200A", 120, small, 60, 42, 8, 6, 44, {},
              {keys("keys", {run(1, 5), run(11, 15)}), keys("keys", {run(6, 10), run(16, 20)})},
              {}});
    // A 48-key matrix with 32 keys fitted: three full rows of eight on the
    // left, and a block of function keys on the right.
    m.append({"SK1300A", 240, small, 63, 45, 8, 12, 60, {},
              {keys("keys", {run(1, 8), run(17, 24), run(33, 40)}),
               keys("function keys", {{12, -1, 16}, {42, 43, 44}, {45, 46, 48}})},
              {}});
    m.append({"SK1400A", 240, small, 60, 42, 6, 20, 36, {},
              {keys("keys", {run(1, 8), run(17, 24)}), keys("keys", {run(9, 16), run(25, 32)})},
              {}});
    m.append({"SK1500A", 240, small, 60, 42, 6, 12, 36, {},
              {keys("keys", {run(1, 8), run(17, 24), run(33, 40)}),
               keys("keys", {run(9, 16), run(25, 32), run(41, 48)})},
              {}});
    // 1U menu panel: each display sits left of the keys it names.
    m.append({"SK1600A", 120, small, 48, 34, 4, 6, 16, {},
              {bank(1, 1000), keys("levels", {{1, 2, 5}, {3, 4, 28}}),
               keys("destinations", {run(6, 9), run(10, 13)}), bank(1, 1001),
               keys("sources", {run(14, 19), run(20, 25)}), keys("menus", {{26, 27}, {-1, 29}})},
              {}});
    m.append({"SK1700A", 240, small, 52, 37, 6, 8, 30, {{10, 1000}},
              {keys("levels", {{2, 3}, {4, 5}, {1, 33}}),
               keys("routing", {run(6, 13), run(14, 21), run(22, 29)}),
               keys("menus", {{30, 31}, {32, 34}, {35, 36}})},
              {}});
    m.append({"SK1800A", 120, small, 48, 34, 4, 6, 16, {}, fiveColumnBlocks(2), {}});
    m.append({"SK1900A", 240, small, 52, 37, 6, 8, 28, {{4, 1000}, {4, 1004}},
              {keys("levels", {{1, 2}, {3, 4}, {25, 32}}),
               keys("destinations", {run(5, 8), run(9, 12), {30, 31, 37}}),
               keys("sources", {run(13, 16), run(17, 20), run(21, 24)}),
               keys("menus", {{26, 27}, {28, 29}, {33, 34}}),
               keys("take", {{35, 36}, {38, 39}, {-1, 40}})},
              {}});
    m.append({"SK2000A", 240, small, 52, 37, 5, 8, 24, {{3, 1000}},
              {keys("levels", {{1, 2}, {3, 4}, {5, 42}}),
               keys("destinations", {run(6, 9), run(10, 13), {45, 46}}),
               keys("sources", {run(14, 21), run(22, 29), run(30, 37)}),
               keys("menus", {{38, 39}, {40, 41}, {43, 44}}), keys("take", {{}, {}, {47}})},
              {9}});
    m.append({"SK2100A", 240, QSize(600, 120), 48, 34, 4, 8, 16, {}, fiveColumnBlocks(4), {}});
    m.append({"SK2200A", 240, small, 52, 37, 5, 8, 28, {{3, 1000}, {3, 1003}, {3, 1006}},
              {keys("levels", {{1, 2}, {3, 4}, {41, 42}}),
               keys("destinations", {run(5, 8), run(9, 12)}),
               keys("sources", {run(13, 20), run(21, 28), run(29, 36)}),
               keys("menus", {{37, 38}, {39, 40}, {43, 44}})},
              run(1, 8)});
    return m;
}

[[noreturn]] void fail(const QString &model, const QString &what)
{
    fprintf(stderr, "facegen: %s: %s\n", qPrintable(model), qPrintable(what));
    std::exit(1);
}

Sequence keySequence(const QString &name, const QString &coverStem)
{
    Sequence s;
    s.name = name;
    for (int i = 1; i <= 6; ++i) {
        s.frames.append(QStringLiteral("b%1.png").arg(i));
        s.masks.append(QStringLiteral("b_mask%1.png").arg(i));
        s.covers.append(QStringLiteral("%1%2.png").arg(coverStem).arg(i));
    }
    return s;
}

Sequence singleFrame(const QString &name, const QString &frame)
{
    Sequence s;
    s.name = name;
    s.frames.append(frame);
    return s;
}

bool contiguous(const QList<int> &ids)
{
    if (ids.size() < 2)
        return false;
    for (int i = 1; i < ids.size(); ++i)
        if (ids[i] != ids[i - 1] + 1 || ids[i - 1] < 0)
            return false;
    return true;
}

// One row of a key block as groups: a run of keys of one kind (plain or
// two-colour) per group, placed at its first column; blanks inside a run
// stay as -1, blanks at the ends only shift or end it.
QList<ItemGroup> rowGroups(const ModelSpec &s, const QString &name, const QList<int> &row, int y)
{
    QList<ItemGroup> groups;
    int col = 0;
    ItemGroup *cur = nullptr;
    for (int id : row) {
        if (id < 0) {
            if (cur)
                cur->ids.append(-1);
            ++col;
            continue;
        }
        const bool ud = s.upDown.contains(id);
        if (!cur || cur->upDown != ud) {
            if (cur)
                while (!cur->ids.isEmpty() && cur->ids.last() < 0)
                    cur->ids.removeLast();
            ItemGroup g;
            g.name = name;
            g.x = col * (s.keyW + s.spacing);
            g.y = y;
            g.type = QStringLiteral("LCD");
            g.size = QStringLiteral("key");
            g.sequence = ud ? QStringLiteral("key_updown") : QStringLiteral("key");
            g.spacing = s.spacing;
            g.upDown = ud;
            groups.append(g);
            cur = &groups.last();
        }
        cur->ids.append(id);
        ++col;
    }
    for (ItemGroup &g : groups) {
        while (!g.ids.isEmpty() && g.ids.last() < 0)
            g.ids.removeLast();
        g.range = contiguous(g.ids);
    }
    return groups;
}

int blockColumns(const BlockSpec &b)
{
    int cols = 0;
    for (const auto &r : b.rows)
        cols = std::max(cols, int(r.size()));
    return cols;
}

int partWidth(const ModelSpec &s, const FlowPart &part)
{
    if (part.isBank)
        return displayFrameWidth(part.bank.count);
    const int cols = blockColumns(part.block);
    return cols * s.keyW + (cols - 1) * s.spacing;
}

int partHeight(const ModelSpec &s, const FlowPart &part)
{
    if (part.isBank)
        return displayFrameHeight();
    const int rows = int(part.block.rows.size());
    return rows * s.keyH + (rows - 1) * s.rowGap;
}

PlacedGroup bankGroup(const BankSpec &b, int widgetId, int x, int y, int number)
{
    PlacedGroup g;
    g.name = QStringLiteral("display bank %1").arg(number);
    g.x = x;
    g.y = y;
    ItemGroup frame;
    frame.name = QStringLiteral("display frame");
    frame.type = QStringLiteral("Widget");
    frame.size = displayFrameName(b.count).chopped(4);
    frame.sequence = frame.size;
    frame.ids = {widgetId};
    frame.pushable = false;
    ItemGroup displays;
    displays.name = QStringLiteral("display");
    displays.x = DISPLAY_PAD;
    displays.y = DISPLAY_PAD;
    displays.type = QStringLiteral("Vacuum");
    displays.size = QStringLiteral("display");
    displays.sequence = QStringLiteral("display");
    displays.ids = run(b.firstId, b.firstId + b.count - 1);
    displays.range = b.count > 1;
    displays.spacing = DISPLAY_GAP;
    displays.pushable = false;
    displays.vacuumLines = 1;
    displays.vacuumChars = 8;
    // The frame first: items stack in document order, the displays on it.
    g.children = {frame, displays};
    return g;
}

struct Box {
    QRect rect;
    QString what;
};

QSize namedSize(const FaceLayout &face, const QString &name)
{
    for (const NamedSize &n : face.sizes)
        if (n.name == name)
            return QSize(n.width, n.height);
    fail(face.model, QStringLiteral("no size ") + name);
}

// Every item inside the key field, clear of the field's edge; no two keys
// or displays overlapping, and every display on a frame.
void checkPlacement(const FaceLayout &face)
{
    const QRect field(EAR_W + 4, FIELD_INSET_Y + 4, PANEL_W - 2 * EAR_W - 8,
                      face.panel.height() - 2 * FIELD_INSET_Y - 8);
    QList<Box> boxes;
    QList<QRect> frames;
    for (const PlacedGroup &pg : face.groups) {
        for (const ItemGroup &g : pg.children) {
            const QSize size = namedSize(face, g.size);
            for (int i = 0; i < g.ids.size(); ++i) {
                if (g.ids[i] < 0)
                    continue;
                const int x = pg.x + g.x + int(std::lround(i * (size.width() + g.spacing)));
                const QRect r(QPoint(x, pg.y + g.y), size);
                const QString what = QStringLiteral("%1 %2").arg(g.type).arg(g.ids[i]);
                if (g.type == QLatin1String("Widget")) {
                    if (!field.adjusted(-4, -4, 4, 4).contains(r))
                        fail(face.model, what + QStringLiteral(" outside the key field"));
                    frames.append(r);
                    continue;
                }
                if (!field.contains(r))
                    fail(face.model, what + QStringLiteral(" outside the key field"));
                if (g.type == QLatin1String("Vacuum")
                    && std::none_of(frames.begin(), frames.end(),
                                    [&r](const QRect &f) { return f.contains(r); }))
                    fail(face.model, what + QStringLiteral(" is not on a display frame"));
                for (const Box &b : boxes)
                    if (b.rect.intersects(r))
                        fail(face.model, what + QStringLiteral(" overlaps ") + b.what);
                boxes.append({r, what});
            }
        }
    }
}

FaceLayout build(const ModelSpec &s)
{
    FaceLayout face;
    face.model = s.name;
    face.panel = QSize(PANEL_W, s.height);
    face.window = s.window;
    face.background = s.height > 120 ? QStringLiteral("panelbk_large.png")
                                     : QStringLiteral("panelbk_small.png");
    face.sizes = {{"Panel", PANEL_W, s.height},
                  {"Window", s.window.width(), s.window.height()},
                  {"key", s.keyW, s.keyH}};
    face.sequences.append(keySequence(QStringLiteral("key"), QStringLiteral("color_cover_up")));
    if (!s.upDown.isEmpty())
        face.sequences.append(
            keySequence(QStringLiteral("key_updown"), QStringLiteral("color_cover_up_down")));

    // Display frames in use, each once.
    QList<int> bankSizes;
    for (const BankSpec &b : s.topBanks)
        bankSizes.append(b.count);
    for (const FlowPart &p : s.flow)
        if (p.isBank)
            bankSizes.append(p.bank.count);
    if (!bankSizes.isEmpty()) {
        face.sizes.append({"display", DISPLAY_W, DISPLAY_H});
        face.sequences.append(singleFrame(QStringLiteral("display"), QStringLiteral("vacuum_bk.png")));
    }
    std::sort(bankSizes.begin(), bankSizes.end());
    bankSizes.erase(std::unique(bankSizes.begin(), bankSizes.end()), bankSizes.end());
    for (int n : bankSizes) {
        const QString name = displayFrameName(n).chopped(4);
        face.sizes.append({name, displayFrameWidth(n), displayFrameHeight()});
        face.sequences.append(singleFrame(name, displayFrameName(n)));
    }

    // Horizontal flow, centred on the plate.
    int flowW = 0, flowH = 0;
    for (const FlowPart &p : s.flow) {
        flowW += partWidth(s, p);
        flowH = std::max(flowH, partHeight(s, p));
    }
    flowW += (int(s.flow.size()) - 1) * s.blockGap;
    const int bankRowH = s.topBanks.isEmpty() ? 0 : displayFrameHeight() + 14;
    const int top = (s.height - bankRowH - flowH) / 2;
    int widgetId = 30001;
    int bankNumber = 1;

    if (!s.topBanks.isEmpty()) {
        const int gap = 24;
        int banksW = -gap;
        for (const BankSpec &b : s.topBanks)
            banksW += displayFrameWidth(b.count) + gap;
        int x = (PANEL_W - banksW) / 2;
        for (const BankSpec &b : s.topBanks) {
            face.groups.append(bankGroup(b, widgetId++, x, top, bankNumber++));
            x += displayFrameWidth(b.count) + gap;
        }
    }

    int x = (PANEL_W - flowW) / 2;
    const int flowTop = top + bankRowH;
    for (const FlowPart &p : s.flow) {
        if (p.isBank) {
            const int y = flowTop + (flowH - displayFrameHeight()) / 2;
            face.groups.append(bankGroup(p.bank, widgetId++, x, y, bankNumber++));
        } else {
            PlacedGroup g;
            g.name = p.block.name;
            g.x = x;
            g.y = flowTop;
            for (int r = 0; r < p.block.rows.size(); ++r)
                g.children.append(rowGroups(s, p.block.name, p.block.rows[r], r * (s.keyH + s.rowGap)));
            face.groups.append(g);
        }
        x += partWidth(s, p) + s.blockGap;
    }
    checkPlacement(face);
    return face;
}

} // namespace

int displayFrameWidth(int n)
{
    return n * DISPLAY_W + (n - 1) * DISPLAY_GAP + 2 * DISPLAY_PAD;
}

QList<FaceLayout> allFaces()
{
    QList<FaceLayout> faces;
    for (const ModelSpec &s : specs())
        faces.append(build(s));
    FaceLayout none;
    none.model = QStringLiteral("none");
    none.panel = QSize(PANEL_W, 120);
    none.window = QSize(600, 60);
    none.background = QStringLiteral("panelbk_none.png");
    none.sizes = {{"Panel", PANEL_W, 120}, {"Window", 600, 60}};
    faces.append(none);
    return faces;
}

QString layoutFileName(const FaceLayout &face)
{
    return QStringLiteral("layout_%1.xml").arg(face.model.toLower());
}

QList<int> displayFrameSizes()
{
    return {1, 3, 4, 10};
}

QString displayFrameName(int displays)
{
    return QStringLiteral("display_frame%1.png").arg(displays);
}

} // namespace facegen
