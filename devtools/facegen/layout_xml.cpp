#include "layout_xml.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <functional>

namespace facegen {

namespace {

void textElement(QXmlStreamWriter &w, const char *name, const QString &text)
{
    w.writeTextElement(QString::fromLatin1(name), text);
}

void intElement(QXmlStreamWriter &w, const char *name, int value)
{
    textElement(w, name, QString::number(value));
}

void writeItemGroup(QXmlStreamWriter &w, const ItemGroup &g)
{
    w.writeStartElement(QStringLiteral("group"));
    textElement(w, "name", g.name);
    intElement(w, "offset_x", g.x);
    intElement(w, "offset_y", g.y);
    textElement(w, "type", g.type);
    textElement(w, "size", g.size);
    textElement(w, "sequence", g.sequence);
    if (g.spacing != 0)
        textElement(w, "spacing", QString::number(g.spacing));
    intElement(w, "pushable", g.pushable ? 1 : 0);
    if (g.upDown)
        textElement(w, "led_type", QStringLiteral("lbt_UpDownColors"));
    if (g.vacuumLines > 0) {
        intElement(w, "vacuum_line_count", g.vacuumLines);
        intElement(w, "vacuum_char_per_line", g.vacuumChars);
    }
    if (g.range) {
        w.writeStartElement(QStringLiteral("item_range"));
        intElement(w, "id_first", g.ids.first());
        intElement(w, "id_last", g.ids.last());
        intElement(w, "shaftid_first", -1);
        intElement(w, "shaftid_last", -1);
        w.writeEndElement();
    } else {
        for (int id : g.ids)
            intElement(w, "item_id", id);
    }
    w.writeEndElement();
}

} // namespace

QByteArray layoutXml(const FaceLayout &face)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(2);
    w.writeStartDocument();
    w.writeComment(QStringLiteral(" Face of the %1 panel. Written by devtools/facegen; edit the "
                                  "generator, not this file. ")
                       .arg(face.model == QLatin1String("none") ? QStringLiteral("blank")
                                                                : face.model));
    w.writeStartElement(QStringLiteral("KTPPanel"));

    w.writeStartElement(QStringLiteral("background"));
    textElement(w, "image", face.background);
    w.writeStartElement(QStringLiteral("color"));
    intElement(w, "red", 0);
    intElement(w, "green", 0);
    intElement(w, "blue", 0);
    w.writeEndElement();
    w.writeEndElement();

    w.writeStartElement(QStringLiteral("sizes"));
    for (const NamedSize &s : face.sizes) {
        w.writeStartElement(QStringLiteral("item_size"));
        textElement(w, "name", s.name);
        intElement(w, "width", s.width);
        intElement(w, "height", s.height);
        w.writeEndElement();
    }
    w.writeEndElement();

    for (const Sequence &s : face.sequences) {
        w.writeStartElement(QStringLiteral("image_sequence"));
        textElement(w, "name", s.name);
        for (const QString &f : s.frames)
            textElement(w, "frame", f);
        for (const QString &m : s.masks)
            textElement(w, "display_mask", m);
        for (const QString &c : s.covers)
            textElement(w, "color_cover", c);
        intElement(w, "duration_fw", s.durationFw);
        intElement(w, "duration_rv", s.durationRv);
        w.writeEndElement();
    }

    for (const PlacedGroup &pg : face.groups) {
        w.writeStartElement(QStringLiteral("group"));
        textElement(w, "name", pg.name);
        intElement(w, "offset_x", pg.x);
        intElement(w, "offset_y", pg.y);
        for (const ItemGroup &g : pg.children)
            writeItemGroup(w, g);
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndDocument();
    return out;
}

namespace {

struct GroupRead {
    QString name, type, size, sequence;
    double x = 0, y = 0, spacing = 0;
    QList<int> itemIds;
    int first = -1, last = -1;
    bool upDown = false;
    int lines = 2, chars = 20;
    QList<GroupRead> children;
};

// Reads the children of a group element, nested groups included.
void readGroup(QXmlStreamReader &r, GroupRead &g)
{
    while (r.readNextStartElement()) {
        const QStringView n = r.name();
        if (n == u"group") {
            GroupRead child;
            readGroup(r, child);
            g.children.append(child);
        } else if (n == u"item_range") {
            while (r.readNextStartElement()) {
                const int v = r.readElementText().toInt();
                if (r.name() == u"id_first")
                    g.first = v;
                else if (r.name() == u"id_last")
                    g.last = v;
            }
        } else {
            const QString t = r.readElementText(QXmlStreamReader::SkipChildElements);
            if (n == u"name")
                g.name = t;
            else if (n == u"type")
                g.type = t;
            else if (n == u"size")
                g.size = t;
            else if (n == u"sequence")
                g.sequence = t;
            else if (n == u"offset_x")
                g.x = t.toInt();
            else if (n == u"offset_y")
                g.y = t.toInt();
            else if (n == u"spacing")
                g.spacing = t.toDouble();
            else if (n == u"item_id")
                g.itemIds.append(t.toInt());
            else if (n == u"led_type")
                g.upDown = t == QLatin1String("lbt_UpDownColors");
            else if (n == u"vacuum_line_count")
                g.lines = t.toInt();
            else if (n == u"vacuum_char_per_line")
                g.chars = t.toInt();
        }
    }
}

} // namespace

bool readLayout(const QByteArray &xml, ReadLayout &out, QString *error)
{
    QXmlStreamReader r(xml);
    QMap<QString, QSizeF> sizes;
    QList<GroupRead> groups;
    if (!r.readNextStartElement()) {
        *error = QStringLiteral("no root element");
        return false;
    }
    while (r.readNextStartElement()) {
        const QStringView n = r.name();
        if (n == u"background") {
            while (r.readNextStartElement()) {
                if (r.name() == u"image")
                    out.background = r.readElementText();
                else
                    r.skipCurrentElement();
            }
        } else if (n == u"sizes") {
            while (r.readNextStartElement()) {
                QString name;
                int w = 0, h = 0;
                while (r.readNextStartElement()) {
                    const QString t = r.readElementText();
                    if (r.name() == u"name")
                        name = t;
                    else if (r.name() == u"width")
                        w = t.toInt();
                    else if (r.name() == u"height")
                        h = t.toInt();
                }
                sizes[name] = QSizeF(w, h);
            }
        } else if (n == u"image_sequence") {
            Sequence s;
            while (r.readNextStartElement()) {
                const QString t = r.readElementText(QXmlStreamReader::SkipChildElements);
                if (r.name() == u"name")
                    s.name = t;
                else if (r.name() == u"frame")
                    s.frames.append(t);
                else if (r.name() == u"display_mask")
                    s.masks.append(t);
                else if (r.name() == u"color_cover")
                    s.covers.append(t);
            }
            out.sequences[s.name] = s;
        } else if (n == u"group") {
            GroupRead g;
            readGroup(r, g);
            groups.append(g);
        } else {
            r.skipCurrentElement();
        }
    }
    if (r.hasError()) {
        *error = r.errorString();
        return false;
    }
    out.panel = sizes.value(QStringLiteral("Panel")).toSize();
    out.window = sizes.value(QStringLiteral("Window")).toSize();

    std::function<bool(const GroupRead &, double, double)> place = [&](const GroupRead &g, double ox,
                                                                        double oy) {
        const double x0 = ox + g.x, y0 = oy + g.y;
        if (!g.type.isEmpty()) {
            if (!sizes.contains(g.size)) {
                *error = QStringLiteral("unknown size ") + g.size;
                return false;
            }
            const QSizeF sz = sizes[g.size];
            QList<int> ids = g.itemIds;
            if (g.first >= 0 && g.last >= g.first)
                for (int i = g.first; i <= g.last; ++i)
                    ids.append(i);
            for (int i = 0; i < ids.size(); ++i) {
                if (ids[i] < 0)
                    continue;
                PlacedItem item;
                item.name = g.name;
                item.type = g.type;
                item.id = ids[i];
                item.rect = QRectF(QPointF(x0 + i * (sz.width() + g.spacing), y0), sz);
                item.sequence = g.sequence;
                item.upDown = g.upDown;
                item.vacuumLines = g.lines;
                item.vacuumChars = g.chars;
                out.items.append(item);
            }
        }
        for (const GroupRead &c : g.children)
            if (!place(c, x0, y0))
                return false;
        return true;
    };
    for (const GroupRead &g : groups)
        if (!place(g, 0, 0))
            return false;
    return true;
}

} // namespace facegen
