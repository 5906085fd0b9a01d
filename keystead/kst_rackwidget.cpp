#include "kst_rackwidget.h"

#include <QCloseEvent>
#include <QIcon>
#include <QPalette>
#include <QResizeEvent>
#include <QScrollBar>
#include <QVBoxLayout>

KST_RackWidget::KST_RackWidget(QWidget *parent) : QScrollArea(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_content = new QWidget;
    m_layout = new QVBoxLayout(m_content);
    m_layout->setSpacing(Spacing);
    m_layout->setContentsMargins(Spacing, Spacing, Spacing, Spacing);
    m_layout->addStretch(1);
    QPalette p = m_content->palette();
    p.setColor(QPalette::Window, Qt::black);
    m_content->setPalette(p);
    m_content->setAutoFillBackground(true);
    setWidget(m_content);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

KST_RackWidget::~KST_RackWidget()
{
    // The faces belong to their panels, which may outlive the window.
    for (const QPointer<QWidget> &face : qAsConst(m_faces))
        if (face)
            face->setParent(nullptr);
}

int KST_RackWidget::indexOf(QWidget *face) const
{
    for (int i = 0; i < m_faces.size(); ++i)
        if (m_faces.at(i) == face)
            return i;
    return -1;
}

void KST_RackWidget::addFace(QWidget *face, int position)
{
    if (!face || hasFace(face))
        return;
    m_faces.removeAll(QPointer<QWidget>());
    if (position < 0 || position > m_faces.size())
        position = m_faces.size();
    m_faces.insert(position, QPointer<QWidget>(face));
    face->setParent(m_content);
    m_layout->insertWidget(position, face);
    updateLayout();
}

void KST_RackWidget::removeFace(QWidget *face)
{
    const int i = face ? indexOf(face) : -1;
    if (i < 0) {
        qCritical("unexpected (%s,%d)", __FILE__, __LINE__);
        return;
    }
    m_faces.removeAt(i);
    m_layout->removeWidget(face);
    face->hide();
    face->setParent(nullptr);
    updateLayout();
}

void KST_RackWidget::updateLayout()
{
    const int width = viewport()->width() - 2 * frameWidth();
    int height = 0;
    int shown = 0;
    for (const QPointer<QWidget> &face : qAsConst(m_faces)) {
        if (!face || face->isHidden())
            continue;
        height += face->hasHeightForWidth() ? face->heightForWidth(width)
                                            : face->sizeHint().height();
        ++shown;
    }
    height += Spacing * qMax(0, shown - 1) + 2 * Spacing;
    m_content->setMinimumHeight(height);
    setVerticalScrollBarPolicy(height > viewport()->height() ? Qt::ScrollBarAlwaysOn
                                                             : Qt::ScrollBarAlwaysOff);
}

void KST_RackWidget::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    updateLayout();
    emit resize_finished();
}

KST_RackWidgetResizer::KST_RackWidgetResizer() : QFrame(nullptr)
{
    // A rack window closed by the user is hidden, never the end of the
    // program.
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_AlwaysShowToolTips, true);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setWindowIcon(QIcon(QStringLiteral(":/images2/rack_icon.png")));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_rack = new KST_RackWidget(this);
    layout->addWidget(m_rack);
}

KST_RackWidgetResizer::~KST_RackWidgetResizer() = default;

void KST_RackWidgetResizer::closeEvent(QCloseEvent *event)
{
    event->ignore();
    emit closed();
}

void KST_RackWidgetResizer::toggleFrameMode()
{
    const QRect client = geometry();
    const bool shown = isVisible();
    const bool active = isActiveWindow();
    m_resizable = !m_resizable;
    if (m_resizable) {
        setFrameStyle(QFrame::StyledPanel);
        setWindowFlags(windowFlags() & ~Qt::FramelessWindowHint);
        if (!isMaximized() && !m_framedGeometry.isEmpty())
            restoreGeometry(m_framedGeometry);
        else
            setGeometry(client);
    } else {
        m_framedGeometry = saveGeometry();
        setFrameStyle(QFrame::NoFrame);
        setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
        setGeometry(client);
    }
    // A change of window flags hides the window.
    if (shown)
        show();
    // Still the window the user works in (the next CTRL+T is meant for it).
    if (active)
        activateWindow();
}
