#ifndef LIB_DEBUGWINDOW_H
#define LIB_DEBUGWINDOW_H

#include <QColor>
#include <QString>
#include <QTextEdit>
#include <QTimer>

#include <deque>

// The log window: a read-only view of every log line of the process,
// numbered, each in its level's colour. One per process, made on the first
// call of instance(), which also installs the message handler; it keeps
// the most recent MaxLines lines.
class LIB_DebugWindow : public QTextEdit
{
    Q_OBJECT

public:
    enum { MaxLines = 20000, BatchMs = 50 };

    // The window, created if needed; shown, with the given title.
    static LIB_DebugWindow *instance(const QString &title);
    // The window if one exists, without creating it.
    static LIB_DebugWindow *existing();

    ~LIB_DebugWindow() override;

    // Appends the lines waiting now instead of at the next batch.
    void flush();

signals:
    void log_signal(QColor colour, QString text);

public slots:
    // Appends text in the colour at the end, following it when the view
    // was at the end already. Lines are appended in batches, at most every
    // BatchMs: one edit and one layout pass for a whole burst, so hundreds of
    // panels logging cost the GUI thread little.
    void log_slot(QColor colour, QString text);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct Piece
    {
        QColor colour;
        QString text;
    };

    LIB_DebugWindow();
    void updateShown();
    static void logRevisionInfo();

    std::deque<Piece> m_pending; // pieces not yet in the document
    QTimer m_batch;
};

#endif
