#include "arch_itemi.h"

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QPoint>
#include <QPointF>

namespace arch {

Itemi::Itemi(const QString &name) : m_name(name) {}

Itemi::~Itemi()
{
    qDeleteAll(m_children);
}

Itemi *Itemi::addChild(const QString &name)
{
    Itemi *child = new Itemi(name);
    m_index.insert(name, int(m_children.size()));
    m_children.append(child);
    return child;
}

const Itemi *Itemi::child(const QString &name) const
{
    if (name.isEmpty())
        return m_children.isEmpty() ? nullptr : m_children.first();
    // QMultiHash::value gives the most recently inserted position, that is
    // the last sibling of that name.
    const int pos = m_index.value(name, -1);
    return pos < 0 ? nullptr : m_children.at(pos);
}

const Itemi *Itemi::childOrWarn(const QString &name) const
{
    const Itemi *c = child(name);
    if (!c)
        qWarning("child'%s'not found (%s,%d)", qPrintable(name), __FILE__, __LINE__);
    return c;
}

const Itemi *Itemi::get(const QString &name, bool &value) const
{
    if (const Itemi *c = childOrWarn(name))
        value = codec::decodeBool(c->m_text);
    return this;
}

const Itemi *Itemi::get(const QString &name, double &value) const
{
    if (const Itemi *c = childOrWarn(name))
        value = codec::decodeDouble(c->m_text);
    return this;
}

const Itemi *Itemi::get(const QString &name, float &value) const
{
    if (const Itemi *c = childOrWarn(name))
        value = codec::decodeFloat(c->m_text);
    return this;
}

const Itemi *Itemi::get(const QString &name, QString &value) const
{
    if (const Itemi *c = childOrWarn(name))
        value = c->m_text;
    return this;
}

const Itemi *Itemi::get(const QString &name, QByteArray &value) const
{
    if (const Itemi *c = childOrWarn(name))
        value = codec::decodeBytes(c->m_text);
    return this;
}

const Itemi *Itemi::get(const QString &name, QImage &value) const
{
    if (const Itemi *c = childOrWarn(name))
        value = codec::decodeImage(c->m_text);
    return this;
}

const Itemi *Itemi::get(const QString &name, QPoint &value) const
{
    if (const Itemi *c = childOrWarn(name)) {
        int x = value.x();
        int y = value.y();
        c->get(QStringLiteral("x"), x)->get(QStringLiteral("y"), y);
        value = QPoint(x, y);
    }
    return this;
}

const Itemi *Itemi::get(const QString &name, QPointF &value) const
{
    if (const Itemi *c = childOrWarn(name)) {
        double x = value.x();
        double y = value.y();
        c->get(QStringLiteral("x"), x)->get(QStringLiteral("y"), y);
        value = QPointF(x, y);
    }
    return this;
}

// The colour of a QColor container: each missing component counts as 0.
static QColor readColor(const Itemi *node)
{
    int r = 0, g = 0, b = 0, a = 0;
    node->get(QStringLiteral("r"), r)
        ->get(QStringLiteral("g"), g)
        ->get(QStringLiteral("b"), b)
        ->get(QStringLiteral("a"), a);
    QColor color;
    color.setRgb(r, g, b, a);
    return color;
}

const Itemi *Itemi::get(const QString &name, QColor &value) const
{
    if (const Itemi *c = childOrWarn(name))
        value = readColor(c);
    return this;
}

const Itemi *Itemi::get(const QString &name, QPalette &value) const
{
    const Itemi *c = childOrWarn(name);
    if (!c)
        return this;
    for (const codec::PaletteRole &r : codec::paletteRoles) {
        const Itemi *rc = c->childOrWarn(QString::fromLatin1(r.name));
        const QColor color = rc ? readColor(rc) : QColor();
        value.setBrush(r.role, QBrush(color));
    }
    return this;
}

const Itemi *Itemi::get(const QString &name, Archivable &object) const
{
    const Itemi *c = child(name);
    if (!c) {
        qCritical("itemi is null: child'%s'not found (%s,%d)", qPrintable(name), __FILE__,
                  __LINE__);
        return this;
    }
    object.load(c);
    return this;
}

} // namespace arch
