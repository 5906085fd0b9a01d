#include "kst_commwidget.h"

#include "kst_panelinstance.h"

#include <QPainter>
#include <QtDebug>

namespace {

const QColor kGrey(128, 128, 128);

int bright(int level, int levelCount)
{
    if (levelCount <= 0)
        return 64;
    return 64 + qBound(0, level, levelCount) * 191 / levelCount;
}

} // namespace

KST_CommWidget::KST_CommWidget(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
}

QSize KST_CommWidget::sizeHint() const
{
    const int h = fontMetrics().height();
    return QSize(2 * h, h);
}

QColor KST_CommWidget::transmitColor(int level, int levelCount)
{
    const int r = bright(level, levelCount);
    return QColor(r, r * 4 / 5, 0);
}

QColor KST_CommWidget::receiveColor(int level, int levelCount)
{
    return QColor(0, bright(level, levelCount), 0);
}

QColor KST_CommWidget::failureColor(int level, int levelCount)
{
    return QColor(bright(level, levelCount), 0, 0);
}

void KST_CommWidget::updateFrom(KST_PanelInstance *panel)
{
    if (!panel)
        return;
    const int tx = panel->commLevel(KST_PanelInstance::CommTransmit, true);
    const int rx = panel->commLevel(KST_PanelInstance::CommReceive, true);
    const int fail = panel->commLevel(KST_PanelInstance::CommSendFailure, true);
    showLevels(tx, rx, fail, panel->commLevelCount(),
               panel->state() == KST_PanelInstance::Started);
}

void KST_CommWidget::showLevels(int transmit, int receive, int failure, int levelCount,
                                bool started)
{
    if (transmit == m_transmit && receive == m_receive && failure == m_failure
        && levelCount == m_levelCount && started == m_started && !m_left.isNull())
        return;
    m_transmit = transmit;
    m_receive = receive;
    m_failure = failure;
    m_levelCount = levelCount;
    m_started = started;
    fillSquares();
    update();
}

// The mask is scaled to a square of the widget's height, once per height.
void KST_CommWidget::rebuildMask()
{
    const int side = qMax(1, height());
    if (!m_mask.isNull() && m_mask.height() == side)
        return;
    QImage source(QStringLiteral(":/images2/comm.png"));
    if (source.isNull()) {
        qCritical("failed to load comm mask (%s,%d)", __FILE__, __LINE__);
        source = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
        source.fill(Qt::white);
    }
    m_mask = source.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                 .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void KST_CommWidget::fillSquares()
{
    rebuildMask();
    const int side = m_mask.height();
    QColor tx = kGrey, rx = kGrey, fail = kGrey;
    if (m_started) {
        tx = transmitColor(m_transmit, m_levelCount);
        rx = receiveColor(m_receive, m_levelCount);
        fail = failureColor(m_failure, m_levelCount);
    }
    m_left = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
    m_right = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
    m_right.fill(rx);
    if (m_started && fail.red() > 64) {
        // A failed send within the fade time: half the square tells.
        const int half = side / 2;
        m_left.fill(tx);
        QPainter p(&m_left);
        p.fillRect(0, 0, half, side, fail);
        p.fillRect(half, 0, half, side, tx);
    } else {
        m_left.fill(tx);
    }
    for (QImage *square : {&m_left, &m_right}) {
        QPainter p(square);
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        p.drawImage(0, 0, m_mask);
    }
}

void KST_CommWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (!m_left.isNull() && m_left.height() != qMax(1, height()))
        fillSquares();
}

void KST_CommWidget::paintEvent(QPaintEvent *)
{
    if (m_left.isNull())
        fillSquares();
    QPainter p(this);
    const int side = m_left.height();
    const int centre = width() / 2;
    const int top = (height() - side) / 2;
    p.drawImage(centre - side, top, m_left);
    p.drawImage(centre, top, m_right);
}
