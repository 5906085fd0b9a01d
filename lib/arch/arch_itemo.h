#ifndef ARCH_ITEMO_H
#define ARCH_ITEMO_H

#include "arch_archivable.h"
#include "arch_codec.h"

#include <QList>
#include <QMap>
#include <QString>

#include <type_traits>

class QByteArray;
class QColor;
class QImage;
class QPalette;
class QPoint;
class QPointF;

namespace arch {

// A node of the tree an archive is written from: one element with its tag
// name, its text (the encoded value, empty for a container), an optional
// comment written before the text, and its child elements in order. A node
// owns its children.
class Itemo
{
public:
    explicit Itemo(const QString &name, const QString &comment = QString());
    ~Itemo();
    Itemo(const Itemo &) = delete;
    Itemo &operator=(const Itemo &) = delete;

    const QString &name() const { return m_name; }
    const QString &text() const { return m_text; }
    void setText(const QString &text) { m_text = text; }
    const QList<Itemo *> &children() const { return m_children; }
    const QString &comment() const { return m_comment; }

    // Appends a child with empty text and returns it.
    Itemo *addChild(const QString &name, const QString &comment = QString());

    // Each put appends one child element holding the value and returns this
    // node, so fields are written by chained calls in their order.
    Itemo *put(const QString &name, bool value);
    template <typename T, codec::EnableIfInteger<T> = 0>
    Itemo *put(const QString &name, T value)
    {
        return putText(name, codec::encodeInt(value));
    }
    Itemo *put(const QString &name, double value);
    Itemo *put(const QString &name, float value);
    Itemo *put(const QString &name, const QString &value);
    // Without this a string literal would be stored as the bool true.
    Itemo *put(const QString &name, const char *value);
    Itemo *put(const QString &name, const QByteArray &value);
    Itemo *put(const QString &name, const QImage &value);
    Itemo *put(const QString &name, const QPoint &value);
    Itemo *put(const QString &name, const QPointF &value);
    Itemo *put(const QString &name, const QColor &value);
    Itemo *put(const QString &name, const QPalette &value);
    Itemo *put(const QString &name, const Archivable &object);

    // A container with one child "e" per element, in list order.
    template <typename T>
    Itemo *put(const QString &name, const QList<T *> &list)
    {
        static_assert(std::is_base_of_v<Archivable, T>, "list elements must be Archivable");
        Itemo *container = addChild(name);
        for (const T *element : list) {
            if (!element) {
                nullElement(name);
                continue;
            }
            container->put(QStringLiteral("e"), static_cast<const Archivable &>(*element));
        }
        return this;
    }

    // A container with one child "e" per entry in ascending key order, each
    // holding the key as "k" and the value as "v".
    template <typename K, typename V>
    Itemo *put(const QString &name, const QMap<K, V> &map)
    {
        static_assert(std::is_integral_v<K> && !std::is_same_v<K, bool>,
                      "map keys must be integers");
        Itemo *container = addChild(name);
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            Itemo *entry = container->addChild(QStringLiteral("e"));
            entry->put(QStringLiteral("k"), it.key());
            entry->put(QStringLiteral("v"), it.value());
        }
        return this;
    }

    // Any other pointer would silently turn into a bool.
    template <typename T>
    Itemo *put(const QString &name, const T *value) = delete;

private:
    Itemo *putText(const QString &name, const QString &text);
    static void nullElement(const QString &listName);

    QString m_name;
    QString m_text;
    QList<Itemo *> m_children;
    QString m_comment;
};

} // namespace arch

#endif
