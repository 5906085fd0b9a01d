#include "kst_dirs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>

#include <atomic>

namespace {

QMutex g_optionLock;
QString g_baseDirOption;

const char kDataSubdir[] = "Corvane/Tessaline/";
const char kDevFirmware[] = "../tessfw/libtessfw.so";

bool fileSystemWritable(const QString &dir)
{
    return QFileInfo(dir).isWritable();
}

// An override given relative to the current directory, made absolute.
QString absoluteFrom(const QString &currentDir, const QString &path)
{
    return QDir::cleanPath(QDir(currentDir).absoluteFilePath(path));
}

// A build output directory ".../release" or ".../debug" (case-sensitive)
// stands for the directory above it. Only a whole last component counts: an
// install directory such as "/opt/prerelease" is used as it is.
QString withoutBuildSuffix(const QString &dir)
{
    const qsizetype slash = dir.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return dir;
    const QString last = dir.mid(slash + 1);
    if (last != QLatin1String("release") && last != QLatin1String("debug"))
        return dir;
    return slash == 0 ? QStringLiteral("/") : dir.left(slash);
}

} // namespace

KST_DirEnv KST_DirEnv::fromProcess()
{
    KST_DirEnv env;
    env.programDir = QCoreApplication::applicationDirPath();
    env.currentDir = QDir::currentPath();
    env.userDataRoot = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    env.baseDirOption = KST_baseDirOption();
    env.baseDirEnv = qEnvironmentVariable("TESSALINE_BASE_DIR");
    return env;
}

void KST_setBaseDirOption(const QString &dir)
{
    QMutexLocker lock(&g_optionLock);
    g_baseDirOption = dir;
}

QString KST_baseDirOption()
{
    QMutexLocker lock(&g_optionLock);
    return g_baseDirOption;
}

QString localAppDataDir()
{
    return localAppDataDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
}

QString localAppDataDir(const QString &userDataRoot)
{
    QString root = userDataRoot;
    root.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    if (root.isEmpty() || !QDir().mkpath(root)) {
        qCritical("failed to get local app data dir %s (%s,%d)", qPrintable(root), __FILE__,
                  __LINE__);
        return QString();
    }
    const QString dir = root + QLatin1Char('/') + QLatin1String(kDataSubdir);
    if (!QFileInfo::exists(dir)) {
        qDebug("data dir does not exists,create it %s", qPrintable(dir));
        if (!QDir(root).mkpath(QLatin1String(kDataSubdir))) {
            qCritical("failed to create data dir %s (%s,%d)", qPrintable(dir), __FILE__,
                      __LINE__);
            return QString();
        }
    }
    return dir;
}

QString baseDir()
{
    return baseDir(KST_DirEnv::fromProcess());
}

QString baseDir(const KST_DirEnv &env)
{
    static std::atomic<bool> reported{false};

    QString base;
    const bool fromProgram = env.baseDirOption.isEmpty() && env.baseDirEnv.isEmpty();
    if (!env.baseDirOption.isEmpty())
        base = absoluteFrom(env.currentDir, env.baseDirOption);
    else if (!env.baseDirEnv.isEmpty())
        base = absoluteFrom(env.currentDir, env.baseDirEnv);
    else
        base = env.programDir;

    if (!reported.exchange(true))
        qDebug("base_dir %s", qPrintable(base));

    if (base.isEmpty() || !QFileInfo(base).isDir()) {
        qCritical("%s does not exist (%s,%d)", qPrintable(base), __FILE__, __LINE__);
        return QString();
    }
    if (!fromProgram)
        return base;

    base = withoutBuildSuffix(base);
    const auto writable = env.isWritable ? env.isWritable : fileSystemWritable;
    if (!writable(base)) {
        // An installed program's directory belongs to the system; its data
        // go to the user's own directory instead.
        qDebug("base dir %s not writable, using the per-user data dir", qPrintable(base));
        base = localAppDataDir(env.userDataRoot);
        if (base.isEmpty())
            return QString();
        base.chop(1); // the trailing "/"
    }
    return base;
}

QString developmentFirmwarePath()
{
    return developmentFirmwarePath(QDir::currentPath());
}

QString developmentFirmwarePath(const QString &currentDir)
{
    const QString path = QLatin1String(kDevFirmware);
    if (QFileInfo::exists(currentDir + QLatin1Char('/') + path))
        return path;
    return QString();
}
