#ifndef KST_DIRS_H
#define KST_DIRS_H

// Where the host program keeps its files. The base directory holds the
// panel set file (base/cfg.xml) and the panel directories (base/data/p<uid>);
// it is, in order of precedence:
//   1. the directory given with --basedir,
//   2. the directory named by the environment variable TESSALINE_BASE_DIR,
//   3. the program's own directory (its parent when the program runs from a
//      build output directory named "release" or "debug"), or, when that
//      directory is not writable, the per-user data directory
//      <generic data location>/Corvane/Tessaline.
// Every function returns an empty path after a critical line on failure.

#include <QString>

// What the directory rules depend on, gathered in one place so the rules can
// be exercised without a running program.
struct KST_DirEnv
{
    QString programDir;    // the program's own directory
    QString currentDir;    // the current directory
    QString userDataRoot;  // the per-user generic data location
    QString baseDirOption; // --basedir, empty when not given
    QString baseDirEnv;    // TESSALINE_BASE_DIR, empty when unset
    // Whether a directory can be written to; null asks the file system.
    bool (*isWritable)(const QString &dir) = nullptr;

    // This process: its program and current directory, the user's data
    // location, the environment and the --basedir set with
    // KST_setBaseDirOption.
    static KST_DirEnv fromProcess();
};

// The --basedir value of this process, set by the application once it has
// parsed its command line (empty: not given).
void KST_setBaseDirOption(const QString &dir);
QString KST_baseDirOption();

// The per-user data directory, created when missing; ends in "/".
QString localAppDataDir();
QString localAppDataDir(const QString &userDataRoot);

// The base directory, without a trailing "/".
QString baseDir();
QString baseDir(const KST_DirEnv &env);

// "../tessfw/libtessfw.so" when that file exists relative to the current
// directory (a run from the build tree), else empty.
QString developmentFirmwarePath();
QString developmentFirmwarePath(const QString &currentDir);

#endif
