#include "arch_itemo.h"

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QPoint>
#include <QPointF>

namespace arch {

Itemo::Itemo(const QString &name, const QString &comment)
    : m_name(name), m_comment(comment)
{
}

Itemo::~Itemo()
{
    qDeleteAll(m_children);
}

Itemo *Itemo::addChild(const QString &name, const QString &comment)
{
    Itemo *child = new Itemo(name, comment);
    m_children.append(child);
    return child;
}

Itemo *Itemo::putText(const QString &name, const QString &text)
{
    addChild(name)->m_text = text;
    return this;
}

void Itemo::nullElement(const QString &listName)
{
    qCritical("null element in list '%s' not stored (%s,%d)", qPrintable(listName), __FILE__,
              __LINE__);
}

Itemo *Itemo::put(const QString &name, bool value)
{
    return putText(name, codec::encodeBool(value));
}

Itemo *Itemo::put(const QString &name, double value)
{
    return putText(name, codec::encodeDouble(value));
}

Itemo *Itemo::put(const QString &name, float value)
{
    return putText(name, codec::encodeFloat(value));
}

Itemo *Itemo::put(const QString &name, const QString &value)
{
    return putText(name, value);
}

Itemo *Itemo::put(const QString &name, const char *value)
{
    return putText(name, QString::fromUtf8(value));
}

Itemo *Itemo::put(const QString &name, const QByteArray &value)
{
    return putText(name, codec::encodeBytes(value));
}

Itemo *Itemo::put(const QString &name, const QImage &value)
{
    codec::encodeImage(value, addChild(name)->m_text);
    return this;
}

Itemo *Itemo::put(const QString &name, const QPoint &value)
{
    addChild(name)->put(QStringLiteral("x"), value.x())->put(QStringLiteral("y"), value.y());
    return this;
}

Itemo *Itemo::put(const QString &name, const QPointF &value)
{
    addChild(name)->put(QStringLiteral("x"), value.x())->put(QStringLiteral("y"), value.y());
    return this;
}

Itemo *Itemo::put(const QString &name, const QColor &value)
{
    addChild(name)
        ->put(QStringLiteral("r"), value.red())
        ->put(QStringLiteral("g"), value.green())
        ->put(QStringLiteral("b"), value.blue())
        ->put(QStringLiteral("a"), value.alpha());
    return this;
}

Itemo *Itemo::put(const QString &name, const QPalette &value)
{
    Itemo *container = addChild(name);
    for (const codec::PaletteRole &r : codec::paletteRoles)
        container->put(QString::fromLatin1(r.name), value.color(r.role));
    return this;
}

Itemo *Itemo::put(const QString &name, const Archivable &object)
{
    object.save(addChild(name));
    return this;
}

} // namespace arch
