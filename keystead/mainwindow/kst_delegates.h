#ifndef KST_DELEGATES_H
#define KST_DELEGATES_H

// The delegates of the main window's tree. KST_PanelManagerItemDelegate
// draws the state icons of the "Started", "Online" and "Cfg" columns, the
// check mark of "Visible", and the type and address of stopped panels in
// bold link colour (the cells that can be edited); it edits a panel's type
// and address with combo boxes that apply the entry chosen at once, and its
// port with a line edit that takes only valid ports. The two small
// delegates draw the combo boxes' entries, the panel's current value in
// bold.

#include <QItemDelegate>
#include <QPixmap>
#include <QPointer>

class KST_Data;
class KST_PanelInstance;
class KST_Rack;
class QComboBox;

class KST_PanelManagerItemDelegate : public QItemDelegate
{
    Q_OBJECT

public:
    enum { CurrentEntry = 2, OtherEntry = 0 };
    // The role of a combo box entry that holds the value it stands for (its
    // text may say more, as "(not on this machine)").
    enum { ValueRole = Qt::UserRole + 1 };
    enum { MinPort = 2001, MaxPort = 65535 };

    explicit KST_PanelManagerItemDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override;

    // The icon a panel's cell of the state columns shows (null for other
    // columns).
    const QPixmap *stateIcon(const KST_PanelInstance *panel, int column) const;

private slots:
    void comboBoxItemSelected(const QString &text);

private:
    enum Icon { IconStarted, IconNotStarted, IconStartError, IconOnline, IconOffline,
                IconCfgLoaded, IconNoCfg, IconCount };

    const QPixmap &scaled(Icon icon, int side) const;
    QWidget *createTextEditor(QWidget *parent, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const;

    mutable QPointer<QComboBox> m_editor;
    QPixmap m_icons[IconCount];
    mutable QPixmap m_scaled[IconCount];
};

// The entries of a combo box editor: the panel's current value in bold.
class KST_CurrentEntryDelegate : public QItemDelegate
{
public:
    explicit KST_CurrentEntryDelegate(QObject *parent = nullptr) : QItemDelegate(parent) {}
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};

// The address editor's entries.
class IPItemDelegate : public KST_CurrentEntryDelegate
{
public:
    explicit IPItemDelegate(QObject *parent = nullptr) : KST_CurrentEntryDelegate(parent) {}
};

// The panel type editor's entries.
class PanelTypeItemDelegate : public KST_CurrentEntryDelegate
{
public:
    explicit PanelTypeItemDelegate(QObject *parent = nullptr) : KST_CurrentEntryDelegate(parent)
    {
    }
};

#endif
