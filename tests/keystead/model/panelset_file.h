#ifndef PANELSET_FILE_H
#define PANELSET_FILE_H

// A panel set file of racks x perRack panels, written as the program writes
// it: panel uids 1, 2, ... in rack order, names "p<uid>-r<round>".

#include "arch_archo.h"
#include "arch_itemo.h"

#include <QString>

inline bool writePanelSet(const QString &path, int racks, int perRack, int round = 0)
{
    arch::Archo archo;
    arch::Itemo *list = archo.root()->addChild(QStringLiteral("racks"));
    int uid = 0;
    for (int r = 0; r < racks; ++r) {
        arch::Itemo *rack = list->addChild(QStringLiteral("e"));
        rack->put(QStringLiteral("name"), QStringLiteral("rack%1").arg(r))
            ->put(QStringLiteral("desc"), QString())
            ->put(QStringLiteral("expanded"), true)
            ->put(QStringLiteral("visible"), false);
        arch::Itemo *panels = rack->addChild(QStringLiteral("panel"));
        for (int i = 0; i < perRack; ++i) {
            ++uid;
            panels->addChild(QStringLiteral("e"))
                ->put(QStringLiteral("uid"), uid)
                ->put(QStringLiteral("name"), QStringLiteral("p%1-r%2").arg(uid).arg(round))
                ->put(QStringLiteral("description"), QStringLiteral("panel number %1").arg(uid))
                ->put(QStringLiteral("paneltype"), 1 + uid % 12)
                ->put(QStringLiteral("visible"), true)
                ->put(QStringLiteral("firmware_ip"), QStringLiteral("127.0.0.1"))
                ->put(QStringLiteral("panelPort"), 3000 + uid)
                ->put(QStringLiteral("should_autostart"), false);
        }
        rack->put(QStringLiteral("ui_data"), QByteArray());
    }
    archo.root()->put(QStringLiteral("puid"), uid)->put(QStringLiteral("ui_data"),
                                                         QMap<int, QByteArray>());
    return archo.saveFile(path);
}

#endif
