#ifndef KST_RACKWIDGET_H
#define KST_RACKWIDGET_H

// A rack's window: the faces of its visible panels stacked top to bottom,
// each scaled to the window's width, in a scroll area. The scroll area sits
// in a frame window of its own (KST_RackWidgetResizer), the top-level
// window the user moves and closes; closing it only hides it.

#include <QByteArray>
#include <QFrame>
#include <QList>
#include <QPointer>
#include <QScrollArea>

class QVBoxLayout;

class KST_RackWidget : public QScrollArea
{
    Q_OBJECT

public:
    enum { Spacing = 2 };

    explicit KST_RackWidget(QWidget *parent = nullptr);
    ~KST_RackWidget() override;

    // The widget the faces live in.
    QWidget *content() const { return m_content; }
    // Places a face at position (the end when out of range).
    void addFace(QWidget *face, int position = -1);
    // Takes the face out of the window; it is hidden and left without parent.
    void removeFace(QWidget *face);
    bool hasFace(QWidget *face) const { return face && indexOf(face) >= 0; }
    int faceCount() const { return m_faces.size(); }

signals:
    void resize_finished();
    void closed();

public slots:
    // Fits the content to the faces shown at the window's current width.
    void updateLayout();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    int indexOf(QWidget *face) const;

    QWidget *m_content;
    QVBoxLayout *m_layout;
    // The faces belong to their panels and may go at any time.
    QList<QPointer<QWidget>> m_faces;
};

class KST_RackWidgetResizer : public QFrame
{
    Q_OBJECT

public:
    KST_RackWidgetResizer();
    ~KST_RackWidgetResizer() override;

    KST_RackWidget *rackWidget() const { return m_rack; }
    // Switches between a framed window the user moves and resizes and a
    // bare one without title bar, keeping the window where it is.
    void toggleFrameMode();
    bool isResizable() const { return m_resizable; }

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    KST_RackWidget *m_rack;
    bool m_resizable = true;
    QByteArray m_framedGeometry;
};

#endif
