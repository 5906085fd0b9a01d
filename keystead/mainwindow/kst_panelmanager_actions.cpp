// KST_PanelManager: what the actions do with the selected racks and panels,
// and the visibility clicks on the tree.

#include "kst_panelmanager.h"

#include "kst_data.h"
#include "kst_panelinstance.h"
#include "kst_paneltree.h"
#include "kst_rack.h"
#include "kst_rackwidget.h"

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QMenu>
#include <QtDebug>

namespace {

const char *const kTitle = "Keystead";
// The version texts the program shows, the same the firmware reports.
const char *const kBuildDate = "2011-09-23T09:54:02.562000";
const char *const kVersion = "1.1.1.7";

// A panel that is neither stopped nor in error still has firmware to stop.
bool isIdle(const KST_PanelInstance *p)
{
    return p->state() == KST_PanelInstance::Stopped || p->state() == KST_PanelInstance::Error;
}

} // namespace

void KST_PanelManager::selectItem(KST_PanelInstance *panel)
{
    if (!m_model || m_treeView->model() != m_model)
        return;
    const QModelIndex i = m_model->indexOfItem(panel);
    if (!i.isValid())
        return;
    m_treeView->selectionModel()->setCurrentIndex(
        i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_treeView->scrollTo(i);
}

void KST_PanelManager::actionStart()
{
    if (!m_model)
        return;
    QList<KST_PanelInstance *> panels;
    selectedItems(nullptr, &panels);
    for (KST_PanelInstance *p : qAsConst(panels)) {
        QString why;
        if (!m_model->validatePanel(p, &why)) {
            message(QMessageBox::Critical, QString::fromLatin1(kTitle),
                    QStringLiteral("panel %1 cannot be started:%2").arg(p->name(), why));
            selectItem(p);
            return;
        }
    }
    for (KST_PanelInstance *p : qAsConst(panels)) {
        if (p->state() != KST_PanelInstance::Stopped) {
            message(QMessageBox::Critical, QString::fromLatin1(kTitle),
                    QStringLiteral("Panel not stopped."));
            continue;
        }
        if (!p->start(0))
            message(QMessageBox::Critical, QString::fromLatin1(kTitle),
                    QStringLiteral("Failed to start panel."));
        if (m_model)
            m_model->setChanged();
    }
}

void KST_PanelManager::actionStop()
{
    QList<KST_PanelInstance *> panels;
    selectedItems(nullptr, &panels);
    for (KST_PanelInstance *p : qAsConst(panels))
        if (p->state() == KST_PanelInstance::Started || p->state() == KST_PanelInstance::Error)
            p->stop();
}

QString KST_PanelManager::deleteQuestion(int rackCount, int panelCount)
{
    if (rackCount > 0 && panelCount > 0)
        return QStringLiteral("Remove selected rack(s) and panel(s) ?");
    if (rackCount > 0)
        return rackCount == 1 ? QStringLiteral("Remove selected rack?")
                              : QStringLiteral("Remove selected racks?");
    return panelCount == 1 ? QStringLiteral("Remove selected panel?")
                           : QStringLiteral("Remove selected panels?");
}

void KST_PanelManager::actionDelete()
{
    if (!m_model)
        return;
    QList<KST_Rack *> racks;
    QList<KST_PanelInstance *> selectedPanels;
    selectedItems(&racks, &selectedPanels);
    if (racks.isEmpty() && selectedPanels.isEmpty())
        return;

    QList<KST_PanelInstance *> panels = selectedPanels;
    for (KST_Rack *r : qAsConst(racks))
        for (KST_PanelInstance *p : r->panels())
            if (!panels.contains(p))
                panels.append(p);
    for (KST_PanelInstance *p : qAsConst(panels)) {
        if (!isIdle(p)) {
            message(QMessageBox::Critical, QString::fromLatin1(kTitle),
                    QStringLiteral("'%1' is not stopped.").arg(p->name()));
            selectItem(p);
            return;
        }
    }
    const QString question = deleteQuestion(int(racks.size()), int(selectedPanels.size()));
    if (message(QMessageBox::Warning, QString::fromLatin1(kTitle), question,
                QMessageBox::Ok | QMessageBox::Cancel)
        != QMessageBox::Ok)
        return;
    // The answer took a while: only what is still in the set, still idle.
    if (!m_model)
        return;
    QList<KST_PanelInstance *> gone;
    for (KST_PanelInstance *p : qAsConst(panels)) {
        int rr = -1, pr = -1;
        if (m_model->findPanel(p, rr, pr) && isIdle(p))
            gone.append(p);
        else if (m_model->findPanel(p, rr, pr))
            racks.removeAll(m_model->rack(rr));
    }
    QList<KST_Rack *> goneRacks;
    for (KST_Rack *r : qAsConst(racks))
        if (m_model->racks().contains(r))
            goneRacks.append(r);
    m_model->removePanels(gone, true);
    m_model->removeRacks(goneRacks, true);
    updateActionsEnabledStatus();
    updateStatusbarMessage();
}

void KST_PanelManager::actionPanelNew()
{
    if (!m_model)
        return;
    int rackRow = m_model->rowCount() - 1;
    int panelRow = -1;
    QModelIndex at = m_treeView->model() == m_model ? m_treeView->currentIndex() : QModelIndex();
    if (at.isValid() && !m_treeView->selectionModel()->isSelected(at.siblingAtColumn(0))) {
        const QModelIndexList rows = m_treeView->selectionModel()->selectedRows(0);
        at = rows.isEmpty() ? QModelIndex() : rows.last();
    }
    if (at.isValid()) {
        if (at.parent().isValid()) {
            rackRow = at.parent().row();
            panelRow = at.row() + 1;
        } else {
            rackRow = at.row();
        }
    }
    KST_PanelInstance *p = m_model->addPanel(qMax(0, rackRow), panelRow);
    if (p) {
        const QModelIndex i = m_model->indexOfItem(p);
        m_treeView->expand(i.parent());
        selectItem(p);
    }
}

void KST_PanelManager::actionRackNew()
{
    if (!m_model)
        return;
    QList<KST_Rack *> racks;
    QList<KST_PanelInstance *> panels;
    selectedItems(&racks, &panels);
    int position = -1;
    if (!racks.isEmpty())
        position = int(m_model->racks().indexOf(racks.last())) + 1;
    else if (!panels.isEmpty()) {
        int rr = -1, pr = -1;
        if (m_model->findPanel(panels.last(), rr, pr))
            position = rr + 1;
    }
    KST_Rack *rack = m_model->addRack(position);
    if (!rack)
        return;
    rack->setVisible(true);
    m_model->setChanged();
    const QModelIndex i = m_model->indexOfItem(rack);
    emit m_model->dataChanged(i.siblingAtColumn(KST_Data::ColVisible),
                              i.siblingAtColumn(KST_Data::ColVisible));
    if (m_treeView->model() == m_model)
        m_treeView->selectionModel()->setCurrentIndex(
            i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// A click in the "Presses" cell of a panel allows or refuses presses from
// browsers and the remote API, for every selected panel alike.
void KST_PanelManager::togglePresses(const QModelIndex &index)
{
    KST_Rack *rack = index.parent().isValid() ? m_model->rack(index.parent().row()) : nullptr;
    KST_PanelInstance *clicked = rack ? rack->panel(index.row()) : nullptr;
    if (!clicked)
        return;
    const bool allow = !clicked->remotePresses();
    QList<KST_Rack *> racks;
    QList<KST_PanelInstance *> panels;
    selectedItems(&racks, &panels);
    if (!panels.contains(clicked))
        panels.append(clicked);
    for (KST_PanelInstance *p : qAsConst(panels)) {
        p->setRemotePresses(allow);
        const QModelIndex c = m_model->indexOfItem(p).siblingAtColumn(KST_Data::ColPresses);
        if (c.isValid())
            emit m_model->dataChanged(c, c);
    }
    m_model->setChanged();
}

void KST_PanelManager::treeItemClicked(const QModelIndex &index)
{
    if (m_model && index.column() == KST_Data::ColPresses && index.model() == m_model) {
        togglePresses(index);
        return;
    }
    if (!m_model || index.column() != KST_Data::ColVisible || index.model() != m_model)
        return;
    bool shown = false;
    if (!index.parent().isValid()) {
        KST_Rack *rack = m_model->rack(index.row());
        if (!rack)
            return;
        shown = rack->isVisible();
    } else {
        KST_Rack *rack = m_model->rack(index.parent().row());
        KST_PanelInstance *p = rack ? rack->panel(index.row()) : nullptr;
        if (!p)
            return;
        shown = p->isVisible();
    }
    const bool visible = !shown;

    QList<KST_Rack *> racks;
    QList<KST_PanelInstance *> panels;
    selectedItems(&racks, &panels);
    auto visibleCell = [this](ItemData *item) {
        const QModelIndex c = m_model->indexOfItem(item).siblingAtColumn(KST_Data::ColVisible);
        if (c.isValid())
            emit m_model->dataChanged(c, c);
    };
    for (KST_Rack *r : qAsConst(racks)) {
        r->setVisible(visible);
        visibleCell(r);
    }
    QList<KST_Rack *> touched = racks;
    for (KST_PanelInstance *p : qAsConst(panels)) {
        p->setVisible(visible);
        visibleCell(p);
        KST_Rack *r = p->parentItem() ? p->parentItem()->asRack() : nullptr;
        if (!r)
            continue;
        // A face shown in a hidden rack shows the rack's window with it.
        if (visible && !r->isVisible()) {
            r->setVisible(true);
            visibleCell(r);
        }
        if (!touched.contains(r))
            touched.append(r);
    }
    for (KST_Rack *r : qAsConst(touched))
        r->updateLayout();
    if (!racks.isEmpty() || !panels.isEmpty())
        m_model->setChanged();
    raise();
}

void KST_PanelManager::actionShowAboutBox()
{
    message(QMessageBox::Information, QStringLiteral("Tessaline"),
            QStringLiteral("Build date/time:\t") + QLatin1String(kBuildDate)
                + QStringLiteral("\nVersion: \t") + QLatin1String(kVersion));
}

void KST_PanelManager::actionTitleOnOff()
{
    QWidget *w = QApplication::activeWindow();
    if (!w || qstrcmp(w->metaObject()->className(), "KST_RackWidgetResizer") != 0)
        return;
    static_cast<KST_RackWidgetResizer *>(w)->toggleFrameMode();
}

void KST_PanelManager::actionProtocolTrace()
{
    QList<KST_PanelInstance *> panels;
    selectedItems(nullptr, &panels);
    // One window per panel; a panel whose window is open gets it raised.
    for (KST_PanelInstance *p : qAsConst(panels))
        p->showProtocolTrace();
}

void KST_PanelManager::treeContextMenu(const QPoint &pos)
{
    if (!m_model || m_treeView->model() != m_model)
        return;
    // A right click on a row outside the selection acts on that row alone,
    // as in a file manager.
    const QModelIndex at = m_treeView->indexAt(pos);
    if (at.isValid() && !m_treeView->selectionModel()->isRowSelected(at.row(), at.parent()))
        m_treeView->selectionModel()->setCurrentIndex(
            at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    updateActionsEnabledStatus();
    QMenu menu(this);
    menu.addAction(m_actionStart);
    menu.addAction(m_actionStop);
    menu.addSeparator();
    menu.addAction(m_actionTrace);
    menu.addSeparator();
    menu.addAction(m_actionDelete);
    menu.exec(m_treeView->viewport()->mapToGlobal(pos));
}
