#include "kst_itemdata.h"

QModelIndex ItemData::modelIndex()
{
    // The panel set is the root of the tree its items hang in.
    ItemData *root = this;
    while (root->parentItem())
        root = root->parentItem();
    return root->indexOfItem(this);
}
