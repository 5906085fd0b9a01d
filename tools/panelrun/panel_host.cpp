#include "panel_host.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

PanelHost::PanelHost(QObject *parent) : QObject(parent)
{
    tfw_register_meta_types();
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

    auto lib = std::make_unique<QLibrary>(copy);
    if (!lib->load()) {
        m_error = QStringLiteral("cannot load firmware library %1: %2").arg(copy, lib->errorString());
        return false;
    }
    auto entry = reinterpret_cast<TFW_GetIFirmware>(lib->resolve(TFW_ENTRY_NAME));
    TFW_IFirmware *fw = entry ? entry() : nullptr;
    if (!fw) {
        m_error = QStringLiteral("firmware library %1 has no usable %2")
                      .arg(copy, QLatin1String(TFW_ENTRY_NAME));
        lib->unload();
        return false;
    }
    m_library = std::move(lib);
    m_firmware = fw;
    m_firmware->setCallback(this);
    return true;
}

void PanelHost::unload()
{
    if (!m_library)
        return;
    m_firmware = nullptr;
    m_library->unload();
    m_library.reset();
}

void PanelHost::stateMsg(StateMsg msg)
{
    emit stateReported(msg);
}

void PanelHost::firmMsg(const QString &text)
{
    emit textReported(text);
}

void PanelHost::buttondriverMsg(const std::vector<QByteArray> &records)
{
    emit recordsReported(records);
}
