#ifndef KST_COMMWIDGET_H
#define KST_COMMWIDGET_H

#include <QColor>
#include <QImage>
#include <QWidget>

class KST_PanelInstance;

// The "Comm" cell of a running panel: two squares side by side, meeting at
// the cell's centre. The left one lights yellow-orange when the panel
// transmits (its left half red after a failed send), the right one green
// when it receives; both fade with the panel's comm levels and are grey
// while the panel is not started. The squares take their shape from the
// alpha channel of the comm mask picture.
class KST_CommWidget : public QWidget
{
public:
    explicit KST_CommWidget(QWidget *parent = nullptr);

    // Shows the panel's current levels (peeked, so the panel's own change
    // tracking is left alone); nothing happens when nothing changed.
    void updateFrom(KST_PanelInstance *panel);
    // Shows the given levels of levelCount.
    void showLevels(int transmit, int receive, int failure, int levelCount, bool started);

    // The colours of the three channels for levels of levelCount.
    static QColor transmitColor(int level, int levelCount);
    static QColor receiveColor(int level, int levelCount);
    static QColor failureColor(int level, int levelCount);

    bool shownStarted() const { return m_started; }
    QImage leftSquare() const { return m_left; }
    QImage rightSquare() const { return m_right; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void rebuildMask();
    void fillSquares();

    QImage m_mask;
    QImage m_left;
    QImage m_right;
    int m_transmit = -1;
    int m_receive = -1;
    int m_failure = -1;
    int m_levelCount = 1;
    bool m_started = false;
};

#endif
