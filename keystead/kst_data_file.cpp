// KST_Data: the panel set file. Reading at start (a file that cannot be
// read is moved aside, never overwritten), writing atomically, and the rule
// that writes it at most once per save interval and never later than that.

#include "kst_data.h"

#include "arch_archi.h"
#include "arch_archo.h"
#include "arch_itemi.h"
#include "arch_itemo.h"
#include "kst_panelset_file.h"
#include "kst_rack.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QtDebug>

// ---- Reading --------------------------------------------------------------------

void KST_Data::clearSet()
{
    qDeleteAll(m_racks);
    m_racks.clear();
    m_uiData.clear();
    m_puid = 0;
}

bool KST_Data::readFile(QString *problem)
{
    QList<KST_Rack *> racks;
    int puid = 0;
    QMap<int, QByteArray> uiData;
    if (!KST_readPanelSet(m_path, racks, puid, uiData, problem))
        return false;
    m_racks = racks;
    m_puid = puid;
    m_uiData = uiData;

    // A uid names the panel's directory: a new panel must never get one that
    // is taken, whatever "puid" says.
    QSet<int> uids;
    for (KST_Rack *rack : qAsConst(m_racks)) {
        connectRack(rack);
        for (KST_PanelInstance *p : rack->panels()) {
            if (p->uid() <= 0 || uids.contains(p->uid()))
                qWarning("panel \"%s\" in \"%s\" has uid %d, which is %s (%s,%d)",
                         qPrintable(p->name()), qPrintable(rack->name()), p->uid(),
                         p->uid() <= 0 ? "invalid" : "used twice", __FILE__, __LINE__);
            uids.insert(p->uid());
            m_puid = qMax(m_puid, p->uid());
        }
        rack->refresh();
    }
    return true;
}

// The file stays for the user to look at or mend, under a name no save
// uses; the program goes on with an empty panel set.
void KST_Data::setAside(const QString &problem)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString target = m_path + QStringLiteral(".bad-") + stamp;
    for (int n = 1; QFileInfo::exists(target); ++n)
        target = m_path + QStringLiteral(".bad-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(m_path, target)) {
        m_saveRefused = true;
        qCritical("could not keep the unreadable panel set \"%s\" as \"%s\"; it will not be "
                  "overwritten, changes to the panel set are not saved (%s,%d)",
                  qPrintable(m_path), qPrintable(target), __FILE__, __LINE__);
        return;
    }
    qWarning("the panel set \"%s\" could not be read (%s); it is kept as \"%s\" and the "
             "program starts with an empty panel set (%s,%d)",
             qPrintable(m_path), qPrintable(problem), qPrintable(target), __FILE__, __LINE__);
}

void KST_Data::load()
{
    beginResetModel();
    clearSet();
    m_saveRefused = false;
    if (!m_path.isEmpty() && QFileInfo::exists(m_path)) {
        QString problem;
        if (!readFile(&problem)) {
            clearSet();
            setAside(problem);
        }
    }
    endResetModel();
}

// ---- Writing --------------------------------------------------------------------

void KST_Data::save()
{
    m_lastSave.start();
    if (m_path.isEmpty())
        return;
    if (m_saveRefused) {
        qCritical("not saving over the unreadable panel set \"%s\" (%s,%d)", qPrintable(m_path),
                  __FILE__, __LINE__);
        return;
    }

    arch::Archo archo;
    for (KST_Rack *rack : qAsConst(m_racks))
        rack->storeGeometry();
    KST_putPanelSet(archo, m_racks, m_puid, m_uiData);
    // The new file replaces the old one whole, or not at all; the
    // autosaver tries again after a failure.
    QString problem;
    if (!KST_writePanelSet(m_path, archo, &problem))
        m_changed = true;
}

void KST_Data::setChanged()
{
    if (m_lastSave.isValid() && m_lastSave.elapsed() < m_saveInterval) {
        m_changed = true;
        return;
    }
    m_changed = false;
    save();
}

void KST_Data::timer_autosaver()
{
    if (!m_changed)
        return;
    m_changed = false;
    save();
}
