#ifndef PAN_LAYOUT_H
#define PAN_LAYOUT_H

// PAN_Layout: a panel face as its layout file describes it: the background,
// named sizes ("Panel" is the face in layout units, "Window" the preferred
// widget size), named image sequences and the groups of items, flattened into
// one list in document order. Read in one pass with a streaming reader.

#include <QHash>
#include <QList>
#include <QMap>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

class QIODevice;
class QXmlStreamReader;

class PAN_Layout
{
public:
    enum LedType { LedPlain = 0, LedUpDownColors = 1 };
    // Groups nested deeper than this make the file unreadable: no face
    // needs more than a few levels, and the reader recurses per level.
    enum { MaxGroupDepth = 32 };

    struct ImageSequence
    {
        QString name;
        QStringList frames;
        QStringList displayMasks;
        QStringList colorCovers;
        int durationFw = 0; // ms
        int durationRv = 0; // ms
        QString background;
    };

    struct Group
    {
        QString name;
        int offsetX = 0;
        int offsetY = 0;
        int idFirst = -1;
        int idLast = -1;
        int shaftIdFirst = -1;
        int shaftIdLast = -1;
        QString type;
        QList<int> itemIds; // the item_id elements, in document order
        QString sequence;
        QString size;
        double spacing = 0;
        bool pushable = true;
        bool keepAspect = false;
        int vacuumLineCount = 2;
        int vacuumCharPerLine = 20;
        int ledType = LedPlain;
        QList<Group> children; // only while reading; flat groups have none
    };

    // Reads a layout and adds what it holds to this one. True unless the XML
    // is malformed ("PAN_Layout::load, xml error" is logged); what was read
    // before an error stays.
    bool load(QIODevice *dev);

    QString backgroundImage() const { return m_backgroundImage; }
    // The scene colour as (red, green, blue); black unless the file says.
    int backgroundRed() const { return m_bgRed; }
    int backgroundGreen() const { return m_bgGreen; }
    int backgroundBlue() const { return m_bgBlue; }

    bool hasSize(const QString &name) const { return m_sizes.contains(name); }
    QSize size(const QString &name) const { return m_sizes.value(name); }
    const QMap<QString, QSize> &sizes() const { return m_sizes; }

    // The named sequence, or an empty one.
    ImageSequence sequence(const QString &name) const { return m_sequences.value(name); }
    const QMap<QString, ImageSequence> &sequences() const { return m_sequences; }

    // Every group that has a type, in document order, each with its offsets
    // increased by its parent group's own offsets.
    const QList<Group> &groups() const { return m_groups; }

private:
    void readBackground(QXmlStreamReader &r);
    void readItemSize(QXmlStreamReader &r);
    void readImageSequence(QXmlStreamReader &r);
    bool readGroup(QXmlStreamReader &r, Group *g, int depth);
    void flatten(const Group &g, const Group *parent);

    QString m_backgroundImage;
    int m_bgRed = 0;
    int m_bgGreen = 0;
    int m_bgBlue = 0;
    QMap<QString, QSize> m_sizes;
    QMap<QString, ImageSequence> m_sequences;
    QList<Group> m_groups;
};

// Layouts several faces share, read once per file: the key is the file the
// layout was read from (an absolute path, or the built-in ":/" name).
class PAN_LayoutCache
{
public:
    std::shared_ptr<const PAN_Layout> find(const QString &path) const
    {
        return m_layouts.value(path);
    }
    void insert(const QString &path, std::shared_ptr<const PAN_Layout> layout)
    {
        m_layouts.insert(path, std::move(layout));
    }
    void clear() { m_layouts.clear(); }

private:
    QHash<QString, std::shared_ptr<const PAN_Layout>> m_layouts;
};

#endif
