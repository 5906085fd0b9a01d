#ifndef PAN_IMAGECONTAINER_H
#define PAN_IMAGECONTAINER_H

// PAN_ImageContainer: the named pictures face items are drawn from (key
// frames, display masks, colour covers, panel backgrounds). Each picture is
// found once, from the image directory or else from the built-in set
// (":/images2/"), and handed out scaled to the sizes the items ask for; a
// scaled picture is made once per name and size and shared by every item of
// that size until reset() drops them all. The scaled pictures are held up
// to a budget of bytes: beyond it the least recently used go (items keep
// the pixmaps they took; a size asked for again is scaled again), so that
// resizing windows through many widths does not pile up pictures of sizes
// no face shows any more.

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPainterPath>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QStringList>

#include <memory>

class PAN_ImageContainer : public QObject
{
    Q_OBJECT

public:
    // Scaled pictures are refused beyond this many pixels a side; the size
    // key packs both sides into 16 bits each, and no face is that large.
    enum { MaxSide = 8192 };
    // The default budget of the scaled pictures: the pictures of a few
    // hundred faces at a few sizes.
    static constexpr qint64 DefaultBudgetBytes = 48 * 1024 * 1024;

    // One picture at one size, with what items derive from it: the region
    // its opaque pixels cover (the shape of a key) and their bounding
    // rectangle (the legend window), both computed on first use.
    class StoredImage : public QObject
    {
    public:
        explicit StoredImage(const QPixmap &pixmap, QObject *parent = nullptr)
            : QObject(parent), m_pixmap(pixmap)
        {
        }
        const QPixmap &pixmap() const { return m_pixmap; }
        qint64 bytes() const;
        // The outline of the pixels with alpha of at least half.
        const QPainterPath &opaqueShape();
        const QRect &opaqueRect();

    private:
        void derive();

        friend class PAN_ImageContainer;
        QPixmap m_pixmap;
        quint64 m_lastUse = 0; // the container's use counter at the last get()
        bool m_derived = false;
        QPainterPath m_shape;
        QRect m_rect;
    };

    // The image directory: "./images2", or the directory after the last
    // "-imdir" of the program's arguments.
    explicit PAN_ImageContainer(QObject *parent = nullptr);
    // An explicit image directory (tests, tools).
    PAN_ImageContainer(const QString &imageDir, QObject *parent);
    ~PAN_ImageContainer() override;

    static QString imageDirFromArguments(const QStringList &args);
    QString imageDir() const { return m_imageDir; }

    // The picture as loaded, or a null image after the warning
    // "image load failed".
    QImage getOriginal(const QString &name);
    // The picture scaled to exactly width x height (aspect ratio ignored),
    // or nullptr. "vacuum_bk.png" is drawn for the size rather than loaded.
    StoredImage *get(const QString &name, int width, int height);

    // Number of scaled pictures held (for tests and the benchmark).
    int scaledCount() const;
    // Bytes held by the scaled pictures and the originals.
    qint64 memoryBytes() const;
    // Bytes held by the scaled pictures alone, and their budget. A pointer
    // from get() stays valid until the next get() or reset().
    qint64 scaledBytes() const { return m_scaledBytes; }
    qint64 scaledBudget() const { return m_budget; }
    void setScaledBudget(qint64 bytes);

    // The display background: a dark, opaque window with a soft border.
    static QImage makeDisplayBackground(int width, int height);

public slots:
    // Drops every scaled picture; the originals stay.
    void reset();

private:
    QImage load(const QString &name) const;
    // Drops the least recently used scaled pictures, never keep, until the
    // rest fit three quarters of the budget.
    void trim(const StoredImage *keep);

    QString m_imageDir;
    QHash<QString, QImage> m_originals;
    QHash<QString, QHash<quint32, StoredImage *>> m_scaled;
    qint64 m_scaledBytes = 0;
    qint64 m_budget = DefaultBudgetBytes;
    quint64 m_useCounter = 0;
};

#endif
