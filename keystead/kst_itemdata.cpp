#include "kst_itemdata.h"

#include "kst_data.h"

QModelIndex ItemData::modelIndex()
{
    // The panel set is the root of the tree its items hang in.
    ItemData *root = this;
    while (root->parentItem())
        root = root->parentItem();
    KST_Data *data = root->asData();
    return data ? data->indexOfItem(this) : QModelIndex();
}
