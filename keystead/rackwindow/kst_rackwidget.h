#ifndef KST_RACKWIDGET_H
#define KST_RACKWIDGET_H

// A rack's window: the faces of its visible panels stacked top to bottom,
// each scaled to the window's width, in a scroll area. The scroll area sits
// in a frame window of its own (KST_RackWidgetResizer), the top-level
// window the user moves and closes; closing it only hides it.
//
// Every face placed in the window has an entry. A face grows into view
// (Showing) and shrinks out of it (Hiding) over AnimationMs; an entry takes
// its state's fraction of the face's full height:
//   Showing  f = elapsed / AnimationMs, at 1 the entry is Shown
//   Hiding   f = 1 - elapsed / AnimationMs, at 0 the entry is Hidden
//   Hidden   f = 0
//   Shown    f = 1
// A face taken out of the window leaves its entry behind without face: the
// gap it leaves shrinks from the face's last height, and the entry goes once
// it is hidden.

#include <QElapsedTimer>
#include <QFrame>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QScrollArea>
#include <QTimer>

class QSpacerItem;
class QVBoxLayout;

class KST_RackWidget : public QScrollArea
{
    Q_OBJECT

public:
    enum EntryState { Showing = 0, Hiding = 1, Hidden = 2, Shown = 3 };
    enum {
        Spacing = 2,        // between faces
        Margin = 2,         // around the faces
        AnimationMs = 300,  // a face grows or shrinks in this time
        AnimateMs = 10,     // layout period while faces grow or shrink
        SettleMs = 200,     // layout once more after a resize
        ShowDelayMs = 500,  // first layout once the faces are built
        RaisePeriodMs = 100,
        FadeMs = 200        // the window fades in over this time
    };

    explicit KST_RackWidget(QWidget *parent = nullptr);
    ~KST_RackWidget() override;

    // The widget the faces live in.
    QWidget *content() const { return m_content; }
    // The program's main window, raised after this one when they do not
    // overlap (may be null).
    void setMainWindow(QWidget *mainWindow) { m_mainWindow = mainWindow; }
    QWidget *mainWindow() const { return m_mainWindow; }

    // Places a face at an entry position (the end when out of range) in
    // state Hidden; setFaceVisible() lets it grow into view.
    void addFace(QWidget *face, int position = -1);
    // Takes the face out of the window at once: it is hidden and left
    // without parent; the gap it leaves shrinks away.
    void removeFace(QWidget *face);
    // Lets a placed face grow into view or shrink out of it.
    void setFaceVisible(QWidget *face, bool visible);
    bool hasFace(QWidget *face) const { return face && indexOf(face) >= 0; }
    // Entry position of the face, -1 when it has none.
    int indexOf(QWidget *face) const;
    // Entries with a face.
    int faceCount() const;
    // Entries, with the gaps of faces taken out.
    int entryCount() const { return m_entries.size(); }
    // The face's entry state; -1 without entry.
    int faceState(QWidget *face) const;
    // The entry's current height in pixels; -1 without entry.
    double faceHeight(QWidget *face) const;
    bool isAnimating() const;
    // The height the faces take at the current width (last layout).
    int contentHeight() const { return m_contentHeight; }
    // The height the faces placed in view (shown or growing into view) take
    // in full when the faces are faceWidth wide, and the height of the
    // tallest one of them alone (0 when none is in view).
    int fullContentHeight(int faceWidth, int *tallestFace = nullptr) const;

    // Whether the frame window is a normal, resizable window with a title
    // bar (on) or a bare one (off).
    bool isResizable() const { return m_resizable; }
    void setResizable(bool on) { m_resizable = on; }

    // The top-level window (the frame window when there is one): shown
    // where it was last, fading in, or hidden.
    void showWindow();
    void hideWindow();
    bool isWindowShown() const;
    bool isFading() const { return m_raiseTimer.isActive(); }

signals:
    void resize_finished();
    void closed();

public slots:
    // Fits the content to the faces shown at the window's current width and
    // moves the animations on.
    void updateLayout();

private slots:
    void timer_show_window();
    void timer_raise_window();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    struct Entry
    {
        QPointer<QWidget> face; // null once the face is taken out
        int state = Hidden;
        double height = 0;      // current height, the gap's when without face
        double fullHeight = 0;  // the face's height when taken out
        QElapsedTimer time;
        qint64 offsetMs = 0;    // added to time (a reversed animation)
        QSpacerItem *gap = nullptr; // stands in for a face taken out
    };

    double fraction(Entry &e);
    int fullHeightFor(const Entry &e, int width) const;
    void setEntryVisible(Entry &e, bool visible);
    void dropHiddenGaps();

    QWidget *m_content;
    QVBoxLayout *m_layout;
    QList<Entry> m_entries;
    QWidget *m_mainWindow = nullptr;
    int m_contentHeight = 0;
    bool m_resizable = true;
    bool m_inLayout = false;
    QTimer m_animateTimer;
    QTimer m_settleTimer;
    QTimer m_showTimer;
    QTimer m_raiseTimer;
    QElapsedTimer m_fadeTime;
    int m_fadeMs = FadeMs;
    QPoint m_position;
    bool m_positionKnown = false;
};

// The top-level window around a rack window. It snaps to the edges of the
// screen it is on and is either a normal framed window or a bare one.
class KST_RackWidgetResizer : public QFrame
{
    Q_OBJECT

public:
    explicit KST_RackWidgetResizer(QWidget *mainWindow = nullptr);
    ~KST_RackWidgetResizer() override;

    KST_RackWidget *rackWidget() const { return m_rack; }

    // Framed (title bar, resizable) or bare, from the rack window's flag.
    bool isFramed() const;
    // Inverts the flag and applies it; the window keeps its place.
    void toggleFrameMode();
    // Applies the rack window's flag to this window.
    void applyFrameMode();
    // The framed geometry to come back to; invalid until left framed once.
    QRect rememberedGeometry() const { return m_geometry; }

    // Moves the window onto a screen edge it is close to (half a title
    // bar); true if it moved.
    bool snapToScreen();

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    KST_RackWidget *m_rack;
    QRect m_geometry;
    bool m_snapping = false;
    bool m_applying = false;
};

#endif
