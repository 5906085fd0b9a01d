#include "panel_host.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

PanelHost::PanelHost(QObject *parent) : QObject(parent)
{
    KST_PanelFirmware::registerMetaTypes();
}

PanelHost::~PanelHost()
{
    unload();
}

bool PanelHost::load(const QString &library, const QString &workDir)
{
    unload();
    m_error.clear();

    if (!QFileInfo(library).isFile()) {
        m_error = QStringLiteral("firmware library %1 does not exist").arg(library);
        return false;
    }
    if (!QDir().mkpath(workDir)) {
        m_error = QStringLiteral("cannot create work directory %1").arg(workDir);
        return false;
    }
    const QString copy = QDir(workDir).absoluteFilePath(QStringLiteral("firm."));
    QFile::remove(copy);
    QFile src(library);
    if (!src.copy(copy)) {
        m_error = QStringLiteral("cannot copy firmware library %1 to %2: %3")
                      .arg(library, copy, src.errorString());
        return false;
    }

    // The copy runs on the original's code pages, shared with every panel.
    auto loader = std::make_unique<KST_PanelFirmware>(copy, library);
    // Signal to signal, on the thread that reports: the receivers of this
    // object's signals choose how they are delivered.
    connect(loader.get(), &KST_PanelFirmware::stateMsg, this, &PanelHost::stateReported,
            Qt::DirectConnection);
    connect(loader.get(), &KST_PanelFirmware::firm_msg_signal, this, &PanelHost::textReported,
            Qt::DirectConnection);
    connect(loader.get(), &KST_PanelFirmware::buttondriverMsg, this,
            &PanelHost::recordsReported, Qt::DirectConnection);
    if (!loader->start()) {
        m_error = loader->errorString();
        return false; // the loader unloads what it loaded
    }
    m_loader = std::move(loader);
    return true;
}

void PanelHost::unload()
{
    m_loader.reset();
}
