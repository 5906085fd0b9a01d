#include "kst_dirs.h"
#include "kst_panelinfo.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool writable(const QString &) { return true; }
bool readOnly(const QString &) { return false; }

// A program whose directories all lie in one temporary directory.
KST_DirEnv envIn(const QTemporaryDir &tmp, const QString &programSub)
{
    KST_DirEnv env;
    env.programDir = tmp.filePath(programSub);
    env.currentDir = tmp.filePath(QStringLiteral("cwd"));
    env.userDataRoot = tmp.filePath(QStringLiteral("share"));
    env.isWritable = writable;
    QDir().mkpath(env.programDir);
    QDir().mkpath(env.currentDir);
    return env;
}

void expectLog(QtMsgType type, const QString &pattern)
{
    QTest::ignoreMessage(type, QRegularExpression(pattern));
}

void touch(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
}

} // namespace

class TestPanelInfo : public QObject
{
    Q_OBJECT

private slots:
    void typeTable();
    void baseDirRules();
    void userDataDirectory();
    void firmwareSource();
};

void TestPanelInfo::typeTable()
{
    const KST_PanelInfo info;
    // The indexes are stored in panel set files.
    const QStringList names{"SK1100A", "SK1200A", "SK1300A", "SK1400A", "SK1500A", "SK1600A",
                            "SK1700A", "SK1800A", "SK1900A", "SK2000A", "SK2100A", "SK2200A"};
    QCOMPARE(info.typeNames(), names);
    QCOMPARE(info.typeCount(), 12);
    for (int i = 1; i <= 12; ++i)
        QCOMPARE(info.typeIndex(info.typeName(i)), i);
    QCOMPARE(info.typeName(0), QStringLiteral("none"));
    QCOMPARE(info.layoutFileName(10), QStringLiteral("layout_sk2000a.xml"));
    QCOMPARE(info.layoutFileName(0), QStringLiteral("layout_none.xml"));
    QCOMPARE(info.defaultConfigResource(10), QStringLiteral(":/config/cfgSK2000A"));
    QCOMPARE(info.configFileName(12), QStringLiteral("cfgSK2200A"));

    for (int index : {13, -1}) {
        const QString notFound = QStringLiteral("^KST_paneltype %1 not found \\(.*kst_panelinfo\\.cpp,\\d+\\)$").arg(index);
        expectLog(QtCriticalMsg, notFound);
        QCOMPARE(info.typeName(index), QStringLiteral("none"));
        expectLog(QtCriticalMsg, notFound);
        QCOMPARE(info.layoutFileName(index), QStringLiteral("layout_none.xml"));
    }
    for (const char *other : {"sk2000a", "SK2000A ", "", "none"})
        QCOMPARE(info.typeIndex(QString::fromLatin1(other)), 0);
}

void TestPanelInfo::baseDirRules()
{
    QTemporaryDir tmp;
    // The first call reports the base it found.
    expectLog(QtDebugMsg, "^base_dir ");
    QCOMPARE(baseDir(envIn(tmp, "opt/tessaline")), tmp.filePath("opt/tessaline"));
    // A build output directory stands for the one above it; only the exact
    // last names "release" and "debug" count.
    QCOMPARE(baseDir(envIn(tmp, "b1/release")), tmp.filePath("b1"));
    QCOMPARE(baseDir(envIn(tmp, "b2/debug")), tmp.filePath("b2"));
    QCOMPARE(baseDir(envIn(tmp, "b3/Release")), tmp.filePath("b3/Release"));
    QCOMPARE(baseDir(envIn(tmp, "prerelease")), tmp.filePath("prerelease"));

    KST_DirEnv env = envIn(tmp, "gone");
    env.programDir = tmp.filePath("missing");
    expectLog(QtCriticalMsg, "missing does not exist \\(");
    QCOMPARE(baseDir(env), QString());

    // TESSALINE_BASE_DIR wins over the program directory and --basedir over
    // both; neither is shortened nor replaced when not writable.
    env = envIn(tmp, "prog/release");
    env.isWritable = readOnly;
    QDir().mkpath(tmp.filePath("fromenv/debug"));
    QDir().mkpath(tmp.filePath("cwd/fromoption"));
    env.baseDirEnv = tmp.filePath("fromenv/debug");
    QCOMPARE(baseDir(env), tmp.filePath("fromenv/debug"));
    env.baseDirOption = QStringLiteral("fromoption/"); // relative to the current directory
    QCOMPARE(baseDir(env), tmp.filePath("cwd/fromoption"));
    env.baseDirOption = tmp.filePath("nowhere");
    expectLog(QtCriticalMsg, "nowhere does not exist");
    QCOMPARE(baseDir(env), QString());

    KST_setBaseDirOption(tmp.path());
    QCOMPARE(baseDir(), tmp.path());
    KST_setBaseDirOption(QString());
}

void TestPanelInfo::userDataDirectory()
{
    QTemporaryDir tmp;
    KST_DirEnv env = envIn(tmp, "usr/bin");
    env.isWritable = readOnly;
    const QString data = tmp.filePath("share/Corvane/Tessaline");
    expectLog(QtDebugMsg, "not writable, using the per-user data dir");
    expectLog(QtDebugMsg, "^data dir does not exists,create it ");
    QCOMPARE(baseDir(env), data);
    QVERIFY(QFileInfo(data).isDir());
    QCOMPARE(localAppDataDir(env.userDataRoot + "/"), data + "/");

    expectLog(QtCriticalMsg, "^failed to get local app data dir");
    QCOMPARE(localAppDataDir(QString()), QString());
    // A file where a directory belongs.
    QDir().mkpath(tmp.filePath("share2/Corvane"));
    touch(tmp.filePath("share2/Corvane/Tessaline"));
    expectLog(QtDebugMsg, "^data dir does not exists");
    expectLog(QtCriticalMsg, "^failed to create data dir");
    QCOMPARE(localAppDataDir(tmp.filePath("share2")), QString());
}

void TestPanelInfo::firmwareSource()
{
    QTemporaryDir tmp;
    const KST_DirEnv env = envIn(tmp, "build/keystead");
    QCOMPARE(KST_PanelInfo(env).firmwareSourcePath(), env.programDir + "/firm.");

    // A development build next to the current directory is taken instead,
    // and the choice is made once.
    QDir().mkpath(tmp.filePath("tessfw"));
    touch(tmp.filePath("tessfw/libtessfw.so"));
    QCOMPARE(developmentFirmwarePath(env.currentDir), QStringLiteral("../tessfw/libtessfw.so"));
    const KST_PanelInfo info(env);
    const QString dev = env.currentDir + "/../tessfw/libtessfw.so";
    QCOMPARE(info.firmwareSourcePath(), dev);
    QFile::remove(tmp.filePath("tessfw/libtessfw.so"));
    QCOMPARE(info.firmwareSourcePath(), dev);
    QCOMPARE(developmentFirmwarePath(env.currentDir), QString());

    // Installed: bin/keystead finds lib/tessaline/firm.; a copy beside the
    // program wins over it.
    const KST_DirEnv inst = envIn(tmp, "usr/bin");
    QDir().mkpath(tmp.filePath("usr/lib/tessaline"));
    touch(tmp.filePath("usr/lib/tessaline/firm."));
    QCOMPARE(KST_PanelInfo(inst).firmwareSourcePath(), tmp.filePath("usr/lib/tessaline/firm."));
    touch(tmp.filePath("usr/bin/firm."));
    QCOMPARE(KST_PanelInfo(inst).firmwareSourcePath(), tmp.filePath("usr/bin/firm."));
}

QTEST_GUILESS_MAIN(TestPanelInfo)
#include "tst_panelinfo.moc"
