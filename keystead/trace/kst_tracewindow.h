#ifndef KST_TRACEWINDOW_H
#define KST_TRACEWINDOW_H

// KST_TraceWindow: a top-level window following one panel's protocol trace
// live. While it is open the trace marker of the panel's directory is held
// (the firmware traces while any window of the panel is open); it opens
// with the last lines the trace file holds and then shows each line as the
// firmware writes it. The view keeps a budget of lines and lets the oldest
// go. Search (case-insensitive, next and previous with wrap-around, every
// match highlighted), Pause (the view stands still; resuming shows what
// came meanwhile, with a line saying how many did not fit), Save as (what
// the view holds) and Clear (the view only: the file is the firmware's).
//
// GUI thread only.

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <memory>

class KST_TraceFollower;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

struct KST_TraceWindowOptions
{
    int tailLines = 2000;  // lines of the file shown on opening
    int viewLines = 10000; // the view's budget
    int pollMs = 100;      // how often the file is looked at
};

class KST_TraceWindow : public QWidget
{
    Q_OBJECT

public:
    using Options = KST_TraceWindowOptions;

    // panelDir: the directory the firmware writes "trace.txt" to;
    // panelName: how the title names the panel.
    KST_TraceWindow(const QString &panelDir, const QString &panelName, QWidget *parent = nullptr,
                    const Options &options = Options());
    ~KST_TraceWindow() override;

    // Opens the trace window of the panel whose firmware writes its trace to
    // panelDir (KST_PanelInstance::traceDirectory), or raises it if it is
    // open already; the window closes when panel is destroyed. panelName:
    // how the title names the panel. Nullptr for an empty directory.
    static KST_TraceWindow *showFor(const QString &panelDir, const QString &panelName,
                                    QObject *panel);
    // The window showFor opened for that directory, or nullptr.
    static KST_TraceWindow *windowFor(const QString &panelDir);

    QString panelDir() const { return m_dir; }
    // The lines the view holds, oldest first.
    QStringList lines() const;
    bool isPaused() const { return m_paused; }
    // Whether this window holds the panel's trace marker.
    bool holdsMarker() const { return m_holdsMarker; }
    // Lines read while paused, waiting to be shown.
    int pendingLines() const { return int(m_pending.size()); }
    QString statusText() const;
    QPlainTextEdit *view() const { return m_view; }
    QLineEdit *searchField() const { return m_search; }
    // Highlighted matches of the search text.
    int matchCount() const { return m_matches; }
    // Writes the view's lines, each ended by a newline, replacing the file
    // as a whole. False with *error set when it cannot be written.
    bool saveTo(const QString &path, QString *error);

public slots:
    // Selects the next (previous) match after (before) the selection,
    // wrapping around the view's ends; false when there is none.
    bool findNext();
    bool findPrevious();
    void setPaused(bool paused);
    void clearView();
    // Asks for a file name and saves there.
    void saveAs();
    // Reads what the firmware added to its trace.
    void timer_poll();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void takeLine(const QByteArray &line);
    void flushPending();
    bool find(bool backward);
    void updateHighlights();
    void updateStatus();
    void takeMarker();
    void dropMarker();

    QString m_dir;
    Options m_options;
    std::unique_ptr<KST_TraceFollower> m_follower;
    QPlainTextEdit *m_view;
    QLineEdit *m_search;
    QPushButton *m_pause;
    QLabel *m_status;
    QTimer m_pollTimer;
    // Lines read but not shown yet, at most the view's budget; the oldest
    // beyond it are only counted.
    std::deque<QString> m_pending;
    qint64 m_skipped = 0;
    bool m_paused = false;
    bool m_holdsMarker = false;
    QString m_markerError;
    QString m_findNote;
    int m_matches = 0;
};

#endif
