#include "pan_layout.h"

#include <QIODevice>
#include <QXmlStreamReader>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Integers are decimal; anything else reads as 0.
int readInt(QXmlStreamReader &r)
{
    bool ok = false;
    const int v = r.readElementText().trimmed().toInt(&ok, 10);
    return ok ? v : 0;
}

// Spacing is a real; what does not read as a finite number is 0, and the
// rest is kept to a range no face comes near, so positions stay finite.
double readReal(QXmlStreamReader &r)
{
    bool ok = false;
    const double v = r.readElementText().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return 0;
    return std::clamp(v, -1e6, 1e6);
}

QString readText(QXmlStreamReader &r)
{
    return r.readElementText();
}

// The text of an element and of everything inside it, for the log. Read
// without recursion (the reader's own way recurses once per level, which a
// deeply nested file turns into a stack overflow), and cut short: the log
// needs no more.
QString readAllText(QXmlStreamReader &r)
{
    const qsizetype maxLog = 200;
    QString text;
    qint64 depth = 1;
    while (depth > 0 && !r.atEnd()) {
        switch (r.readNext()) {
        case QXmlStreamReader::StartElement: ++depth; break;
        case QXmlStreamReader::EndElement: --depth; break;
        case QXmlStreamReader::Characters:
        case QXmlStreamReader::EntityReference:
            if (text.size() < maxLog)
                text += r.text().left(maxLog - text.size());
            break;
        default: break;
        }
    }
    return text;
}

int saturatedSum(int a, int b)
{
    const qint64 s = qint64(a) + qint64(b);
    return int(std::clamp<qint64>(s, INT_MIN, INT_MAX));
}

} // namespace

bool PAN_Layout::load(QIODevice *dev)
{
    QXmlStreamReader r(dev);
    // The known elements are taken wherever they stand; everything else
    // (the root, the "sizes" container, unknown wrappers) is walked through.
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement())
            continue;
        const QStringView name = r.name();
        if (name == QLatin1String("background")) {
            readBackground(r);
        } else if (name == QLatin1String("item_size")) {
            readItemSize(r);
        } else if (name == QLatin1String("image_sequence")) {
            readImageSequence(r);
        } else if (name == QLatin1String("group")) {
            Group g;
            readGroup(r, &g, 1);
            flatten(g, nullptr);
        }
    }
    if (r.hasError()) {
        qWarning("PAN_Layout::load, xml error %s (line %lld) (%s,%d)",
                 qPrintable(r.errorString()), r.lineNumber(), __FILE__, __LINE__);
        return false;
    }
    return true;
}

void PAN_Layout::readBackground(QXmlStreamReader &r)
{
    m_backgroundImage.clear();
    m_bgRed = m_bgGreen = m_bgBlue = 0;
    while (r.readNextStartElement()) {
        if (r.name() == QLatin1String("image")) {
            m_backgroundImage = readText(r).trimmed();
        } else if (r.name() == QLatin1String("color")) {
            while (r.readNextStartElement()) {
                if (r.name() == QLatin1String("red"))
                    m_bgRed = std::clamp(readInt(r), 0, 255);
                else if (r.name() == QLatin1String("green"))
                    m_bgGreen = std::clamp(readInt(r), 0, 255);
                else if (r.name() == QLatin1String("blue"))
                    m_bgBlue = std::clamp(readInt(r), 0, 255);
                else
                    r.skipCurrentElement();
            }
        } else {
            r.skipCurrentElement();
        }
    }
}

void PAN_Layout::readItemSize(QXmlStreamReader &r)
{
    QString name;
    int width = 0, height = 0;
    while (r.readNextStartElement()) {
        if (r.name() == QLatin1String("name"))
            name = readText(r).trimmed();
        else if (r.name() == QLatin1String("width"))
            width = readInt(r);
        else if (r.name() == QLatin1String("height"))
            height = readInt(r);
        else
            r.skipCurrentElement();
    }
    m_sizes.insert(name, QSize(width, height));
}

void PAN_Layout::readImageSequence(QXmlStreamReader &r)
{
    ImageSequence s;
    while (r.readNextStartElement()) {
        const QStringView n = r.name();
        if (n == QLatin1String("name"))
            s.name = readText(r).trimmed();
        else if (n == QLatin1String("frame"))
            s.frames << readText(r).trimmed();
        else if (n == QLatin1String("display_mask"))
            s.displayMasks << readText(r).trimmed();
        else if (n == QLatin1String("color_cover"))
            s.colorCovers << readText(r).trimmed();
        else if (n == QLatin1String("duration_fw"))
            s.durationFw = readInt(r);
        else if (n == QLatin1String("duration_rv"))
            s.durationRv = readInt(r);
        else if (n == QLatin1String("background"))
            s.background = readText(r).trimmed();
        else
            r.skipCurrentElement();
    }
    m_sequences.insert(s.name, s);
}

bool PAN_Layout::readGroup(QXmlStreamReader &r, Group *g, int depth)
{
    while (r.readNextStartElement()) {
        const QStringView n = r.name();
        if (n == QLatin1String("name")) {
            g->name = readText(r).trimmed();
        } else if (n == QLatin1String("offset_x")) {
            g->offsetX = readInt(r);
        } else if (n == QLatin1String("offset_y")) {
            g->offsetY = readInt(r);
        } else if (n == QLatin1String("item_range")) {
            while (r.readNextStartElement()) {
                const QStringView m = r.name();
                if (m == QLatin1String("id_first"))
                    g->idFirst = readInt(r);
                else if (m == QLatin1String("id_last"))
                    g->idLast = readInt(r);
                else if (m == QLatin1String("shaftid_first"))
                    g->shaftIdFirst = readInt(r);
                else if (m == QLatin1String("shaftid_last"))
                    g->shaftIdLast = readInt(r);
                else
                    r.skipCurrentElement();
            }
        } else if (n == QLatin1String("type")) {
            g->type = readText(r).trimmed();
        } else if (n == QLatin1String("item_id")) {
            g->itemIds << readInt(r);
        } else if (n == QLatin1String("sequence")) {
            g->sequence = readText(r).trimmed();
        } else if (n == QLatin1String("size")) {
            g->size = readText(r).trimmed();
        } else if (n == QLatin1String("spacing")) {
            g->spacing = readReal(r);
        } else if (n == QLatin1String("pushable")) {
            g->pushable = readInt(r) != 0;
        } else if (n == QLatin1String("keepaspect")) {
            g->keepAspect = readInt(r) != 0;
        } else if (n == QLatin1String("vacuum_line_count")) {
            g->vacuumLineCount = readInt(r);
        } else if (n == QLatin1String("vacuum_char_per_line")) {
            g->vacuumCharPerLine = readInt(r);
        } else if (n == QLatin1String("led_type")) {
            const QString t = readText(r).trimmed();
            if (t == QLatin1String("lbt_UpDownColors"))
                g->ledType = LedUpDownColors;
            else
                qWarning("unrecognized led type : %s (%s,%d)", qPrintable(t), __FILE__,
                         __LINE__);
        } else if (n == QLatin1String("group")) {
            if (depth >= MaxGroupDepth) {
                r.raiseError(QStringLiteral("groups nested deeper than %1").arg(int(MaxGroupDepth)));
                return false;
            }
            Group child;
            const bool ok = readGroup(r, &child, depth + 1);
            g->children.append(child);
            if (!ok)
                return false;
        } else {
            const QString tag = n.toString();
            const QString text = readAllText(r);
            qWarning("unrecognized tag: %s - %s", qPrintable(tag), qPrintable(text));
        }
    }
    return !r.hasError();
}

void PAN_Layout::flatten(const Group &g, const Group *parent)
{
    if (!g.type.isEmpty()) {
        Group flat = g;
        flat.children.clear();
        if (parent) {
            flat.offsetX = saturatedSum(flat.offsetX, parent->offsetX);
            flat.offsetY = saturatedSum(flat.offsetY, parent->offsetY);
        }
        m_groups.append(flat);
    }
    for (const Group &child : g.children)
        flatten(child, &g);
}
