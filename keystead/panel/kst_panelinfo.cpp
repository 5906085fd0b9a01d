#include "kst_panelinfo.h"

#include <QDir>
#include <QFileInfo>

KST_PanelInfo::KST_PanelInfo() : KST_PanelInfo(KST_DirEnv::fromProcess()) {}

KST_PanelInfo::KST_PanelInfo(const KST_DirEnv &env) : m_env(env)
{
    fillTable();
}

void KST_PanelInfo::fillTable()
{
    // The index is what the panel set file stores: append only, never
    // renumber.
    static const char *const names[] = {
        "SK1100A", "SK1200A", "SK1300A", "SK1400A", "SK1500A", "SK1600A",
        "SK1700A", "SK1800A", "SK1900A", "SK2000A", "SK2100A", "SK2200A",
    };
    int index = 1;
    for (const char *name : names) {
        m_types.insert(index, Entry{index, QString::fromLatin1(name)});
        ++index;
    }
    m_count = int(m_types.size());
    Q_ASSERT(m_count == TypeCount);
}

QString KST_PanelInfo::typeName(int index) const
{
    if (index == 0)
        return QStringLiteral("none");
    const auto it = m_types.constFind(index);
    if (it == m_types.cend()) {
        qCritical("KST_paneltype %d not found (%s,%d)", index, __FILE__, __LINE__);
        return QStringLiteral("none");
    }
    return it->name;
}

int KST_PanelInfo::typeIndex(const QString &name) const
{
    for (auto it = m_types.cbegin(); it != m_types.cend(); ++it) {
        if (it->name == name)
            return it.key();
    }
    return 0;
}

QString KST_PanelInfo::layoutFileName(int index) const
{
    return QStringLiteral("layout_%1.xml").arg(typeName(index).toLower());
}

QString KST_PanelInfo::defaultConfigResource(int index) const
{
    return QStringLiteral(":/config/cfg%1").arg(typeName(index));
}

QString KST_PanelInfo::configFileName(int index) const
{
    return QStringLiteral("cfg%1").arg(typeName(index));
}

QStringList KST_PanelInfo::typeNames() const
{
    QStringList names;
    for (const Entry &e : m_types)
        names.append(e.name);
    return names;
}

QString KST_PanelInfo::firmwareSourcePath() const
{
    if (m_firmwareSourcePath.isEmpty()) {
        const QString dev = developmentFirmwarePath(m_env.currentDir);
        if (!dev.isEmpty())
            m_firmwareSourcePath = m_env.currentDir + QLatin1Char('/') + dev;
        else
            m_firmwareSourcePath = installedFirmwarePath(m_env.programDir);
    }
    return m_firmwareSourcePath;
}

QString KST_PanelInfo::installedFirmwarePath(const QString &programDir)
{
    const QString beside = programDir + QStringLiteral("/firm.");
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed =
        QDir::cleanPath(programDir + QStringLiteral("/../lib/tessaline/firm."));
    return QFileInfo::exists(installed) ? installed : beside;
}
