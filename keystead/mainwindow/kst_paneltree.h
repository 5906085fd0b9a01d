#ifndef KST_PANELTREE_H
#define KST_PANELTREE_H

#include <QTreeView>

// The main window's tree of racks and panels. A release on the "Visible"
// cell of a row that is already selected is taken as a click and goes no
// further, so a selection of several rows survives while their visibility
// is toggled together.
class KST_PanelTree : public QTreeView
{
public:
    enum { VisibleColumn = 5, PressesColumn = 9 };

    explicit KST_PanelTree(QWidget *parent = nullptr);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

#endif
