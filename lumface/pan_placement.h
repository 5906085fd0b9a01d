#ifndef PAN_PLACEMENT_H
#define PAN_PLACEMENT_H

// Where the items of a face's layout go, without making them: the ids of a
// flat group (its item_id values, then its id range) placed left to right
// from the group's offsets, each the group's item size plus spacing further
// on; an id of -1 leaves its place empty. The face builder makes its items
// from these; a host without faces keeps its buttons by them.

#include "pan_item.h"
#include "pan_layout.h"

#include <QList>

// Appends the items of group g to out. False, with the log line, for a size
// or type the layout does not know, or when out would hold more than
// maxItems items; nothing is appended then.
bool PAN_placeGroup(const PAN_Layout &layout, const PAN_Layout::Group &g, qsizetype maxItems,
                    QList<PAN_Item::Setup> *out);

#endif
