#include "lib_debugwindow.h"

#include "lib_message_handler.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QTextCursor>
#include <QtDebug>

namespace {

QPointer<LIB_DebugWindow> s_window;

} // namespace

LIB_DebugWindow *LIB_DebugWindow::instance(const QString &title)
{
    if (!s_window) {
        s_window = new LIB_DebugWindow;
        s_window->resize(800, 500);
        s_window->show();
        LIB_MessageHandler::setWindow(s_window);
        LIB_MessageHandler::install();
        logRevisionInfo();
    }
    s_window->show();
    s_window->setWindowTitle(title);
    return s_window;
}

LIB_DebugWindow *LIB_DebugWindow::existing()
{
    return s_window;
}

LIB_DebugWindow::LIB_DebugWindow() : QTextEdit(nullptr)
{
    connect(this, &LIB_DebugWindow::log_signal, this, &LIB_DebugWindow::log_slot,
            Qt::AutoConnection);
    m_batch.setSingleShot(true);
    m_batch.setInterval(BatchMs);
    connect(&m_batch, &QTimer::timeout, this, &LIB_DebugWindow::flush);
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QTextEdit::NoWrap);
    document()->setMaximumBlockCount(MaxLines);
    setWindowIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    QPalette p = palette();
    p.setColor(QPalette::Base, QColor(250, 250, 244));
    p.setColor(QPalette::Text, Qt::black);
    setPalette(p);
}

LIB_DebugWindow::~LIB_DebugWindow()
{
    // From here on no line is sent to this window; lines already on their
    // way are dropped with the window's pending events.
    LIB_MessageHandler::setWindow(nullptr);
}

void LIB_DebugWindow::logRevisionInfo()
{
    QFile f(QStringLiteral(":/revision.info"));
    if (!f.open(QIODevice::ReadOnly)) {
        qWarning("could not read revision.info (%s,%d)", __FILE__, __LINE__);
        return;
    }
    const QByteArray dashes(40, '-');
    qDebug("%s\nREVISION INFO\n%s\n%s", dashes.constData(), f.readAll().trimmed().constData(),
           dashes.constData());
}

void LIB_DebugWindow::log_slot(QColor colour, QString text)
{
    m_pending.push_back({colour, text});
    // The window shows its last MaxLines lines, two pieces a line (number
    // and text): older pieces of a burst would only be trimmed again.
    while (m_pending.size() > 2 * size_t(MaxLines))
        m_pending.pop_front();
    if (!m_batch.isActive())
        m_batch.start();
}

void LIB_DebugWindow::flush()
{
    m_batch.stop();
    if (m_pending.empty())
        return;
    QScrollBar *bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    for (const Piece &p : m_pending) {
        format.setForeground(p.colour);
        cursor.insertText(p.text, format);
    }
    cursor.endEditBlock();
    m_pending.clear();
    if (atEnd)
        bar->setValue(bar->maximum());
}

void LIB_DebugWindow::updateShown()
{
    LIB_MessageHandler::setWindowShown(isVisible() && isEnabled());
}

void LIB_DebugWindow::showEvent(QShowEvent *event)
{
    QTextEdit::showEvent(event);
    updateShown();
}

void LIB_DebugWindow::hideEvent(QHideEvent *event)
{
    QTextEdit::hideEvent(event);
    updateShown();
}

void LIB_DebugWindow::changeEvent(QEvent *event)
{
    QTextEdit::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        updateShown();
}
