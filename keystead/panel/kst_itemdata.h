#ifndef KST_ITEMDATA_H
#define KST_ITEMDATA_H

#include <QModelIndex>
#include <QString>

class KST_Data;
class KST_PanelInstance;
class KST_Rack;

// The tree-item side of everything the panel set shows: the panel set itself
// (the invisible root), its racks and their panels. Each item knows the item
// that holds it and answers, for the views, what it is and what it holds.
// The defaults describe a leaf that is nothing in particular. A panel talks
// to the items above it only through this class, so that one panel's code
// needs nothing of the panel set model (keystead/model) that holds it.
class ItemData
{
public:
    virtual ~ItemData() = default;

    // The row of a child among this item's children, -1 when it is none of
    // them.
    virtual int rowOfChild(ItemData *child) const
    {
        (void)child;
        return -1;
    }
    virtual KST_Rack *asRack() { return nullptr; }
    virtual KST_PanelInstance *asPanel() { return nullptr; }
    virtual KST_Data *asData() { return nullptr; }
    virtual KST_Data *model() { return nullptr; }
    virtual int childCount() const { return 0; }
    virtual ItemData *child(int row) const
    {
        (void)row;
        return nullptr;
    }
    // This item's index in column 0 of the panel set it belongs to; invalid
    // while the item is in no panel set.
    virtual QModelIndex modelIndex();
    // Asked of the root of a tree: the index of one of its items in column
    // 0; invalid from anything but a panel set.
    virtual QModelIndex indexOfItem(ItemData *item) const
    {
        (void)item;
        return QModelIndex();
    }
    // A child's face was shown or hidden (a rack shows it in its window).
    virtual void childShown(ItemData *child, bool visible)
    {
        (void)child;
        (void)visible;
    }
    // The item's own name as its holder's children show it (a rack's name
    // in its panels' tooltips); empty for items without one.
    virtual QString itemName() const { return QString(); }

    // The item that holds this one, null for the root and for an item that
    // is held by nothing (yet).
    ItemData *parentItem() const { return m_parentItem; }
    void setParentItem(ItemData *parent) { m_parentItem = parent; }

private:
    ItemData *m_parentItem = nullptr;
};

#endif
