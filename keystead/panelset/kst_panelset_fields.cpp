#include "kst_panelset_fields.h"

#include "arch_itemi.h"
#include "arch_itemo.h"

void KST_savePanelFields(arch::Itemo *node, const KST_PanelFields &f)
{
    node->put(QStringLiteral("uid"), f.uid)
        ->put(QStringLiteral("name"), f.name)
        ->put(QStringLiteral("description"), f.description)
        ->put(QStringLiteral("paneltype"), f.paneltype)
        ->put(QStringLiteral("visible"), f.visible)
        ->put(QStringLiteral("firmware_ip"), f.firmwareIp)
        ->put(QStringLiteral("panelPort"), f.panelPort)
        ->put(QStringLiteral("should_autostart"), f.shouldAutostart)
        ->put(QStringLiteral("remote_presses"), f.remotePresses)
        ->put(QStringLiteral("allowed_routers"), f.allowedRouters);
}

void KST_loadPanelFields(const arch::Itemi *node, KST_PanelFields &f)
{
    node->get(QStringLiteral("uid"), f.uid)
        ->get(QStringLiteral("name"), f.name)
        ->get(QStringLiteral("description"), f.description)
        ->get(QStringLiteral("paneltype"), f.paneltype)
        ->get(QStringLiteral("visible"), f.visible)
        ->get(QStringLiteral("firmware_ip"), f.firmwareIp)
        ->get(QStringLiteral("panelPort"), f.panelPort)
        ->get(QStringLiteral("should_autostart"), f.shouldAutostart);
    f.remotePresses = true;
    if (node->child(QStringLiteral("remote_presses")))
        node->get(QStringLiteral("remote_presses"), f.remotePresses);
    if (node->child(QStringLiteral("allowed_routers")))
        node->get(QStringLiteral("allowed_routers"), f.allowedRouters);
}

QString KST_rackPanelsElement()
{
    return QStringLiteral("panel");
}

void KST_saveRackFields(arch::Itemo *node, const KST_RackFields &f,
                        const std::function<void(arch::Itemo *)> &putPanels)
{
    node->put(QStringLiteral("name"), f.name)
        ->put(QStringLiteral("desc"), f.desc)
        ->put(QStringLiteral("expanded"), f.expanded)
        ->put(QStringLiteral("visible"), f.visible);
    putPanels(node);
    node->put(QStringLiteral("ui_data"), f.uiData);
}

void KST_loadRackFields(const arch::Itemi *node, KST_RackFields &f)
{
    node->get(QStringLiteral("name"), f.name)
        ->get(QStringLiteral("desc"), f.desc)
        ->get(QStringLiteral("expanded"), f.expanded)
        ->get(QStringLiteral("visible"), f.visible)
        ->get(QStringLiteral("ui_data"), f.uiData);
}
