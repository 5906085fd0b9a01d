#ifndef PAN_WIDGET_H
#define PAN_WIDGET_H

// PAN_Widget: the on-screen face of one panel. It shows the face built from
// the panel's layout in a graphics view, turns presses on keys into key
// events (collector_msg), offers its LEDs, LCD keys and text displays to the
// button driver as Connector objects, takes key pictures dropped on it, fades
// the face in after a size change and flashes the whole face on request.

#include "collector_msg.h"
#include "pan_itemcallback.h"
#include "pan_layout.h"

#include <QElapsedTimer>
#include <QFont>
#include <QGraphicsView>
#include <QHash>
#include <QMap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace buttondriver {
class IButton;
}

class Connector;
class PAN_ImageContainer;
class PAN_Item;
class PAN_Limiter;
class PAN_UIBuilder;
class QGraphicsScene;
class QGridLayout;
class QSplashScreen;

struct PAN_WidgetOptions
{
    // A splash picture while the face is prepared, closed 500 ms after the
    // face is first shown.
    bool splash = true;
    // Size changes hide the face and fade it in once it is laid out again;
    // without this the face is laid out at once.
    bool fadeIn = true;
};

class PAN_Widget : public QWidget, public PAN_ItemCallback
{
    Q_OBJECT

public:
    // The MIME type of key pictures dragged onto a face: a QImage written
    // with QDataStream.
    static const char *const ButtonImageMime;

    // The view of the face's scene.
    class GW : public QGraphicsView
    {
    public:
        GW(QGraphicsScene *scene, PAN_Widget *owner);

    protected:
        void mousePressEvent(QMouseEvent *event) override;
        void contextMenuEvent(QContextMenuEvent *event) override;
        void dragEnterEvent(QDragEnterEvent *event) override;
        void dragMoveEvent(QDragMoveEvent *event) override;
        void dragLeaveEvent(QDragLeaveEvent *event) override;
        void dropEvent(QDropEvent *event) override;

    private:
        PAN_Widget *m_owner;
        // The last right-button press was taken by a key (a latch).
        bool m_rightTaken = false;
    };

    // Shared face resources (an image container, a cache of layouts) may be
    // given; otherwise the face has its own.
    explicit PAN_Widget(QWidget *parent = nullptr,
                        const PAN_WidgetOptions &options = PAN_WidgetOptions(),
                        PAN_ImageContainer *images = nullptr, PAN_LayoutCache *layouts = nullptr);
    ~PAN_Widget() override;

    // Relative file names are taken from this directory (the panel's data
    // directory); absolute ones as they are.
    void setDataDirectory(const QString &dir) { m_dataDir = dir; }
    QString dataDirectory() const { return m_dataDir; }
    // The layout, item image mapper and custom pictures files; an empty name
    // means none. Defaults: "layout.xml", "item_image_mapper.xml", "ci.xml".
    void setFiles(const QString &layout, const QString &mapper, const QString &customImages);
    QString layoutFile() const { return m_layoutFile; }
    QString mapperFile() const { return m_mapperFile; }
    QString customImagesFile() const { return m_customFile; }
    // Legends and display texts handed to the items as text instead of
    // rendered with the panel's pixel fonts (takes effect for connectors
    // made after it).
    void setUseItemText(bool on) { m_useItemText = on; }
    bool useItemText() const { return m_useItemText; }
    // Right-button latching of every key.
    void setLatching(bool on);
    bool latching() const { return m_latching; }
    // What a press of the utility item with that id does.
    void setUtilityAction(int id, std::function<void()> action);

    // Loads the layout (a failure is logged and the face built from what
    // could be read) and builds the face. False if anything failed; the
    // face then is partial or empty but works.
    bool setupUI();
    bool isInitialised() const { return m_initialised; }
    // Reads the layout at path (the data directory first, then the built-in
    // ":/" + path in lower case, which also stands in, with a warning, for
    // a file of the data directory that cannot be read); nothing happens if
    // it is the current one. False when no layout could be read whole.
    bool loadLayout(const QString &path);

    // Adds a Connector for every LED, LCD key and text display with an id of
    // 0 or more; a display's connector is first given the text ":".
    void collectButtons(QMap<qint32, buttondriver::IButton *> &buttons);

    void startFlash();
    void stopFlash();
    bool isFlashing() const { return m_flashTimer.isActive(); }

    bool hasHeightForWidth() const override { return !m_panelSize.isEmpty(); }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize panelSize() const { return m_panelSize; }

    PAN_UIBuilder *builder() const { return m_builder; }
    GW *view() const { return m_view; }
    QGraphicsScene *scene() const { return m_scene; }
    PAN_Limiter *limiter() const { return m_limiter; }
    PAN_Item *item(int id) const;
    Connector *connector(int id) const;

    // PAN_ItemCallback.
    void itemPressed(PAN_Item *item, bool down) override;
    void shaftTurned(PAN_Item *item, int value) override;
    QFont displayFont(int cellWidth, int cellHeight) override;

signals:
    // A press on the face that no item took (rack windows move faces by it).
    // A right click no key took also reaches the face as a context menu
    // event (customContextMenuRequested with Qt::CustomContextMenu).
    void mouse_event(QWidget *widget, QMouseEvent *event);
    // A key event {1, id, 1/0, 0} or a shaft turn {2, shaft id, 0, steps}.
    void collector_msg(const collector::CollectorMsg &msg);

public slots:
    void timer_show_gview();
    void showTimer();
    void timer_update_size();
    void shaftSpinTimer();
    void timerFlash();
    void shaftSpinnerButton(PAN_Item *item, bool down);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    friend class GW;

    QString resolve(const QString &name) const;
    void deleteConnectors();
    void updateSize();
    void applySize();
    void shade(QGraphicsPixmapItem *overlay, double t);
    void stepShaft(PAN_Item *stepButton, int steps);
    void setDropHighlight(bool on);
    PAN_Item *customTargetAt(const QPoint &viewPos) const;
    void dragEnter(QDragEnterEvent *event);
    void dragMove(QDragMoveEvent *event);
    void dragLeave();
    void drop(QDropEvent *event);

    PAN_WidgetOptions m_options;
    QGraphicsScene *m_scene;
    GW *m_view;
    QGridLayout *m_grid;
    PAN_Limiter *m_limiter;
    PAN_UIBuilder *m_builder;
    PAN_LayoutCache *m_layoutCache;
    std::shared_ptr<const PAN_Layout> m_layout;
    QString m_layoutPath;    // the file the layout in use was read from
    QString m_layoutRequest; // the name it was asked for, as resolved then
    QSplashScreen *m_splash = nullptr;

    QString m_dataDir;
    QString m_layoutFile;
    QString m_mapperFile;
    QString m_customFile;
    QSize m_panelSize;
    bool m_useItemText = false;
    bool m_latching = false;
    bool m_initialised = false;
    bool m_shownOnce = false;
    int m_utilityId = -1;
    std::function<void()> m_utilityAction;
    QList<Connector *> m_connectorList; // owned
    QMap<int, Connector *> m_connectors;
    QHash<quint64, QFont> m_fonts;
    int m_dropId = -1;

    QTimer m_fadeTimer;
    QElapsedTimer m_fadeClock;
    QTimer m_showTimer;
    QTimer m_sizeTimer;
    QTimer m_spinTimer;
    QElapsedTimer m_spinClock;
    QPointer<PAN_Item> m_spinItem;
    QTimer m_flashTimer;
    int m_flashCount = 0;

    // Shaft spinning while a step button is held: steps per tick at first,
    // steps per tick at full speed, ms before repeating, ms of single steps,
    // ms from then to full speed.
    const double m_spinMinStep = 1.0;
    const double m_spinMaxStep = 100.0;
    const double m_spinDelay = 300.0;
    const double m_spinSlow = 1000.0;
    const double m_spinRamp = 15000.0;
};

#endif
