#ifndef KST_PANELSET_FIELDS_H
#define KST_PANELSET_FIELDS_H

// The stored fields of a panel and of a rack in the panel set file, and the
// one place that names their elements and fixes their order. Keystead's
// panels and racks and the plain records of a headless host store
// themselves through these functions.

#include <QByteArray>
#include <QString>

#include <functional>

namespace arch {
class Itemi;
class Itemo;
}

struct KST_PanelFields
{
    int uid = 0;
    QString name;
    QString description;
    int paneltype = 0;
    bool visible = false;
    QString firmwareIp;
    int panelPort = 2001;
    bool shouldAutostart = false;
    // Whether key presses from remote clients (browsers, the JSON API) are
    // taken.
    bool remotePresses = true;
    // The router controllers the panel accepts, as stored ("" = any).
    QString allowedRouters;
};

struct KST_RackFields
{
    QString name = QStringLiteral("RACK???");
    QString desc;
    bool expanded = false;
    bool visible = false;
    QByteArray uiData; // the rack window's geometry
};

// "uid", "name", "description", "paneltype", "visible", "firmware_ip",
// "panelPort", "should_autostart", "remote_presses", "allowed_routers". A
// field missing on reading keeps its value (with the archive's warning),
// but for "remote_presses" and "allowed_routers", newer than the others: a
// panel set stored before them has none, and such a panel takes presses
// from remote clients and accepts every router, as it did.
void KST_savePanelFields(arch::Itemo *node, const KST_PanelFields &f);
void KST_loadPanelFields(const arch::Itemi *node, KST_PanelFields &f);

// "name", "desc", "expanded", "visible", the panel list "panel" (written by
// putPanels, read by the caller from the element KST_rackPanelsElement()),
// "ui_data".
void KST_saveRackFields(arch::Itemo *node, const KST_RackFields &f,
                        const std::function<void(arch::Itemo *)> &putPanels);
void KST_loadRackFields(const arch::Itemi *node, KST_RackFields &f);
QString KST_rackPanelsElement();

#endif
