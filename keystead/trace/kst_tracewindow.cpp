#include "kst_tracewindow.h"

#include "kst_tracefollower.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>

#include "tess_savefile.h"
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

// Every match up to this many is highlighted; more would slow the painting
// of a full view to a crawl.
const int kMaxHighlights = 5000;

// The windows showFor opened, by panel directory.
QHash<QString, QPointer<KST_TraceWindow>> &openWindows()
{
    static QHash<QString, QPointer<KST_TraceWindow>> windows;
    return windows;
}

QString skippedText(qint64 n)
{
    return n == 1 ? QStringLiteral("\u2026 1 line skipped")
                  : QStringLiteral("\u2026 %1 lines skipped").arg(n);
}

} // namespace

KST_TraceWindow::KST_TraceWindow(const QString &panelDir, const QString &panelName,
                                 QWidget *parent, const Options &options)
    : QWidget(parent, Qt::Window), m_dir(panelDir), m_options(options)
{
    m_options.tailLines = qMax(0, m_options.tailLines);
    m_options.viewLines = qMax(1, m_options.viewLines);
    setWindowTitle(QStringLiteral("Protocol trace - %1").arg(panelName));
    // Closing the last trace window is not the end of the program.
    setAttribute(Qt::WA_QuitOnClose, false);

    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(tr("Find"));
    m_search->setClearButtonEnabled(true);
    auto *previous = new QPushButton(tr("Previous"), this);
    auto *next = new QPushButton(tr("Next"), this);
    m_pause = new QPushButton(tr("Pause"), this);
    m_pause->setCheckable(true);
    auto *save = new QPushButton(tr("Save as\u2026"), this);
    auto *clear = new QPushButton(tr("Clear"), this);
    for (QPushButton *b : {previous, next, m_pause, save, clear})
        b->setAutoDefault(false);

    m_view = new QPlainTextEdit(this);
    m_view->setReadOnly(true);
    m_view->setUndoRedoEnabled(false);
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_view->setMaximumBlockCount(m_options.viewLines);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_status = new QLabel(this);

    auto *bar = new QHBoxLayout;
    bar->addWidget(m_search, 1);
    bar->addWidget(previous);
    bar->addWidget(next);
    bar->addSpacing(12);
    bar->addWidget(m_pause);
    bar->addWidget(save);
    bar->addWidget(clear);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_status);

    connect(m_search, &QLineEdit::returnPressed, this, &KST_TraceWindow::findNext);
    connect(m_search, &QLineEdit::textChanged, this, [this] {
        m_findNote.clear();
        updateHighlights();
        updateStatus();
    });
    connect(next, &QPushButton::clicked, this, &KST_TraceWindow::findNext);
    connect(previous, &QPushButton::clicked, this, &KST_TraceWindow::findPrevious);
    connect(m_pause, &QPushButton::toggled, this, &KST_TraceWindow::setPaused);
    connect(save, &QPushButton::clicked, this, &KST_TraceWindow::saveAs);
    connect(clear, &QPushButton::clicked, this, &KST_TraceWindow::clearView);
    auto *findKey = new QShortcut(QKeySequence::Find, this);
    connect(findKey, &QShortcut::activated, this, [this] {
        m_search->setFocus(Qt::ShortcutFocusReason);
        m_search->selectAll();
    });
    connect(new QShortcut(QKeySequence::FindNext, this), &QShortcut::activated, this,
            &KST_TraceWindow::findNext);
    connect(new QShortcut(QKeySequence::FindPrevious, this), &QShortcut::activated, this,
            &KST_TraceWindow::findPrevious);

    m_follower = std::make_unique<KST_TraceFollower>(
        m_dir, [this](const QByteArray &line) { takeLine(line); });
    m_follower->startWithTail(m_options.tailLines);
    flushPending();
    m_pollTimer.setInterval(m_options.pollMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &KST_TraceWindow::timer_poll);
    updateStatus();
}

KST_TraceWindow::~KST_TraceWindow()
{
    dropMarker();
}

// ---- Opening and closing ----------------------------------------------------

KST_TraceWindow *KST_TraceWindow::windowFor(const QString &panelDir)
{
    return openWindows().value(KST_TraceMarker::key(panelDir)).data();
}

KST_TraceWindow *KST_TraceWindow::showFor(const QString &dir, const QString &panelName,
                                          QObject *panel)
{
    if (dir.isEmpty()) {
        qWarning("no panel directory to trace (%s,%d)", __FILE__, __LINE__);
        return nullptr;
    }
    const QString title = QStringLiteral("Protocol trace - %1").arg(panelName);
    KST_TraceWindow *w = windowFor(dir);
    if (!w) {
        w = new KST_TraceWindow(dir, panelName);
        w->setAttribute(Qt::WA_DeleteOnClose);
        // A panel taken out of the set takes its trace window with it.
        if (panel)
            connect(panel, &QObject::destroyed, w, &QWidget::close);
        openWindows().insert(KST_TraceMarker::key(dir), w);
        w->resize(900, 500);
    }
    w->setWindowTitle(title);
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

void KST_TraceWindow::showEvent(QShowEvent *event)
{
    takeMarker();
    m_pollTimer.start();
    QWidget::showEvent(event);
}

void KST_TraceWindow::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (!event->isAccepted())
        return;
    m_pollTimer.stop();
    dropMarker();
    updateStatus();
}

// The panel directory is made if the panel has not run yet, so that its
// first start already traces.
void KST_TraceWindow::takeMarker()
{
    if (m_holdsMarker)
        return;
    QString error;
    if (!QDir().mkpath(m_dir))
        error = QStringLiteral("cannot create %1").arg(m_dir);
    else if (KST_TraceMarker::acquire(m_dir, &error))
        m_holdsMarker = true;
    m_markerError = m_holdsMarker ? QString() : error;
    if (!m_holdsMarker)
        qWarning("protocol trace not switched on: %s (%s,%d)", qPrintable(error), __FILE__,
                 __LINE__);
    updateStatus();
}

void KST_TraceWindow::dropMarker()
{
    if (!m_holdsMarker)
        return;
    m_holdsMarker = false;
    KST_TraceMarker::release(m_dir);
}

// ---- Following --------------------------------------------------------------

void KST_TraceWindow::takeLine(const QByteArray &line)
{
    m_pending.push_back(QString::fromUtf8(line));
    if (int(m_pending.size()) > m_options.viewLines) {
        m_pending.pop_front();
        ++m_skipped;
    }
}

void KST_TraceWindow::timer_poll()
{
    const size_t before = m_pending.size();
    const qint64 skippedBefore = m_skipped;
    m_follower->poll();
    if (m_pending.size() != before || m_skipped != skippedBefore) {
        flushPending();
        updateStatus();
    }
}

// Shows the waiting lines at the view's end in one piece, behind a line
// saying how many did not fit; the view lets its oldest lines go beyond its
// budget. A view scrolled to its end stays there.
void KST_TraceWindow::flushPending()
{
    if (m_paused || (m_pending.empty() && m_skipped == 0))
        return;
    QStringList text;
    if (m_skipped > 0) {
        // The line saying so takes a place of the budget.
        if (int(m_pending.size()) >= m_options.viewLines) {
            m_pending.pop_front();
            ++m_skipped;
        }
        text.append(skippedText(m_skipped));
    }
    for (QString &l : m_pending)
        text.append(std::move(l));
    m_pending.clear();
    m_skipped = 0;
    QScrollBar *bar = m_view->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    m_view->appendPlainText(text.join(QLatin1Char('\n')));
    if (atEnd)
        bar->setValue(bar->maximum());
    if (!m_search->text().isEmpty())
        updateHighlights();
}

void KST_TraceWindow::setPaused(bool paused)
{
    m_paused = paused;
    if (m_pause->isChecked() != paused) {
        const QSignalBlocker block(m_pause);
        m_pause->setChecked(paused);
    }
    m_pause->setText(paused ? tr("Resume") : tr("Pause"));
    flushPending();
    updateStatus();
}

void KST_TraceWindow::clearView()
{
    m_view->clear();
    m_findNote.clear();
    updateHighlights();
    updateStatus();
}

QStringList KST_TraceWindow::lines() const
{
    QStringList out;
    const QTextDocument *doc = m_view->document();
    if (doc->isEmpty())
        return out;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        out.append(b.text());
    return out;
}

// ---- Search -----------------------------------------------------------------

bool KST_TraceWindow::findNext()
{
    return find(false);
}

bool KST_TraceWindow::findPrevious()
{
    return find(true);
}

bool KST_TraceWindow::find(bool backward)
{
    const QString text = m_search->text();
    if (text.isEmpty())
        return false;
    const QTextDocument::FindFlags flags =
        backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    m_findNote.clear();
    bool found = m_view->find(text, flags);
    if (!found) {
        // Round the end of the view and once more.
        const QTextCursor was = m_view->textCursor();
        QTextCursor from(m_view->document());
        from.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
        m_view->setTextCursor(from);
        found = m_view->find(text, flags);
        if (!found)
            m_view->setTextCursor(was);
        m_findNote = found ? (backward ? tr("search went on from the end")
                                       : tr("search went on from the top"))
                           : tr("not found");
    }
    updateStatus();
    return found;
}

void KST_TraceWindow::updateHighlights()
{
    QList<QTextEdit::ExtraSelection> marks;
    m_matches = 0;
    const QString text = m_search->text();
    if (!text.isEmpty()) {
        QTextEdit::ExtraSelection mark;
        mark.format.setBackground(QColor(255, 230, 90));
        mark.format.setForeground(Qt::black);
        const QTextDocument *doc = m_view->document();
        QTextCursor at(m_view->document());
        while (m_matches < kMaxHighlights) {
            at = doc->find(text, at);
            if (at.isNull())
                break;
            mark.cursor = at;
            marks.append(mark);
            ++m_matches;
        }
    }
    m_view->setExtraSelections(marks);
}

// ---- Saving -----------------------------------------------------------------

bool KST_TraceWindow::saveTo(const QString &path, QString *error)
{
    // Replacing the firmware's own file would cut this window (and any
    // other reader) off the lines it goes on writing.
    const QString target = QFileInfo(path).absoluteFilePath();
    for (const char *own : {"trace.txt", "trace.txt.1"}) {
        if (QFileInfo(QDir(m_dir).filePath(QLatin1String(own))).absoluteFilePath() == target) {
            *error = tr("%1 is the panel's own trace file").arg(path);
            return false;
        }
    }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        *error = tr("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    for (const QString &l : lines()) {
        f.write(l.toUtf8());
        f.write("\n", 1);
    }
    tess::SaveError failure;
    if (!tess::commitSaveFile(f, &failure)) {
        *error = tr("cannot write %1: %2").arg(path, failure.text);
        return false;
    }
    return true;
}

void KST_TraceWindow::saveAs()
{
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Save protocol trace"), QDir::home().filePath(QStringLiteral("trace.txt")),
        tr("Text files (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!saveTo(path, &error)) {
        qWarning("protocol trace not saved: %s (%s,%d)", qPrintable(error), __FILE__, __LINE__);
        QMessageBox::warning(this, tr("Save protocol trace"), error);
    }
}

// ---- Status -----------------------------------------------------------------

QString KST_TraceWindow::statusText() const
{
    return m_status->text();
}

void KST_TraceWindow::updateStatus()
{
    QStringList parts;
    if (!m_markerError.isEmpty())
        parts.append(tr("trace not switched on: %1").arg(m_markerError));
    const int shown = m_view->document()->isEmpty() ? 0 : m_view->blockCount();
    parts.append(shown == 1 ? tr("1 line") : tr("%1 lines").arg(shown));
    if (m_paused) {
        const qint64 waiting = qint64(m_pending.size()) + m_skipped;
        parts.append(tr("paused, %1 new").arg(waiting));
    }
    if (!m_search->text().isEmpty())
        parts.append(m_matches >= kMaxHighlights ? tr("%1+ matches").arg(m_matches)
                 : m_matches == 1 ? tr("1 match") : tr("%1 matches").arg(m_matches));
    if (!m_findNote.isEmpty())
        parts.append(m_findNote);
    m_status->setText(parts.join(QStringLiteral(" \u00b7 ")));
}
