// KST_Data as an item model: indexes, what the cells show, which cells can
// be edited and the edits themselves. The panel set's operations are in
// kst_data_set.cpp, the file in kst_data_file.cpp, drag and drop in
// kst_data_dnd.cpp.

#include "kst_data.h"

#include "kst_rack.h"
#include "kst_router_list.h"
#include "pan_imagecontainer.h"

#include <QtDebug>

const char *const KST_Data::PanelListMime = "application/panel.list";
const char *const KST_Data::RackListMime = "application/rack.list";

KST_Data::KST_Data(const QString &path, QObject *parent)
    : QAbstractItemModel(parent), m_path(path)
{
    m_faces.layouts = &m_layouts;

    connect(this, &QAbstractItemModel::rowsInserted, this, &KST_Data::setChanged);
    connect(this, &QAbstractItemModel::rowsRemoved, this, &KST_Data::setChanged);
    m_autosaveTimer.setInterval(m_saveInterval);
    connect(&m_autosaveTimer, &QTimer::timeout, this, &KST_Data::timer_autosaver);
    m_autosaveTimer.start();
    m_lastSave.start();

    load();

    m_initStep1Timer.setSingleShot(true);
    m_initStep1Timer.setInterval(InitStep1Ms);
    connect(&m_initStep1Timer, &QTimer::timeout, this, &KST_Data::timer_execute_init);
    m_initStep1Timer.start();
    m_initPanelsTimer.setSingleShot(true);
    m_initPanelsTimer.setInterval(InitStep2Ms);
    connect(&m_initPanelsTimer, &QTimer::timeout, this, &KST_Data::timer_init_panels);
}

KST_Data::~KST_Data()
{
    if (m_changed)
        save();
    m_autosaveTimer.stop();
    m_initStep1Timer.stop();
    m_initPanelsTimer.stop();
    // Panels stop their firmware as they go.
    qDeleteAll(m_racks);
    m_racks.clear();
}

void KST_Data::setImageContainer(PAN_ImageContainer *images)
{
    m_faces.images = images;
    if (images != m_ownImages.get())
        m_ownImages.reset();
}

void KST_Data::setSaveInterval(int ms)
{
    m_saveInterval = ms;
    m_autosaveTimer.start(ms);
}

void KST_Data::setInitDelays(int step1Ms, int step2Ms, int autostartDelayMs)
{
    if (m_initStep1Timer.isActive())
        m_initStep1Timer.start(step1Ms);
    else
        m_initStep1Timer.setInterval(step1Ms);
    m_initPanelsTimer.setInterval(step2Ms);
    m_autostartDelay = autostartDelayMs;
}

// ---- Tree ---------------------------------------------------------------------

ItemData *KST_Data::itemOf(const QModelIndex &index) const
{
    if (!index.isValid())
        return const_cast<KST_Data *>(this);
    return static_cast<ItemData *>(index.internalPointer());
}

QModelIndex KST_Data::index(int row, int column, const QModelIndex &parent) const
{
    if (column < 0 || column >= ColumnCount || row < 0)
        return QModelIndex();
    if (parent.isValid() && parent.column() != 0)
        return QModelIndex();
    ItemData *holder = itemOf(parent);
    if (!holder || row >= holder->childCount())
        return QModelIndex();
    ItemData *item = holder->child(row);
    return item ? createIndex(row, column, item) : QModelIndex();
}

QModelIndex KST_Data::parent(const QModelIndex &child) const
{
    if (!child.isValid())
        return QModelIndex();
    ItemData *item = itemOf(child);
    ItemData *holder = item ? item->parentItem() : nullptr;
    if (!holder || holder == static_cast<const ItemData *>(this))
        return QModelIndex();
    const int row = rowOfChild(holder);
    return row < 0 ? QModelIndex() : createIndex(row, 0, holder);
}

int KST_Data::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    ItemData *holder = itemOf(parent);
    return holder ? holder->childCount() : 0;
}

int KST_Data::columnCount(const QModelIndex &) const
{
    return ColumnCount;
}

QModelIndex KST_Data::indexOfItem(ItemData *item) const
{
    if (!item || item == static_cast<const ItemData *>(this))
        return QModelIndex();
    ItemData *holder = item->parentItem();
    if (!holder)
        return QModelIndex();
    int row = -1;
    if (holder == static_cast<const ItemData *>(this)) {
        KST_Rack *rack = item->asRack();
        row = rack ? int(m_racks.indexOf(rack)) : -1;
    } else if (KST_Rack *rack = holder->asRack()) {
        // The rack must itself be one of ours.
        if (m_racks.contains(rack))
            row = rack->rowOfChild(item);
    }
    return row < 0 ? QModelIndex() : createIndex(row, 0, item);
}

int KST_Data::rowOfChild(ItemData *child) const
{
    if (!child) {
        qCritical("rack NULL (%s,%d)", __FILE__, __LINE__);
        return -1;
    }
    KST_Rack *rack = child->asRack();
    return rack ? int(m_racks.indexOf(rack)) : -1;
}

ItemData *KST_Data::child(int row) const
{
    if (row < 0 || row >= m_racks.size()) {
        qCritical("invalid row index %d (%s,%d)", row, __FILE__, __LINE__);
        return nullptr;
    }
    return m_racks.at(row);
}

// ---- Cells --------------------------------------------------------------------

QVariant KST_Data::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QVariant();
    if (role == Qt::DisplayRole) {
        static const char *const names[ColumnCount] = {"Name",    "Type",   "IP",  "Port",
                                                       "Started", "Visible", "Online", "Cfg",
                                                       "Comm",    "Presses", "Description",
                                                       "Routers"};
        if (section < 0 || section >= ColumnCount)
            return QStringLiteral("C???");
        return QString::fromLatin1(names[section]);
    }
    if (role == Qt::TextAlignmentRole && section == ColPort)
        return int(Qt::AlignCenter);
    if (role == Qt::ToolTipRole && section == ColPresses)
        return QStringLiteral("Presses from browsers and the remote API reach the panel.");
    return QVariant();
}

QVariant KST_Data::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const int column = index.column();
    if (role == Qt::TextAlignmentRole)
        return column >= ColPort && column <= ColPresses ? QVariant(int(Qt::AlignCenter)) : QVariant();
    // An editor starts from what the cell shows.
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QVariant();

    ItemData *item = itemOf(index);
    if (!item)
        return QStringLiteral("NULL");
    if (KST_Rack *rack = item->asRack()) {
        switch (column) {
        case ColName:
            return rack->name();
        case ColType:
            return QStringLiteral("Rack");
        case ColDescription:
            return rack->description();
        default:
            return QString();
        }
    }
    if (KST_PanelInstance *p = item->asPanel()) {
        switch (column) {
        case ColName:
            return p->name();
        case ColType:
            return const_cast<KST_PanelInfo &>(m_panelInfo).typeName(p->panelType());
        case ColIP:
            return p->ip();
        case ColPort:
            return QString::number(p->panelPort());
        case ColStarted:
        case ColVisible:
        case ColOnline:
        case ColCfg:
        case ColComm:
        case ColPresses:
            // Drawn by the view's delegates.
            return QString();
        case ColDescription:
            return p->description();
        case ColRouters:
            return KST_RouterList::text(p->allowedRouters());
        default:
            return QStringLiteral("???");
        }
    }
    return QStringLiteral("NULL");
}

Qt::ItemFlags KST_Data::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return m_dragKind == DragRacks ? Qt::ItemIsDropEnabled : Qt::NoItemFlags;
    ItemData *item = itemOf(index);
    const int column = index.column();
    const Qt::ItemFlags base = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (item && item->asRack()) {
        if (column == ColName)
            return base | Qt::ItemIsEditable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
        if (column == ColDescription)
            return base | Qt::ItemIsEditable | Qt::ItemIsDropEnabled;
        return base | Qt::ItemIsDropEnabled;
    }
    if (KST_PanelInstance *p = item ? item->asPanel() : nullptr) {
        switch (column) {
        case ColType:
        case ColIP:
        case ColPort:
        case ColRouters:
            // Type, address, port and routers change only while the panel
            // is stopped.
            if (p->state() == KST_PanelInstance::Stopped)
                return base | Qt::ItemIsUserCheckable | Qt::ItemIsEditable;
            return Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
        case ColName:
            return base | Qt::ItemIsUserCheckable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
        case ColDescription:
            return base | Qt::ItemIsUserCheckable | Qt::ItemIsEditable;
        default:
            return base;
        }
    }
    return Qt::NoItemFlags;
}

bool KST_Data::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole) {
        qDebug() << "setData, role = " << role;
        return false;
    }
    if (!index.isValid() || index.model() != this)
        return false;
    ItemData *item = itemOf(index);
    bool handled = false;
    if (KST_Rack *rack = item ? item->asRack() : nullptr)
        handled = setRackData(rack, index.column(), value);
    else if (KST_PanelInstance *p = item ? item->asPanel() : nullptr)
        handled = setPanelData(p, index.column(), value);
    if (!handled)
        return false;
    emit dataChanged(index, index);
    setChanged();
    return true;
}

bool KST_Data::setRackData(KST_Rack *rack, int column, const QVariant &value)
{
    switch (column) {
    case ColName:
        rack->setName(value.toString());
        return true;
    case ColDescription:
        rack->setDescription(value.toString());
        return true;
    default:
        return false;
    }
}

bool KST_Data::setPanelData(KST_PanelInstance *p, int column, const QVariant &value)
{
    switch (column) {
    case ColName:
        p->setName(value.toString());
        p->update_tooltip();
        return true;
    case ColType: {
        const QString name = value.toString();
        const int type = m_panelInfo.typeIndex(name);
        // A name outside the table would silently make the panel typeless.
        if (type == 0 && name != m_panelInfo.typeName(0))
            return false;
        if (p->state() != KST_PanelInstance::Stopped)
            return false;
        p->setPanelType(type);
        if (KST_Rack *rack = p->parentItem() ? p->parentItem()->asRack() : nullptr)
            rack->updateLayout();
        emit panelTypeChanged();
        return true;
    }
    case ColIP:
        if (!p->setIP(value.toString()))
            return false;
        emit panelIPChanged();
        return true;
    case ColPort: {
        bool ok = false;
        const int port = value.toInt(&ok);
        // A UDP port; text that is no number is not port 0.
        if (!ok || port < 0 || port > 65535)
            return false;
        if (!p->setPanelPort(port))
            return false;
        emit panelPanelPortChanged();
        return true;
    }
    case ColDescription:
        p->setDescription(value.toString());
        return true;
    case ColRouters: {
        QStringList routers;
        QString why;
        if (!KST_RouterList::parse(value.toString(), &routers, &why)) {
            qWarning("panel %s: allowed routers not changed: %s (%s,%d)", qPrintable(p->name()),
                     qPrintable(why), __FILE__, __LINE__);
            return false;
        }
        return p->setAllowedRouters(routers);
    }
    default:
        return false;
    }
}
