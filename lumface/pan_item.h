#ifndef PAN_ITEM_H
#define PAN_ITEM_H

// PAN_Item: one element of a panel face (LCD key, LED, text display, shaft,
// step button, decorative picture). It draws itself from its image sequence
// (frames, display masks, colour covers) scaled to its size, shows the
// colour, legend, picture or text it was last given, animates presses and
// reports presses and releases to its callback.
//
// Press states: idle -> pressing -> held -> releasing -> idle. A key reports
// down when its press animation completes (or at the release if that comes
// first) and always reports up at the release.

#include "pan_layout.h"

#include <QBitmap>
#include <QColor>
#include <QElapsedTimer>
#include <QGraphicsPixmapItem>
#include <QImage>
#include <QObject>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QVector>

class Connector;
class PAN_ImageContainer;
class PAN_ItemCallback;

class PAN_Item : public QObject, public QGraphicsPixmapItem
{
    Q_OBJECT

public:
    enum Type {
        TypeNone = 0,
        TypeLED = 1,
        TypeLCD = 2,
        TypeShaftUp = 3,
        TypeShaftDown = 4,
        TypeShaft = 5,
        TypeVacuum = 6,
        TypeScreen = 7,
        TypeWidget = 8,
        TypeUtilButton = 9
    };
    enum PressState { StateHeld = 0, StateIdle = 1, StatePressing = 2, StateReleasing = 3 };
    // Drawn pictures are kept to this many pixels a side.
    enum { MaxSide = 8192 };

    // The type number of a layout type text, or TypeNone.
    static int typeFromText(const QString &text);
    static QString typeText(int type);

    // What the face builder gives an item.
    struct Setup
    {
        int type = TypeNone;
        int id = -1;
        int shaftId = -1;
        QString name;
        QPointF pos;  // layout units
        QSizeF size;  // layout units
        PAN_Layout::ImageSequence sequence;
        bool pushable = true;
        bool keepAspect = false;
        int vacuumLineCount = 2;
        int vacuumCharPerLine = 20;
        int ledType = PAN_Layout::LedPlain;
    };

    PAN_Item(const Setup &setup, PAN_ImageContainer *images, PAN_ItemCallback *callback);
    ~PAN_Item() override;

    int itemType() const { return m_setup.type; }
    int id() const { return m_setup.id; }
    int shaftId() const { return m_setup.shaftId; }
    const QString &name() const { return m_setup.name; }
    const Setup &setup() const { return m_setup; }
    bool pushable() const { return m_setup.pushable; }
    // Reported to the callback: keys, LEDs, shafts, step and utility buttons.
    bool reports() const;

    // What the button driver last gave the item; setting a legend bitmap,
    // picture or text clears the other two.
    void setColor(const QColor &color);
    QColor color() const { return m_color; }
    void setLegendBitmap(const QBitmap &bitmap);
    void setPicture(const QPixmap &picture);
    QPixmap picture() const { return m_picture; }
    void setText(const QString &text, int flags = 0);
    QString text() const { return m_text; }
    int textFlags() const { return m_textFlags; }
    bool hasLegend() const { return !m_legend.isNull(); }

    // Lays the item out for scale factors (sx, sy): its size becomes its
    // layout size times those (whole pixels, at most limit), and unless fast
    // it moves to its layout position times those. The connector is asked
    // to show its legend or text again.
    void resize(double sx, double sy, bool fast, const QSize &limit = QSize(MaxSide, MaxSide));
    QSize pixelSize() const { return m_pixelSize; }

    void setLatching(bool on) { m_latching = on; }
    bool latching() const { return m_latching; }
    void setAcceptsCustomPictures(bool on) { m_acceptsCustom = on; }
    bool acceptsCustomPictures() const { return m_acceptsCustom; }
    void setDropHighlight(bool on);

    void setCallback(PAN_ItemCallback *cb) { m_callback = cb; }
    void setConnector(Connector *c);
    Connector *connector() const;
    // Step buttons: the shaft they step.
    void setShaft(PAN_Item *shaft) { m_shaft = shaft; }
    PAN_Item *shaft() const { return m_shaft; }
    // Shafts: the knob's rotation in degrees.
    void setAngle(double degrees);
    double angle() const { return m_angle; }

    int pressState() const { return m_state; }
    double progress() const { return m_progress; }
    int frameIndex() const { return m_frameIndex; }
    int maskIndex() const { return m_maskIndex; }

    // Changes made between holdRedraw() and releaseRedraw() are drawn once,
    // at the release.
    void holdRedraw() { ++m_hold; }
    void releaseRedraw();
    // Draws the item now from its current state.
    void redraw();

    QRectF boundingRect() const override;
    QPainterPath shape() const override;

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;
    void wheelEvent(QGraphicsSceneWheelEvent *event) override;

private slots:
    void timerTimeout();
    void grabChecker();
    void timer_untoggle();

private:
    void startPressing();
    void release();
    void report(bool down);
    void setClockFor(int state);
    qint64 elapsed() const;
    bool updateIndices();
    void changed();
    void fetchPictures();
    QRect pictureArea() const;
    QRect legendWindow() const;
    QColor faceColor() const;
    void drawFrame(QPainter &p, const QRect &area);
    void drawFace(QPainter &p, const QRect &area);
    void drawDisplay(QPainter &p, const QRect &area);
    void drawLegendText(QPainter &p, const QRect &window, const QColor &face);

    Setup m_setup;
    PAN_ImageContainer *m_images;
    PAN_ItemCallback *m_callback;
    QPointer<Connector> m_connector;
    PAN_Item *m_shaft = nullptr;

    QColor m_color;
    QImage m_legend; // black on transparent, from the legend bitmap
    QPixmap m_picture;
    QString m_text;
    int m_textFlags = 0;

    int m_state = StateIdle;
    double m_progress = 0;
    int m_frameIndex = -1;
    int m_maskIndex = -1;
    int m_coverIndex = -1;
    bool m_latching = false;
    bool m_acceptsCustom = false;
    bool m_dropHighlight = false;
    double m_angle = 0;
    int m_wheelRest = 0;
    int m_hold = 0;
    bool m_dirty = false;

    QSize m_pixelSize;
    QSize m_areaSize; // the picture area (smaller than the item with keepaspect)
    QPoint m_areaOffset;
    QVector<QPixmap> m_frames;
    QVector<QPixmap> m_masks;
    QVector<QPixmap> m_covers;
    QPixmap m_background;
    QPainterPath m_shape;
    QRect m_window; // the legend window inside the picture area

    QTimer m_animTimer;
    QTimer m_grabTimer;
    QTimer m_latchTimer;
    QElapsedTimer m_clock;
    qint64 m_clockOffset = 0;
};

#endif
