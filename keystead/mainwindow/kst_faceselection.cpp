#include "kst_faceselection.h"

#include <QEvent>
#include <QPainter>
#include <QWidget>

namespace {

const char *const kMarkName = "kst_selection_mark";

// A frame over the face; it follows the face's size.
class SelectionMark : public QWidget
{
public:
    explicit SelectionMark(QWidget *face) : QWidget(face)
    {
        setObjectName(QString::fromLatin1(kMarkName));
        setAttribute(Qt::WA_TransparentForMouseEvents, true);
        setAttribute(Qt::WA_NoSystemBackground, true);
        face->installEventFilter(this);
        setGeometry(face->rect());
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == parent() && event->type() == QEvent::Resize) {
            setGeometry(parentWidget()->rect());
            raise();
        }
        return false;
    }
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        QPen pen(palette().color(QPalette::Highlight), 3);
        pen.setJoinStyle(Qt::MiterJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
    }
};

SelectionMark *markOf(const QWidget *face)
{
    // Only this file makes children of that name.
    return static_cast<SelectionMark *>(face->findChild<QWidget *>(
        QString::fromLatin1(kMarkName), Qt::FindDirectChildrenOnly));
}

} // namespace

void kst_setFaceSelected(QWidget *face, bool selected)
{
    if (!face)
        return;
    SelectionMark *mark = markOf(face);
    if (!selected) {
        if (mark)
            mark->hide();
        return;
    }
    if (!mark)
        mark = new SelectionMark(face);
    mark->setGeometry(face->rect());
    mark->raise();
    mark->show();
}

bool kst_isFaceSelected(const QWidget *face)
{
    const SelectionMark *mark = face ? markOf(face) : nullptr;
    return mark && !mark->isHidden();
}
