// KST_RackWidget: the faces' entries, their layout for the window's width,
// the grow and shrink animations and the window's fade-in.

#include "kst_rackwidget.h"

#include <QCloseEvent>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <QtDebug>

#include <algorithm>
#include <cmath>

KST_RackWidget::KST_RackWidget(QWidget *parent) : QScrollArea(parent)
{
    const QPixmap icon(QStringLiteral(":/images2/rack_icon.png"));
    if (icon.isNull())
        qCritical("failed to load rack window icon (%s,%d)", __FILE__, __LINE__);
    else
        setWindowIcon(QIcon(icon));
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    // The frame window around it provides the window frame.
    setWindowFlag(Qt::FramelessWindowHint, true);

    m_content = new QWidget;
    m_layout = new QVBoxLayout(m_content);
    m_layout->setSpacing(Spacing);
    m_layout->setContentsMargins(Margin, Margin, Margin, Margin);
    m_layout->addStretch(1);
    QPalette p = m_content->palette();
    p.setColor(QPalette::Window, Qt::black);
    m_content->setPalette(p);
    m_content->setAutoFillBackground(true);
    setWidget(m_content);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette own = palette();
    own.setColor(QPalette::Window, Qt::black);
    setPalette(own);
    setAutoFillBackground(true);

    m_animateTimer.setInterval(AnimateMs);
    connect(&m_animateTimer, &QTimer::timeout, this, &KST_RackWidget::updateLayout);
    m_settleTimer.setInterval(SettleMs);
    m_settleTimer.setSingleShot(true);
    connect(&m_settleTimer, &QTimer::timeout, this, &KST_RackWidget::updateLayout);
    m_showTimer.setSingleShot(true);
    connect(&m_showTimer, &QTimer::timeout, this, &KST_RackWidget::timer_show_window);
    m_showTimer.start(ShowDelayMs);
    connect(&m_raiseTimer, &QTimer::timeout, this, &KST_RackWidget::timer_raise_window);
}

KST_RackWidget::~KST_RackWidget()
{
    // The faces belong to their panels, which may outlive the window.
    for (const Entry &e : qAsConst(m_entries))
        if (e.face) {
            m_layout->removeWidget(e.face);
            e.face->hide();
            e.face->setParent(nullptr);
        }
}

// ---- Entries ------------------------------------------------------------------

int KST_RackWidget::indexOf(QWidget *face) const
{
    if (!face)
        return -1;
    for (int i = 0; i < m_entries.size(); ++i)
        if (m_entries.at(i).face == face)
            return i;
    return -1;
}

int KST_RackWidget::faceCount() const
{
    return int(std::count_if(m_entries.begin(), m_entries.end(),
                             [](const Entry &e) { return !e.face.isNull(); }));
}

int KST_RackWidget::faceState(QWidget *face) const
{
    const int i = indexOf(face);
    return i < 0 ? -1 : m_entries.at(i).state;
}

double KST_RackWidget::faceHeight(QWidget *face) const
{
    const int i = indexOf(face);
    return i < 0 ? -1.0 : m_entries.at(i).height;
}

bool KST_RackWidget::isAnimating() const
{
    return std::any_of(m_entries.begin(), m_entries.end(), [](const Entry &e) {
        return e.state == Showing || e.state == Hiding;
    });
}

void KST_RackWidget::addFace(QWidget *face, int position)
{
    if (!face || hasFace(face))
        return;
    // Entries and layout items go by the same index; a gap dropped first
    // does not move the place asked for.
    QWidget *before = position >= 0 && position < m_entries.size()
                          ? m_entries.at(position).face.data()
                          : nullptr;
    dropHiddenGaps();
    if (before)
        position = indexOf(before);
    if (position < 0 || position > m_entries.size())
        position = m_entries.size();
    Entry e;
    e.face = face;
    e.state = Hidden;
    e.time.start();
    m_entries.insert(position, e);
    face->hide();
    face->setParent(m_content);
    m_layout->insertWidget(position, face);
    updateLayout();
}

void KST_RackWidget::removeFace(QWidget *face)
{
    dropHiddenGaps();
    const int i = indexOf(face);
    if (i < 0) {
        qCritical("unexpected (%s,%d)", __FILE__, __LINE__);
        return;
    }
    Entry &e = m_entries[i];
    const bool wasShowing = e.state != Hidden;
    // The gap keeps the face's current height and shrinks from there.
    e.fullHeight = e.state == Hidden ? 0 : std::max(e.height, 0.0);
    e.height = e.fullHeight;
    e.face = nullptr;
    m_layout->removeWidget(face);
    face->hide();
    face->setParent(nullptr);
    e.gap = new QSpacerItem(0, qRound(e.height), QSizePolicy::Minimum, QSizePolicy::Fixed);
    m_layout->insertItem(i, e.gap);
    // Hiding counts down from the full gap.
    e.state = wasShowing ? Hiding : Hidden;
    e.offsetMs = 0;
    e.time.restart();
    dropHiddenGaps();
    updateLayout();
}

void KST_RackWidget::setFaceVisible(QWidget *face, bool visible)
{
    const int i = indexOf(face);
    if (i < 0) {
        qCritical("widget not found (%s,%d)", __FILE__, __LINE__);
        return;
    }
    setEntryVisible(m_entries[i], visible);
    updateLayout();
}

// A reversed animation goes on from the fraction it had reached.
void KST_RackWidget::setEntryVisible(Entry &e, bool visible)
{
    const double f = fraction(e);
    if (visible) {
        if (e.state == Shown || e.state == Showing)
            return;
        e.state = Showing;
        e.offsetMs = qint64(f * AnimationMs);
        if (e.face)
            e.face->show();
    } else {
        if (e.state == Hidden || e.state == Hiding)
            return;
        e.state = Hiding;
        e.offsetMs = qint64((1.0 - f) * AnimationMs);
    }
    e.time.restart();
}

// The entry's visible fraction now; a finished animation settles the state.
double KST_RackWidget::fraction(Entry &e)
{
    const qint64 ms = e.time.isValid() ? e.time.elapsed() + e.offsetMs : 0;
    switch (e.state) {
    case Showing: {
        const double f = double(ms) / AnimationMs;
        if (f < 1.0)
            return f;
        e.state = Shown;
        e.offsetMs = 0;
        e.time.restart();
        return 1.0;
    }
    case Hiding: {
        const double f = 1.0 - double(ms) / AnimationMs;
        if (f > 0.0)
            return f;
        e.state = Hidden;
        e.offsetMs = 0;
        e.time.restart();
        if (e.face)
            e.face->hide();
        return 0.0;
    }
    case Shown:
        return 1.0;
    default:
        return 0.0;
    }
}

// Gaps of faces taken out have nothing left to show once hidden.
void KST_RackWidget::dropHiddenGaps()
{
    for (int i = m_entries.size() - 1; i >= 0; --i) {
        Entry &e = m_entries[i];
        // A face deleted while in the window leaves an entry with nothing.
        const bool deleted = !e.face && !e.gap;
        if (!deleted && (e.face || e.state != Hidden))
            continue;
        if (e.gap) {
            m_layout->removeItem(e.gap);
            delete e.gap;
        }
        m_entries.removeAt(i);
    }
}

// ---- Layout -------------------------------------------------------------------

// A face keeps the aspect of its layout at any width.
int KST_RackWidget::fullHeightFor(const Entry &e, int width) const
{
    if (!e.face)
        return qRound(e.fullHeight);
    if (e.face->hasHeightForWidth())
        return e.face->heightForWidth(std::max(width, 1));
    return e.face->sizeHint().height();
}

int KST_RackWidget::fullContentHeight(int faceWidth, int *tallestFace) const
{
    int total = 0, counted = 0, tallest = 0;
    for (const Entry &e : m_entries) {
        if (!e.face || (e.state != Shown && e.state != Showing))
            continue;
        const int h = fullHeightFor(e, faceWidth);
        tallest = std::max(tallest, h);
        total += h;
        ++counted;
    }
    if (tallestFace)
        *tallestFace = tallest;
    return total + Spacing * std::max(0, counted - 1) + 2 * Margin;
}

void KST_RackWidget::updateLayout()
{
    if (m_inLayout)
        return;
    m_inLayout = true;

    // Move the animations on first; the fractions hold for this pass.
    QVector<double> f(m_entries.size());
    for (int i = 0; i < m_entries.size(); ++i)
        f[i] = fraction(m_entries[i]);
    dropHiddenGaps();
    f.resize(m_entries.size());
    for (int i = 0; i < m_entries.size(); ++i)
        f[i] = fraction(m_entries[i]);

    // The scroll bar is decided at the width the faces have without it, so
    // that showing it (and the faces shrinking with it) cannot take it away
    // again.
    const int fullWidth = std::max(1, width() - 2 * frameWidth() - 2 * Margin);
    const int viewHeight = height() - 2 * frameWidth();
    int fullContent = 0;
    int counted = 0;
    for (int i = 0; i < m_entries.size(); ++i) {
        const Entry &e = m_entries.at(i);
        if (e.state == Hidden)
            continue;
        fullContent += qRound(f[i] * fullHeightFor(e, fullWidth));
        ++counted;
    }
    fullContent += Spacing * std::max(0, counted - 1) + 2 * Margin;
    const Qt::ScrollBarPolicy policy =
        fullContent > viewHeight ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    if (verticalScrollBarPolicy() != policy)
        setVerticalScrollBarPolicy(policy);

    const int faceWidth = std::max(1, viewport()->width() - 2 * Margin);
    int total = 0;
    counted = 0;
    for (int i = 0; i < m_entries.size(); ++i) {
        Entry &e = m_entries[i];
        const int h = qRound(f[i] * fullHeightFor(e, faceWidth));
        e.height = f[i] * fullHeightFor(e, faceWidth);
        if (e.face) {
            if (e.state == Hidden) {
                e.face->hide();
            } else {
                if (e.face->minimumHeight() != h || e.face->maximumHeight() != h)
                    e.face->setFixedHeight(h);
                e.face->show();
            }
        } else if (e.gap && e.gap->sizeHint().height() != h) {
            e.gap->changeSize(0, h, QSizePolicy::Minimum, QSizePolicy::Fixed);
            m_layout->invalidate();
        }
        if (e.state != Hidden) {
            total += h;
            ++counted;
        }
    }
    m_contentHeight = total + Spacing * std::max(0, counted - 1) + 2 * Margin;
    m_content->setMinimumHeight(m_contentHeight);

    if (isAnimating()) {
        if (!m_animateTimer.isActive())
            m_animateTimer.start();
    } else {
        m_animateTimer.stop();
    }
    m_inLayout = false;
}

void KST_RackWidget::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    updateLayout();
    // Once more when the size has settled (the frame window may still be
    // adjusting its own).
    m_settleTimer.start();
    emit resize_finished();
}

void KST_RackWidget::closeEvent(QCloseEvent *event)
{
    // Only the rack hides its window; closing asks it to.
    event->ignore();
    emit closed();
}

// ---- Showing the window -------------------------------------------------------

void KST_RackWidget::timer_show_window()
{
    // The faces are built after the window: lay them out once they are.
    updateLayout();
}

bool KST_RackWidget::isWindowShown() const
{
    return window()->isVisible();
}

void KST_RackWidget::showWindow()
{
    QWidget *w = window();
    // A window on the screen already is only raised, not faded in again.
    if (!w->isVisible()) {
        if (m_positionKnown)
            w->move(m_position);
        m_fadeTime.start();
        w->setWindowOpacity(0.0);
        w->show();
    }
    m_position = w->pos();
    m_positionKnown = true;
    m_raiseTimer.start(RaisePeriodMs);
}

void KST_RackWidget::hideWindow()
{
    m_raiseTimer.stop();
    QWidget *w = window();
    if (w->isVisible()) {
        m_position = w->pos();
        m_positionKnown = true;
    }
    w->hide();
    w->setWindowOpacity(1.0);
}

// Fades the window in and keeps it in front; the main window follows it
// unless it would cover it.
void KST_RackWidget::timer_raise_window()
{
    QWidget *w = window();
    const double opacity =
        m_fadeTime.isValid() ? std::min(1.0, double(m_fadeTime.elapsed()) / m_fadeMs) : 1.0;
    if (opacity >= 1.0)
        m_raiseTimer.stop();
    if (w->isVisible()) {
        w->show();
        w->raise();
        if (m_mainWindow && m_mainWindow->isVisible()
            && !m_mainWindow->frameGeometry().contains(w->frameGeometry()))
            m_mainWindow->raise();
    }
    w->setWindowOpacity(opacity);
}
