#include "kst_panelset_file.h"

#include <QFile>
#include <QSaveFile>
#include <QtDebug>

#include "tess_savefile.h"

const arch::Itemi *KST_openPanelSet(const QString &path, arch::Archi &archi, QString *problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical("failed to open \"%s\" \"%s\" (%s,%d)", qPrintable(path),
                  qPrintable(file.errorString()), __FILE__, __LINE__);
        *problem = file.errorString();
        return nullptr;
    }
    if (!archi.load(&file)) {
        qCritical("failed to read archive \"%s\" (%s,%d)", qPrintable(path), __FILE__, __LINE__);
        *problem = QStringLiteral("not a readable XML document");
        return nullptr;
    }
    const arch::Itemi *root = archi.root();
    // Other files are written with the same archive; a panel set has racks.
    if (root->name() != QLatin1String("arch") || !root->child(QStringLiteral("racks"))) {
        qCritical("failed to read archive \"%s\": not a panel set (%s,%d)", qPrintable(path),
                  __FILE__, __LINE__);
        *problem = QStringLiteral("not a panel set");
        return nullptr;
    }
    return root;
}

bool KST_writePanelSet(const QString &path, const arch::Archo &archo, QString *problem)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCritical("failed to open file for writing %s %s (%s,%d)", qPrintable(path),
                  qPrintable(file.errorString()), __FILE__, __LINE__);
        *problem = file.errorString();
        return false;
    }
    if (!archo.save(&file)) {
        file.cancelWriting();
        qCritical("failed to save to archo (%s,%d)", __FILE__, __LINE__);
        *problem = QStringLiteral("the document could not be written");
        return false;
    }
    tess::SaveError error;
    if (!tess::commitSaveFile(file, &error)) {
        // The old file stays as it was.
        qCritical("failed to save to archo: %s %s (%s,%d)", qPrintable(path),
                  qPrintable(error.text), __FILE__, __LINE__);
        *problem = error.text;
        return false;
    }
    return true;
}

bool KST_PanelRecord::save(arch::Itemo *node) const
{
    KST_savePanelFields(node, fields);
    return true;
}

bool KST_PanelRecord::load(const arch::Itemi *node)
{
    KST_loadPanelFields(node, fields);
    return true;
}

KST_RackRecord::~KST_RackRecord()
{
    qDeleteAll(panels);
}

bool KST_RackRecord::save(arch::Itemo *node) const
{
    KST_saveRackFields(node, fields,
                       [this](arch::Itemo *n) { n->put(KST_rackPanelsElement(), panels); });
    return true;
}

bool KST_RackRecord::load(const arch::Itemi *node)
{
    KST_loadRackFields(node, fields);
    QList<KST_PanelRecord *> list;
    node->get(KST_rackPanelsElement(), list);
    qDeleteAll(panels);
    panels = list;
    return true;
}

KST_PanelSetRecords::~KST_PanelSetRecords()
{
    clear();
}

void KST_PanelSetRecords::clear()
{
    qDeleteAll(racks);
    racks.clear();
    puid = 0;
    uiData.clear();
}

bool KST_PanelSetRecords::read(const QString &path, QString *problem)
{
    clear();
    if (!KST_readPanelSet(path, racks, puid, uiData, problem)) {
        clear();
        return false;
    }
    return true;
}

bool KST_PanelSetRecords::write(const QString &path, QString *problem) const
{
    arch::Archo archo;
    KST_putPanelSet(archo, racks, puid, uiData);
    return KST_writePanelSet(path, archo, problem);
}
