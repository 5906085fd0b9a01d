#ifndef KST_PANELSET_FILE_H
#define KST_PANELSET_FILE_H

// The panel set file, cfg.xml: its top level ("racks", "puid", "ui_data")
// read and written for any rack type that stores itself (arch::Archivable),
// and plain records of racks and panels for a host without windows.
//
// Reading checks that the document is a panel set (root "arch" with
// "racks"); a file that cannot be opened or read logs "failed to open" or
// "failed to read archive" and says why in *problem. Writing replaces the
// file whole or not at all.

#include "arch_archi.h"
#include "arch_archivable.h"
#include "arch_archo.h"
#include "arch_itemi.h"
#include "arch_itemo.h"
#include "kst_panelset_fields.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// Opens and parses the file; the root of a panel set, or null.
const arch::Itemi *KST_openPanelSet(const QString &path, arch::Archi &archi, QString *problem);
// Writes the document atomically; false (with a critical line) when not.
bool KST_writePanelSet(const QString &path, const arch::Archo &archo, QString *problem);

// The panel set under the root of a document already read.
template <typename Rack>
void KST_getPanelSet(const arch::Itemi *root, QList<Rack *> &racks, int &puid,
                     QMap<int, QByteArray> &uiData)
{
    root->get(QStringLiteral("racks"), racks)
        ->get(QStringLiteral("puid"), puid)
        ->get(QStringLiteral("ui_data"), uiData);
}

template <typename Rack>
bool KST_readPanelSet(const QString &path, QList<Rack *> &racks, int &puid,
                      QMap<int, QByteArray> &uiData, QString *problem)
{
    arch::Archi archi;
    const arch::Itemi *root = KST_openPanelSet(path, archi, problem);
    if (!root)
        return false;
    KST_getPanelSet(root, racks, puid, uiData);
    return true;
}

template <typename Rack>
void KST_putPanelSet(arch::Archo &archo, const QList<Rack *> &racks, int puid,
                     const QMap<int, QByteArray> &uiData)
{
    archo.root()
        ->put(QStringLiteral("racks"), racks)
        ->put(QStringLiteral("puid"), puid)
        ->put(QStringLiteral("ui_data"), uiData);
}

// ---- Plain records -------------------------------------------------------------

class KST_PanelRecord : public arch::Archivable
{
public:
    KST_PanelFields fields;

    bool save(arch::Itemo *node) const override;
    bool load(const arch::Itemi *node) override;
};

class KST_RackRecord : public arch::Archivable
{
public:
    KST_RackRecord() = default;
    ~KST_RackRecord() override;
    KST_RackRecord(const KST_RackRecord &) = delete;
    KST_RackRecord &operator=(const KST_RackRecord &) = delete;

    KST_RackFields fields;
    QList<KST_PanelRecord *> panels; // owned

    bool save(arch::Itemo *node) const override;
    bool load(const arch::Itemi *node) override;
};

// A whole panel set as records: read, changed (the autostart marks, say)
// and written back with everything else as it was.
class KST_PanelSetRecords
{
public:
    KST_PanelSetRecords() = default;
    ~KST_PanelSetRecords();
    KST_PanelSetRecords(const KST_PanelSetRecords &) = delete;
    KST_PanelSetRecords &operator=(const KST_PanelSetRecords &) = delete;

    QList<KST_RackRecord *> racks; // owned
    int puid = 0;
    QMap<int, QByteArray> uiData;

    bool read(const QString &path, QString *problem);
    bool write(const QString &path, QString *problem) const;
    void clear();
};

#endif
