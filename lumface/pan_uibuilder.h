#ifndef PAN_UIBUILDER_H
#define PAN_UIBUILDER_H

// PAN_UIBuilder: turns a layout into the items of a face's scene, lays them
// out for the widget's size, applies pictures from an item image mapper file
// and keeps the user's custom key pictures in a file of their own ("ci.xml"
// by default, written with the XML archive).

#include "pan_layout.h"

#include <QImage>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSize>
#include <QString>

#include <memory>

class PAN_ImageContainer;
class PAN_Item;
class PAN_ItemCallback;
class QGraphicsPixmapItem;
class QGraphicsScene;
class QIODevice;
class QWidget;

class PAN_UIBuilder : public QObject
{
    Q_OBJECT

public:
    // A face holds at most this many items: no panel comes near it, and it
    // keeps a hostile layout (a range of a billion ids) from building one.
    enum { MaxItems = 1024 };

    // Without an image container the builder makes one of its own (and
    // resets it on every resize, so pictures are made again at the new size).
    PAN_UIBuilder(PAN_ImageContainer *images, QGraphicsScene *scene, QWidget *parentWidget,
                  PAN_ItemCallback *callback, QObject *parent = nullptr);
    ~PAN_UIBuilder() override;

    void setLayout(std::shared_ptr<const PAN_Layout> layout);
    const PAN_Layout *layout() const { return m_layout.get(); }

    // Creates the items of the layout in the scene (after removing those of
    // an earlier setup). Stops at the first group with a missing size or an
    // unknown type, keeping what it made so far, and returns false.
    bool setup();
    // Removes and deletes every item, the background and the overlays.
    void clear();

    // Reads an item image mapper file and applies its pictures to the LEDs
    // it names; LEDs marked "custom" accept dropped pictures. False on an XML
    // error.
    bool setupMappedImages(QIODevice *dev);

    void setCustomImagesFile(const QString &path) { m_customFile = path; }
    QString customImagesFile() const { return m_customFile; }
    // Reads the custom pictures file and shows each picture on its item;
    // false when the file cannot be opened or parsed.
    bool loadCustomImages();
    // Stores the picture for the item and rewrites the whole file (atomically);
    // false when it cannot be written.
    bool setCustomImage(int id, const QImage &image);
    const QMap<int, QImage> &customImages() const { return m_custom; }

    // Lays the face out for a widget of width x height.
    bool resize(int width, int height, bool fast);
    QSize currentSize() const { return m_size; }

    // The items in document order; the first item with an id, or nullptr.
    const QList<PAN_Item *> &items() const { return m_items; }
    PAN_Item *item(int id) const;

    QSize panelSize() const { return m_panelSize; }
    QSize windowSize() const { return m_windowSize; }
    PAN_ImageContainer *images() const { return m_images; }
    bool ownsImages() const { return m_ownsImages; }

    QGraphicsPixmapItem *backgroundItem() const { return m_background; }
    // Two picture items above every item, for the face's shading; the lower
    // one starts hidden.
    QGraphicsPixmapItem *lowerOverlay() const { return m_lowerOverlay; }
    QGraphicsPixmapItem *upperOverlay() const { return m_upperOverlay; }
    // Makes an overlay a black picture of the face's current size.
    void fillOverlay(QGraphicsPixmapItem *overlay) const;

private:
    bool addGroup(const PAN_Layout::Group &g, qreal *z);

    PAN_ImageContainer *m_images;
    bool m_ownsImages;
    QGraphicsScene *m_scene;
    QWidget *m_parentWidget;
    PAN_ItemCallback *m_callback;
    std::shared_ptr<const PAN_Layout> m_layout;
    QList<PAN_Item *> m_items;
    QMap<int, PAN_Item *> m_shafts;
    QGraphicsPixmapItem *m_background = nullptr;
    QGraphicsPixmapItem *m_lowerOverlay = nullptr;
    QGraphicsPixmapItem *m_upperOverlay = nullptr;
    QSize m_panelSize;
    QSize m_windowSize;
    QSize m_size;
    QString m_customFile;
    QMap<int, QImage> m_custom;
};

#endif
