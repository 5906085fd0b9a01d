#ifndef ARCH_ITEMI_H
#define ARCH_ITEMI_H

#include "arch_archivable.h"
#include "arch_codec.h"

#include <QList>
#include <QMap>
#include <QMultiHash>
#include <QString>

#include <type_traits>

class QByteArray;
class QColor;
class QImage;
class QPalette;
class QPoint;
class QPointF;

namespace arch {

// A node of the tree an archive document is read into: one element with its
// tag name, the text of its text children joined in document order and its
// child elements in document order. A node owns its children.
//
// Each get looks up a child by name and decodes its text into the value;
// when there is no such child it logs "child'<name>'not found" and leaves
// the value as it was, so a field missing from an older file keeps its
// default. Every get returns this node for chaining.
class Itemi
{
public:
    explicit Itemi(const QString &name);
    ~Itemi();
    Itemi(const Itemi &) = delete;
    Itemi &operator=(const Itemi &) = delete;

    const QString &name() const { return m_name; }
    const QString &text() const { return m_text; }
    const QList<Itemi *> &children() const { return m_children; }

    // Building the tree (used while reading a document).
    void appendText(const QString &text) { m_text.append(text); }
    Itemi *addChild(const QString &name);

    // With a name: the child of that name (the last one when several have
    // it), or null. With an empty name: the first child, or null.
    const Itemi *child(const QString &name) const;

    const Itemi *get(const QString &name, bool &value) const;
    template <typename T, codec::EnableIfInteger<T> = 0>
    const Itemi *get(const QString &name, T &value) const
    {
        if (const Itemi *c = childOrWarn(name))
            value = codec::decodeInt<T>(c->m_text);
        return this;
    }
    const Itemi *get(const QString &name, double &value) const;
    const Itemi *get(const QString &name, float &value) const;
    const Itemi *get(const QString &name, QString &value) const;
    const Itemi *get(const QString &name, QByteArray &value) const;
    const Itemi *get(const QString &name, QImage &value) const;
    const Itemi *get(const QString &name, QPoint &value) const;
    const Itemi *get(const QString &name, QPointF &value) const;
    const Itemi *get(const QString &name, QColor &value) const;
    const Itemi *get(const QString &name, QPalette &value) const;
    const Itemi *get(const QString &name, Archivable &object) const;

    // Replaces the list's content by one new object per child of the
    // container, whatever the child's name, each read by its load. The old
    // pointers are dropped from the list, not deleted: the caller owns them.
    // A missing container leaves the list unchanged.
    template <typename T>
    const Itemi *get(const QString &name, QList<T *> &list) const
    {
        static_assert(std::is_base_of_v<Archivable, T>, "list elements must be Archivable");
        const Itemi *container = childOrWarn(name);
        if (!container)
            return this;
        list.clear();
        for (const Itemi *e : container->m_children) {
            T *object = new T;
            object->load(e);
            list.append(object);
        }
        return this;
    }

    // Inserts one pair per entry of the container; an entry without "k" or
    // "v" is skipped, so a damaged entry cannot overwrite a good one.
    template <typename K, typename V>
    const Itemi *get(const QString &name, QMap<K, V> &map) const
    {
        static_assert(std::is_integral_v<K> && !std::is_same_v<K, bool>,
                      "map keys must be integers");
        const Itemi *container = childOrWarn(name);
        if (!container)
            return this;
        for (const Itemi *e : container->m_children) {
            const QString k = QStringLiteral("k");
            const QString v = QStringLiteral("v");
            if (!e->childOrWarn(k) || !e->childOrWarn(v))
                continue;
            K key{};
            V value{};
            e->get(k, key)->get(v, value);
            map.insert(key, value);
        }
        return this;
    }

private:
    const Itemi *childOrWarn(const QString &name) const;

    QString m_name;
    QString m_text;
    QList<Itemi *> m_children;
    QMultiHash<QString, int> m_index;
};

} // namespace arch

#endif
