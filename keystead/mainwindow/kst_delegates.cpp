#include "kst_delegates.h"

#include "kst_data.h"
#include "kst_panelinfo.h"
#include "kst_panelinstance.h"
#include "kst_rack.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QPainter>
#include <QtDebug>

namespace {

// The rack or the panel of a cell of the panel set's tree.
struct Item
{
    KST_Data *data = nullptr;
    KST_Rack *rack = nullptr;
    KST_PanelInstance *panel = nullptr;
};

Item itemOf(const QModelIndex &index)
{
    Item it;
    it.data = qobject_cast<KST_Data *>(const_cast<QAbstractItemModel *>(index.model()));
    if (!it.data || !index.isValid())
        return it;
    if (!index.parent().isValid()) {
        it.rack = it.data->rack(index.row());
        return it;
    }
    KST_Rack *rack = it.data->rack(index.parent().row());
    it.panel = rack ? rack->panel(index.row()) : nullptr;
    return it;
}

QPixmap load(const char *resource)
{
    QPixmap p(QString::fromLatin1(resource));
    if (p.isNull())
        qCritical("failed to load %s (%s,%d)", resource, __FILE__, __LINE__);
    return p;
}

} // namespace

KST_PanelManagerItemDelegate::KST_PanelManagerItemDelegate(QObject *parent)
    : QItemDelegate(parent)
{
    m_icons[IconStarted] = load(":/images2/started_yes.png");
    m_icons[IconNotStarted] = load(":/images2/started_no.png");
    m_icons[IconStartError] = load(":/images2/sign_notok.png");
    m_icons[IconOnline] = load(":/images2/sign_ok.png");
    m_icons[IconOffline] = load(":/images2/sign_notok.png");
    m_icons[IconCfgLoaded] = load(":/images2/sign_ok.png");
    m_icons[IconNoCfg] = load(":/images2/sign_notok.png");
}

// Rescaled from the original, and only when the cell height changes.
const QPixmap &KST_PanelManagerItemDelegate::scaled(Icon icon, int side) const
{
    QPixmap &s = m_scaled[icon];
    if (s.isNull() || s.height() != side) {
        const QPixmap &o = m_icons[icon];
        s = o.isNull() || o.height() == side
                ? o
                : o.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return s;
}

const QPixmap *KST_PanelManagerItemDelegate::stateIcon(const KST_PanelInstance *panel,
                                                       int column) const
{
    if (!panel)
        return nullptr;
    const bool started = panel->state() == KST_PanelInstance::Started;
    switch (column) {
    case KST_Data::ColStarted:
        if (started)
            return &m_icons[IconStarted];
        return &m_icons[panel->state() == KST_PanelInstance::Error ? IconStartError
                                                                    : IconNotStarted];
    case KST_Data::ColOnline:
        if (!started)
            return &m_icons[IconNotStarted];
        return &m_icons[panel->isOnline() ? IconOnline : IconOffline];
    case KST_Data::ColCfg:
        if (!started)
            return &m_icons[IconNotStarted];
        return &m_icons[panel->isConfigLoaded() ? IconCfgLoaded : IconNoCfg];
    default:
        return nullptr;
    }
}

void KST_PanelManagerItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                         const QModelIndex &index) const
{
    const Item it = itemOf(index);
    const int column = index.column();

    if ((column == KST_Data::ColType || column == KST_Data::ColIP) && it.panel
        && it.panel->state() == KST_PanelInstance::Stopped) {
        // The cells a user may edit.
        QStyleOptionViewItem opt = option;
        opt.font.setWeight(QFont::Bold);
        const QColor link = opt.palette.color(QPalette::Link);
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            opt.palette.setColor(g, QPalette::Text, link);
        QItemDelegate::paint(painter, opt, index);
        return;
    }

    if (column == KST_Data::ColVisible || (column == KST_Data::ColPresses && it.panel)) {
        QItemDelegate::paint(painter, option, index);
        if (!it.rack && !it.panel) {
            qCritical("wrong index (%s,%d)", __FILE__, __LINE__);
            return;
        }
        const bool shown = column == KST_Data::ColPresses ? it.panel->remotePresses()
                           : it.rack                      ? it.rack->isVisible()
                                                          : it.panel->isVisible();
        const QStyle *style = option.widget ? option.widget->style() : QApplication::style();
        const int w = style->pixelMetric(QStyle::PM_IndicatorWidth, &option, option.widget);
        const int h = style->pixelMetric(QStyle::PM_IndicatorHeight, &option, option.widget);
        const QRect box(option.rect.x() + (option.rect.width() - w) / 2,
                        option.rect.y() + (option.rect.height() - h) / 2, w, h);
        drawCheck(painter, option, box, shown ? Qt::Checked : Qt::Unchecked);
        return;
    }

    if (it.panel && (column == KST_Data::ColStarted || column == KST_Data::ColOnline
                     || column == KST_Data::ColCfg)) {
        QItemDelegate::paint(painter, option, index);
        const QPixmap *icon = stateIcon(it.panel, column);
        const int side = option.rect.height();
        if (!icon || icon->isNull() || side <= 0)
            return;
        const Icon which = Icon(icon - m_icons);
        const QRect square(option.rect.x() + (option.rect.width() - side) / 2, option.rect.y(),
                           side, side);
        painter->drawPixmap(square, scaled(which, side));
        return;
    }
    QItemDelegate::paint(painter, option, index);
}

QWidget *KST_PanelManagerItemDelegate::createEditor(QWidget *parent,
                                                    const QStyleOptionViewItem &option,
                                                    const QModelIndex &index) const
{
    const Item it = itemOf(index);
    if (!it.panel)
        return createTextEditor(parent, option, index);

    switch (index.column()) {
    case KST_Data::ColIP: {
        auto *box = new QComboBox(parent);
        QStringList addresses = it.data->ipListGetter()->list();
        addresses.removeAll(QStringLiteral("*"));
        addresses.append(QStringLiteral("*"));
        const QString ip = it.panel->ip();
        // An address this machine does not have (the panel set came from
        // another one) is offered as what it is, so that leaving the editor
        // keeps it.
        if (!ip.isEmpty() && !addresses.contains(ip)) {
            box->addItem(tr("%1 (not on this machine)").arg(ip), int(CurrentEntry));
            box->setItemData(0, ip, ValueRole);
        }
        for (const QString &a : qAsConst(addresses)) {
            box->addItem(a, a == ip ? int(CurrentEntry) : int(OtherEntry));
            box->setItemData(box->count() - 1, a, ValueRole);
        }
        // No address yet: no entry is chosen until the user picks one.
        box->setCurrentIndex(ip.isEmpty() ? -1 : box->findData(ip, ValueRole));
        box->setItemDelegate(new IPItemDelegate(box));
        connect(box, &QComboBox::textActivated, this,
                &KST_PanelManagerItemDelegate::comboBoxItemSelected);
        m_editor = box;
        return box;
    }
    case KST_Data::ColPort: {
        auto *edit = new QLineEdit(parent);
        edit->setValidator(new QIntValidator(MinPort, MaxPort, edit));
        edit->setAlignment(Qt::AlignCenter);
        edit->setText(QString::number(it.panel->panelPort()));
        return edit;
    }
    case KST_Data::ColType: {
        auto *box = new QComboBox(parent);
        const KST_PanelInfo *info = it.data->panelInfo();
        const QString currentName = info->typeName(it.panel->panelType());
        const QStringList names = info->typeNames();
        for (const QString &n : names) {
            box->addItem(n, n == currentName ? int(CurrentEntry) : int(OtherEntry));
            box->setItemData(box->count() - 1, n, ValueRole);
        }
        // Type none: no entry is chosen until the user picks one.
        box->setCurrentIndex(int(names.indexOf(currentName)));
        box->setItemDelegate(new PanelTypeItemDelegate(box));
        connect(box, &QComboBox::textActivated, this,
                &KST_PanelManagerItemDelegate::comboBoxItemSelected);
        m_editor = box;
        return box;
    }
    case KST_Data::ColVisible: {
        auto *check = new QCheckBox(parent);
        check->setChecked(it.panel->isVisible());
        return check;
    }
    default:
        return createTextEditor(parent, option, index);
    }
}

// Names and descriptions: the default editor, starting from the cell's
// text. It is filled here and only here, so that the cell updates the tree
// receives while the user types (every row is redrawn when a rack window
// is resized) leave the typing alone.
QWidget *KST_PanelManagerItemDelegate::createTextEditor(QWidget *parent,
                                                        const QStyleOptionViewItem &option,
                                                        const QModelIndex &index) const
{
    QWidget *editor = QItemDelegate::createEditor(parent, option, index);
    if (editor)
        QItemDelegate::setEditorData(editor, index);
    return editor;
}

void KST_PanelManagerItemDelegate::setEditorData(QWidget *, const QModelIndex &) const
{
    // Every editor is filled when it is made.
}

void KST_PanelManagerItemDelegate::setModelData(QWidget *editor, QAbstractItemModel *model,
                                                const QModelIndex &index) const
{
    const Item it = itemOf(index);
    if (it.panel) {
        switch (index.column()) {
        case KST_Data::ColType:
        case KST_Data::ColIP: {
            // An editor left without a choice keeps the value.
            auto *box = qobject_cast<QComboBox *>(editor);
            if (!box || box->currentIndex() < 0)
                return;
            const QString value = box->currentData(ValueRole).toString();
            const QString current = index.column() == KST_Data::ColIP
                                        ? it.panel->ip()
                                        : it.data->panelInfo()->typeName(it.panel->panelType());
            if (value.isEmpty() || value == current)
                return;
            model->setData(index, value, Qt::EditRole);
            return;
        }
        case KST_Data::ColVisible:
            // Visibility changes through a click on the cell.
            return;
        default:
            break;
        }
    }
    QItemDelegate::setModelData(editor, model, index);
}

void KST_PanelManagerItemDelegate::comboBoxItemSelected(const QString &)
{
    if (!m_editor)
        return;
    QComboBox *editor = m_editor;
    m_editor = nullptr;
    emit commitData(editor);
    emit closeEditor(editor);
}

void KST_CurrentEntryDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                     const QModelIndex &index) const
{
    if (index.data(Qt::UserRole).toInt() != KST_PanelManagerItemDelegate::CurrentEntry) {
        QItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt = option;
    opt.font.setWeight(QFont::Bold);
    QItemDelegate::paint(painter, opt, index);
}
