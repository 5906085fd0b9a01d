// KST_RackWidgetResizer: the rack window's top-level frame: framed or bare,
// snapping to the screen's edges, never closed for real.

#include "kst_rackwidget.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMoveEvent>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <QtDebug>

#include <cstdlib>

KST_RackWidgetResizer::KST_RackWidgetResizer(QWidget *mainWindow) : QFrame(nullptr)
{
    // A rack window closed by the user is hidden, never the end of the
    // program.
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_AlwaysShowToolTips, true);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_rack = new KST_RackWidget(this);
    m_rack->setMainWindow(mainWindow);
    setWindowIcon(m_rack->windowIcon());
    layout->addWidget(m_rack);
    applyFrameMode();
}

KST_RackWidgetResizer::~KST_RackWidgetResizer() = default;

bool KST_RackWidgetResizer::isFramed() const
{
    return m_rack->isResizable();
}

void KST_RackWidgetResizer::toggleFrameMode()
{
    // The framed size is what the window comes back to.
    if (isFramed() && !isMaximized())
        m_geometry = geometry();
    m_rack->setResizable(!m_rack->isResizable());
    applyFrameMode();
}

// Changing the window flags hides a window; it comes back where its content
// was, so the faces stay where they are on the screen.
void KST_RackWidgetResizer::applyFrameMode()
{
    m_applying = true;
    const bool visible = isVisible();
    const QPoint at = geometry().topLeft();
    QSize size = this->size();
    if (isFramed()) {
        setFrameStyle(QFrame::StyledPanel);
        setWindowFlags(Qt::Window);
        if (!isMaximized() && m_geometry.isValid())
            size = m_geometry.size();
    } else {
        setFrameStyle(QFrame::NoFrame);
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    }
    if (visible) {
        setGeometry(QRect(at, size));
        show();
    } else if (size != this->size()) {
        resize(size);
    }
    m_applying = false;
}

bool KST_RackWidgetResizer::snapToScreen()
{
    const QRect frame = frameGeometry();
    QScreen *screen = QGuiApplication::screenAt(frame.center());
    if (!screen)
        screen = this->screen();
    if (!screen)
        return false;
    const QRect avail = screen->availableGeometry();
    const int threshold = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this) / 2;

    // The shift that puts a side within the threshold onto the screen's
    // edge, along one axis. Only where the window fits: a frame wider (or
    // taller) than the screen would be pushed from one edge to the other
    // and off it.
    const auto snap = [threshold](int low, int high, int availLow, int availHigh, const char *lowName,
                                  const char *highName) {
        if (high - low > availHigh - availLow)
            return 0;
        if (low != availLow && std::abs(low - availLow) <= threshold) {
            qDebug("snap %s", lowName);
            return availLow - low;
        }
        if (high != availHigh && std::abs(high - availHigh) <= threshold) {
            qDebug("snap %s", highName);
            return availHigh - high;
        }
        return 0;
    };
    const QPoint shift(snap(frame.left(), frame.right(), avail.left(), avail.right(), "left", "right"),
                       snap(frame.top(), frame.bottom(), avail.top(), avail.bottom(), "top", "bottom"));
    if (shift.isNull())
        return false;
    move(pos() + shift);
    return true;
}

void KST_RackWidgetResizer::moveEvent(QMoveEvent *event)
{
    QFrame::moveEvent(event);
    // The snap's own move lands on the edge and does not snap again.
    if (m_snapping || m_applying || !isVisible())
        return;
    m_snapping = true;
    snapToScreen();
    m_snapping = false;
}

void KST_RackWidgetResizer::closeEvent(QCloseEvent *event)
{
    // The rack hides the window and the panel set records it.
    event->ignore();
    emit closed();
}
