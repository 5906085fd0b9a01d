#ifndef KST_PANELINFO_H
#define KST_PANELINFO_H

#include "kst_dirs.h"

#include <QMap>
#include <QString>
#include <QStringList>

// The table of emulated panel models and every name that depends on a
// panel's type. A panel's type is an index into the table; the panel set
// file stores that index, so the numbering never changes. Index 0 is "none",
// the type of a panel that has none yet.
class KST_PanelInfo
{
public:
    struct Entry
    {
        int id;
        QString name;
    };
    // Number of panel models in the table: indexes 1 to TypeCount.
    static constexpr int TypeCount = 12;

    // The firmware source path is derived from the given directories; by
    // default from this process.
    KST_PanelInfo();
    explicit KST_PanelInfo(const KST_DirEnv &env);

    // The type name for an index: "none" for 0, and for an index outside the
    // table after the critical line "KST_paneltype <index> not found".
    QString typeName(int index) const;
    // The first index whose name equals name exactly, 0 for none.
    int typeIndex(const QString &name) const;
    // "layout_<type name in lower case>.xml".
    QString layoutFileName(int index) const;
    // The built-in default configuration ":/config/cfg<type name>".
    QString defaultConfigResource(int index) const;
    // "cfg<type name>", the configuration file in a panel's directory.
    QString configFileName(int index) const;
    // The type names of the table (without "none"), in index order.
    QStringList typeNames() const;
    // Number of panel models in the table (not counting "none").
    int typeCount() const { return m_count; }

    // The firmware library copied into each panel directory: the development
    // build when present, else "firm." next to the program, else the
    // installed one (see installedFirmwarePath). Computed once.
    QString firmwareSourcePath() const;
    // "firm." next to the program when it is there (a build tree), else
    // <program dir>/../lib/tessaline/firm. when that is there (an installed
    // program: bin/keystead, lib/tessaline/firm.), else the first.
    static QString installedFirmwarePath(const QString &programDir);

private:
    void fillTable();

    QMap<int, Entry> m_types;
    int m_count = 0;
    mutable QString m_firmwareSourcePath;
    KST_DirEnv m_env;
};

#endif
