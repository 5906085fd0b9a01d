// KST_Data: moving racks and panels by drag and drop inside the main
// window. A drag carries references to the dragged objects of this running
// program; a drop takes only references to racks and panels that are still
// in this set, so data from elsewhere (another program, a stale drag) is
// refused instead of being followed.

#include "kst_data.h"

#include "kst_rack.h"

#include <QDataStream>
#include <QIODevice>
#include <QMimeData>
#include <QtDebug>

namespace {

QByteArray writeRefs(const QList<quintptr> &refs)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint32(refs.size());
    for (quintptr r : refs)
        out << quint64(r);
    return bytes;
}

// The references of a drag; false when the bytes are not a whole list.
bool readRefs(const QByteArray &bytes, QList<quintptr> &refs)
{
    QDataStream in(bytes);
    quint32 n = 0;
    in >> n;
    if (in.status() != QDataStream::Ok || qint64(n) * 8 != bytes.size() - 4)
        return false;
    for (quint32 i = 0; i < n; ++i) {
        quint64 r = 0;
        in >> r;
        refs.append(quintptr(r));
    }
    return in.status() == QDataStream::Ok;
}

} // namespace

Qt::DropActions KST_Data::supportedDropActions() const
{
    return Qt::MoveAction;
}

Qt::DropActions KST_Data::supportedDragActions() const
{
    return Qt::MoveAction;
}

QStringList KST_Data::mimeTypes() const
{
    return {QString::fromLatin1(PanelListMime), QString::fromLatin1(RackListMime)};
}

QMimeData *KST_Data::mimeData(const QModelIndexList &indexes) const
{
    QList<quintptr> racks, panels;
    for (const QModelIndex &index : indexes) {
        if (index.column() != 0)
            continue;
        ItemData *item = index.isValid() ? itemOf(index) : nullptr;
        if (!item) {
            qCritical("itemdata null (%s,%d)", __FILE__, __LINE__);
            continue;
        }
        if (KST_Rack *r = item->asRack())
            racks.append(quintptr(r));
        else if (KST_PanelInstance *p = item->asPanel())
            panels.append(quintptr(p));
    }
    m_dragKind = DragNone;
    if (!racks.isEmpty() && panels.isEmpty()) {
        auto *data = new QMimeData;
        data->setData(QString::fromLatin1(RackListMime), writeRefs(racks));
        m_dragKind = DragRacks;
        return data;
    }
    if (!panels.isEmpty() && racks.isEmpty()) {
        auto *data = new QMimeData;
        data->setData(QString::fromLatin1(PanelListMime), writeRefs(panels));
        m_dragKind = DragPanels;
        return data;
    }
    // Racks and panels together cannot go to one place.
    return nullptr;
}

bool KST_Data::dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                            const QModelIndex &parent)
{
    (void)column;
    if (action != Qt::MoveAction || !data)
        return false;
    m_dragKind = DragNone;
    bool done = false;
    if (data->hasFormat(QString::fromLatin1(PanelListMime)))
        done = dropPanels(data, row, parent);
    else if (data->hasFormat(QString::fromLatin1(RackListMime)))
        done = dropRacks(data, row, parent);
    if (!done)
        return false;
    setChanged();
    emit reexpand_racks();
    return true;
}

bool KST_Data::dropPanels(const QMimeData *data, int row, const QModelIndex &parent)
{
    KST_Rack *rack = parent.isValid() && parent.model() == this ? itemOf(parent)->asRack()
                                                                : nullptr;
    if (!rack) {
        qCritical("rack NULL (%s,%d)", __FILE__, __LINE__);
        return false;
    }
    QList<quintptr> refs;
    if (!readRefs(data->data(QString::fromLatin1(PanelListMime)), refs) || refs.isEmpty())
        return false;
    QList<KST_PanelInstance *> panels;
    for (quintptr ref : qAsConst(refs)) {
        // Compared with the set's own panels before it is used as one.
        KST_PanelInstance *found = nullptr;
        for (KST_Rack *r : qAsConst(m_racks))
            for (KST_PanelInstance *p : r->panels())
                if (quintptr(p) == ref)
                    found = p;
        if (!found) {
            qCritical("invalid rack,panel index (%s,%d)", __FILE__, __LINE__);
            return false;
        }
        if (!panels.contains(found))
            panels.append(found);
    }

    // The panels go before the panel at row, or after the last one; when
    // that panel is itself being moved, before the next one that stays.
    KST_PanelInstance *before = nullptr;
    for (int i = row; i >= 0 && i < rack->panelCount(); ++i) {
        if (!panels.contains(rack->panel(i))) {
            before = rack->panel(i);
            break;
        }
    }
    removePanels(panels, false);
    int at = before ? int(rack->panels().indexOf(before)) : rack->panelCount();
    for (KST_PanelInstance *p : qAsConst(panels))
        insertPanel(rack, at++, p);
    rack->updateLayout();
    return true;
}

bool KST_Data::dropRacks(const QMimeData *data, int row, const QModelIndex &parent)
{
    if (parent.isValid())
        return false;
    QList<quintptr> refs;
    if (!readRefs(data->data(QString::fromLatin1(RackListMime)), refs) || refs.isEmpty())
        return false;
    QList<KST_Rack *> racks;
    for (quintptr ref : qAsConst(refs)) {
        KST_Rack *found = nullptr;
        for (KST_Rack *r : qAsConst(m_racks))
            if (quintptr(r) == ref)
                found = r;
        if (!found) {
            qCritical("invalid rack index (%s,%d)", __FILE__, __LINE__);
            return false;
        }
        if (!racks.contains(found))
            racks.append(found);
    }
    KST_Rack *before = nullptr;
    for (int i = row; i >= 0 && i < m_racks.size(); ++i) {
        if (!racks.contains(m_racks.at(i))) {
            before = m_racks.at(i);
            break;
        }
    }
    removeRacks(racks, false);
    int at = before ? int(m_racks.indexOf(before)) : int(m_racks.size());
    for (KST_Rack *r : qAsConst(racks))
        insertRack(at++, r);
    return true;
}
