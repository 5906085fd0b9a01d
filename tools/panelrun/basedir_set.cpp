#include "basedir_set.h"

#include "kst_panelinfo.h"
#include "kst_router_list.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtDebug>

#include <cstdio>

BaseDirSet::BaseDirSet(const QString &baseDir, QObject *parent)
    : QObject(parent), m_baseDir(QDir(baseDir).absolutePath()), m_lock(baseDir)
{
}

bool BaseDirSet::open(QString *error)
{
    if (!QFileInfo(m_baseDir).isDir()) {
        *error = QStringLiteral("the base directory %1 does not exist").arg(m_baseDir);
        return false;
    }
    QString why;
    switch (m_lock.acquire(&why)) {
    case KST_PanelSetLock::Acquired:
        break;
    case KST_PanelSetLock::HeldByOther:
        *error = m_lock.inUseText();
        return false;
    case KST_PanelSetLock::Unavailable:
        qWarning("panelrun: no lock on the panel set (%s); running anyway", qPrintable(why));
        break;
    }
    const QString path = QDir(m_baseDir).filePath(QStringLiteral("cfg.xml"));
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("%1 has no panel set (no cfg.xml)").arg(m_baseDir);
        return false;
    }
    QString problem;
    if (!m_set.read(path, &problem)) {
        *error = QStringLiteral("cannot read the panel set %1: %2").arg(path, problem);
        return false;
    }
    return true;
}

std::vector<PanelRack::ListedPanel> BaseDirSet::autostartPanels(const QStringList &addresses)
{
    const KST_PanelInfo info;
    const QString dataDir = QDir(m_baseDir).filePath(QStringLiteral("data"));
    const QString star = QStringLiteral("*");
    std::vector<PanelRack::ListedPanel> listedPanels;
    QList<KST_PanelRecord *> chosen;
    bool changed = false;
    for (KST_RackRecord *rack : qAsConst(m_set.racks)) {
        for (KST_PanelRecord *panel : qAsConst(rack->panels)) {
            KST_PanelFields &f = panel->fields;
            if (!f.shouldAutostart)
                continue;
            // The checks Keystead makes before an autostart.
            QString why;
            if (f.uid <= 0)
                why = QStringLiteral("invalid uid %1").arg(f.uid);
            else if (f.paneltype <= 0 || f.paneltype > info.typeNames().size())
                why = QStringLiteral("No panel type selected.");
            else if (f.firmwareIp.isEmpty())
                why = QStringLiteral("No IP selected.");
            else if (f.firmwareIp != star && !addresses.contains(f.firmwareIp))
                why = QStringLiteral("IP is not valid.");
            for (const KST_PanelRecord *other : qAsConst(chosen)) {
                const KST_PanelFields &o = other->fields;
                const bool sameIp = o.firmwareIp == f.firmwareIp || o.firmwareIp == star
                                    || f.firmwareIp == star;
                if (why.isEmpty() && sameIp && o.panelPort == f.panelPort)
                    why = QStringLiteral("IP - PanelPort already used.");
                if (why.isEmpty() && o.uid == f.uid)
                    why = QStringLiteral("uid %1 used twice").arg(f.uid);
            }
            const QString type = why.isEmpty() ? info.typeName(f.paneltype) : QString();
            if (!why.isEmpty()) {
                qWarning("panel autostart failed %s[%s],%s,%s: %s", qPrintable(f.name),
                         qPrintable(rack->fields.name),
                         qPrintable(f.paneltype > 0 ? info.typeName(f.paneltype) : QStringLiteral("none")),
                         qPrintable(f.firmwareIp), qPrintable(why));
                f.shouldAutostart = false;
                changed = true;
                continue;
            }
            PanelRack::ListedPanel entry;
            entry.type = type;
            entry.ip = f.firmwareIp;
            entry.port = f.panelPort;
            entry.dir = QDir(dataDir).filePath(QStringLiteral("p%1").arg(f.uid));
            entry.configPath = QDir(entry.dir).filePath(QStringLiteral("cfg") + type);
            entry.defaultConfig = info.defaultConfigResource(f.paneltype);
            entry.uid = f.uid;
            entry.name = f.name;
            entry.rack = rack->fields.name;
            entry.remotePresses = f.remotePresses;
            if (!KST_RouterList::parse(f.allowedRouters, &entry.routers, &why)) {
                // Kept as stored, as Keystead keeps it: the firmware reports
                // the entries it cannot use and stays locked to the others.
                fprintf(stderr, "panelrun: panel %d: allowed routers \"%s\": %s\n", f.uid,
                        qPrintable(f.allowedRouters), qPrintable(why));
                entry.routers = f.allowedRouters.split(QRegularExpression(QStringLiteral("[,\\s]+")),
                                                       Qt::SkipEmptyParts);
            }
            listedPanels.push_back(entry);
            chosen << panel;
        }
    }
    m_running = chosen;
    if (changed)
        save();
    return listedPanels;
}

void BaseDirSet::attach(PanelRack *rack)
{
    connect(rack, &PanelRack::startFailed, this, [this](int index) { clearMark(index); });
    // A panel a remote client stops or starts keeps its mark as Keystead's
    // would: the panels running when the set ends start again next time.
    connect(rack, &PanelRack::stoppedOnRequest, this, [this](int index) { clearMark(index); });
    connect(rack, &PanelRack::startedOnRequest, this, [this](int index) { setMark(index); });
}

void BaseDirSet::panelStoppedByCommand(int index)
{
    clearMark(index);
}

void BaseDirSet::clearMark(int index)
{
    if (index < 0 || index >= m_running.size())
        return;
    KST_PanelFields &f = m_running[index]->fields;
    if (!f.shouldAutostart)
        return;
    f.shouldAutostart = false;
    save();
}

void BaseDirSet::setMark(int index)
{
    if (index < 0 || index >= m_running.size())
        return;
    KST_PanelFields &f = m_running[index]->fields;
    if (f.shouldAutostart)
        return;
    f.shouldAutostart = true;
    save();
}

void BaseDirSet::save()
{
    QString problem;
    const QString path = QDir(m_baseDir).filePath(QStringLiteral("cfg.xml"));
    if (!m_set.write(path, &problem))
        qWarning("panelrun: the autostart marks could not be saved to %s: %s", qPrintable(path),
                 qPrintable(problem));
}
