// KST_Data: the panel set file. Reading at start (a file that cannot be
// read is moved aside, never overwritten), writing atomically, and the rule
// that writes it at most once per save interval and never later than that.

#include "kst_data.h"

#include "arch_archi.h"
#include "arch_archo.h"
#include "arch_itemi.h"
#include "arch_itemo.h"
#include "kst_dirs.h"
#include "kst_panelset_file.h"
#include "kst_rack.h"
#include "tess_savefile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QtDebug>

// ---- Reading --------------------------------------------------------------------

namespace {

// The highest uid that names a directory data/p<uid> in the data
// directory, 0 for none.
int highestPanelDirectory(const QString &dataDir)
{
    int highest = 0;
    if (dataDir.isEmpty())
        return 0;
    static const QRegularExpression name(QStringLiteral("^p([1-9][0-9]{0,8})$"));
    const QStringList dirs = QDir(dataDir).entryList({QStringLiteral("p*")}, QDir::Dirs);
    for (const QString &d : dirs) {
        const QRegularExpressionMatch m = name.match(d);
        if (m.hasMatch())
            highest = qMax(highest, m.captured(1).toInt());
    }
    return highest;
}

} // namespace

// Where the panels keep their directories (KST_PanelInstance).
QString KST_Data::dataDirectory() const
{
    const QString base = baseDir();
    return base.isEmpty() ? QString() : base + QStringLiteral("/data");
}

int KST_Data::nextFreeUid()
{
    // Above every uid handed out and every panel directory on disk: a new
    // panel never finds files of another.
    m_puid = qMax(m_puid, highestPanelDirectory(dataDirectory()));
    return ++m_puid;
}

// A save killed half way leaves QSaveFile's temporary file, "cfg.xml."
// and six characters, beside the panel set file. Only one program runs on
// a base directory at a time, so any such file is left over.
void KST_Data::removeLeftoverTemporaries()
{
    if (m_path.isEmpty())
        return;
    const QFileInfo file(m_path);
    static const QRegularExpression temporary(QStringLiteral("^[A-Za-z0-9]{6}$"));
    const QString prefix = file.fileName() + QLatin1Char('.');
    const QStringList found = file.dir().entryList({prefix + QStringLiteral("??????")}, QDir::Files | QDir::Hidden);
    for (const QString &name : found) {
        if (!temporary.match(name.mid(prefix.size())).hasMatch())
            continue;
        if (file.dir().remove(name))
            qWarning("removed \"%s\", left over from a save that did not finish (%s,%d)",
                     qPrintable(file.dir().filePath(name)), __FILE__, __LINE__);
    }
}

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
    for (KST_Rack *rack : qAsConst(m_racks))
        for (KST_PanelInstance *p : rack->panels())
            m_puid = qMax(m_puid, p->uid());

    // Two panels on one uid would share one directory, one firmware copy
    // and one configuration. The first in the file keeps it; a later one
    // (and one without a valid uid) gets a uid and a directory of its own.
    QSet<int> uids;
    for (KST_Rack *rack : qAsConst(m_racks)) {
        connectRack(rack);
        for (KST_PanelInstance *p : rack->panels()) {
            if (p->uid() > 0 && !uids.contains(p->uid())) {
                uids.insert(p->uid());
            } else {
                const int old = p->uid();
                const int uid = nextFreeUid();
                p->renumber(uid, &m_panelInfo);
                uids.insert(uid);
                m_renumbered = true;
                qWarning("panel \"%s\" in \"%s\" has uid %d, which is %s: it gets uid %d and "
                         "a new directory \"%s\" (%s,%d)",
                         qPrintable(p->name()), qPrintable(rack->name()), old,
                         old <= 0 ? "invalid" : "used twice", uid,
                         qPrintable(p->dataDirectory() + QLatin1Char('/') + p->panelDir()),
                         __FILE__, __LINE__);
            }
            // Values no panel can use keep the panel, in error, unstarted.
            const QString unusable = p->settingsProblem();
            if (!unusable.isEmpty()) {
                qWarning("panel \"%s\" in \"%s\" cannot be started: %s (%s,%d)",
                         qPrintable(p->name()), qPrintable(rack->name()), qPrintable(unusable),
                         __FILE__, __LINE__);
                p->markUnusable(unusable);
            }
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
    m_renumbered = false;
    removeLeftoverTemporaries();
    if (!m_path.isEmpty() && QFileInfo::exists(m_path)) {
        QString problem;
        if (!readFile(&problem)) {
            clearSet();
            setAside(problem);
        }
    }
    endResetModel();
    // New uids are kept at once: the directories made for them are theirs.
    if (m_renumbered)
        save();
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
