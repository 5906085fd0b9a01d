#ifndef BASEDIR_SET_H
#define BASEDIR_SET_H

// A Keystead base directory run without windows: its panel set (cfg.xml),
// read and written through the same panel set file code as Keystead's, its
// panel directories data/p<uid> and its autostart marks. The panels marked
// to start are run, each as Keystead runs it (its directory, its copy of the
// firmware, its configuration there, the type's default when it has none);
// a panel that fails the checks Keystead makes before an autostart, or
// whose start fails, loses its mark, as does a panel stopped on its own by
// a command. Marks of panels still running when the program ends stay, so
// the same panels start again the next time, here or in Keystead.
//
// The base directory's lock (KST_PanelSetLock) is held from open() on:
// while a Keystead runs the panel set, panelrun refuses it, and the other
// way round.

#include "kst_panelset_file.h"
#include "kst_panelset_lock.h"
#include "panel_rack.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class BaseDirSet : public QObject
{
public:
    explicit BaseDirSet(const QString &baseDir, QObject *parent = nullptr);

    // Takes the lock and reads cfg.xml. False with *error when the panel
    // set is in use by another program, or its file is missing or cannot
    // be read.
    bool open(QString *error);

    // The panels to run, in the panel set's order; those with a mark that
    // fail the checks lose it (saved) with the warning "panel autostart
    // failed". addresses: this machine's addresses (for the check).
    std::vector<PanelRack::ListedPanel> autostartPanels(const QStringList &addresses);

    // Follows the rack's failed starts (their marks are cleared).
    void attach(PanelRack *rack);
    // The panel at the rack's index was stopped on its own: its mark goes.
    void panelStoppedByCommand(int index);

    QString baseDir() const { return m_baseDir; }

private:
    void clearMark(int index);
    void setMark(int index);
    void save();

    QString m_baseDir;
    KST_PanelSetLock m_lock;
    KST_PanelSetRecords m_set;
    // The record and rack name of each panel handed out, by rack index.
    QList<KST_PanelRecord *> m_running;
};

#endif
