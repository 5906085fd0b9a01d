#include "kst_paneltree.h"

#include <QItemSelectionModel>
#include <QMouseEvent>

KST_PanelTree::KST_PanelTree(QWidget *parent) : QTreeView(parent) {}

void KST_PanelTree::mouseReleaseEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    QItemSelectionModel *selection = selectionModel();
    if (event->button() == Qt::LeftButton && index.isValid() && (index.column() == VisibleColumn || index.column() == PressesColumn)
        && selection && selection->isRowSelected(index.row(), index.parent())) {
        // The normal handling would make this row the only selected one.
        emit clicked(index);
        event->accept();
        return;
    }
    QTreeView::mouseReleaseEvent(event);
}
