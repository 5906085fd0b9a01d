#include "kst_panel_firmware.h"

#include "kst_firmware_inbox.h"
#include "kst_shared_code.h"

#include <QLibrary>
#include <QPointer>
#include <QtDebug>

#include <vector>

namespace {

// Takes the firmware's reports once the loader that was its callback is
// gone. A firmware copy that outlives its loader (its thread would not stop,
// or a finished-thread report is still queued) then reports into this object,
// which lives as long as the process, instead of into freed memory.
class DetachedCallback : public TFW_IFirmwareCallback
{
public:
    void stateMsg(StateMsg) override {}
    void firmMsg(const QString &) override {}
    void buttondriverMsg(const std::vector<QByteArray> &) override {}
};

DetachedCallback s_detached;

// Inboxes of loaders whose firmware thread would not stop. A report that
// thread had already begun when the callback was swapped may still reach
// its inbox, so a closed inbox is kept for the life of the process, never
// destroyed (not even at exit, while that thread may still run).
std::vector<std::unique_ptr<KST_FirmwareInbox>> *s_orphanedInboxes;

void orphanInbox(std::unique_ptr<KST_FirmwareInbox> inbox)
{
    if (!s_orphanedInboxes)
        s_orphanedInboxes = new std::vector<std::unique_ptr<KST_FirmwareInbox>>;
    s_orphanedInboxes->push_back(std::move(inbox));
}

} // namespace

KST_PanelFirmware::KST_PanelFirmware(const QString &libraryPath, const QString &codeSource)
    : QObject(nullptr), m_inbox(std::make_unique<KST_FirmwareInbox>(this, "deliverReports")),
      m_library(new QLibrary(libraryPath, this)), m_libraryPath(libraryPath),
      m_codeSource(codeSource)
{
    // Registered before any library copy is loaded, so that the registry
    // refers to the host's own copies of these types, which outlive every
    // library copy.
    registerMetaTypes();
}

KST_PanelFirmware::~KST_PanelFirmware()
{
    bool ended = true;
    // Another QLibrary on the same file can unload the copy behind this
    // loader's back (its unload drops the shared handle); the firmware object
    // went with it then, and nothing is left to stop.
    if (m_firmware && m_library->isLoaded()) {
        // Harmless when the thread has already ended: the wait returns at once.
        ended = m_firmware->stop();
        m_firmware->setCallback(&s_detached);
    }
    // Reports still waiting are of no one's interest now; the closed inbox
    // wakes no one.
    m_inbox->close();
    // The copy keeps what it maps; the image's descriptor is for copies
    // still to come.
    if (m_codeImage)
        kst_release_code_image(m_codeImage);
    if (!ended) {
        orphanInbox(std::move(m_inbox));
        // Unloading now would pull the code from under the running thread.
        // The copy stays mapped (a QLibrary destroyed while loaded does not
        // unload) and its reports go to the detached callback.
        qCritical("firmware thread still running, library %s left loaded (%s,%d)",
                  qPrintable(m_libraryPath), __FILE__, __LINE__);
        return;
    }
    if (m_library->isLoaded()) {
        const bool unloaded = m_library->unload();
        if (!unloaded)
            qDebug("firmware library unloaded %s", unloaded ? "true" : "false");
    }
    // m_library goes with its Qt parent, this object.
}

void KST_PanelFirmware::registerMetaTypes()
{
    tfw_register_meta_types();
}

bool KST_PanelFirmware::start()
{
    if (m_firmware)
        return true;
    m_error.clear();

    if (!m_library->load()) {
        m_error = QStringLiteral("cannot load firmware library %1: %2")
                      .arg(m_library->fileName(), m_library->errorString());
        qCritical("could not load library %s %s (%s,%d)", qPrintable(m_library->fileName()),
                  qPrintable(m_library->errorString()), __FILE__, __LINE__);
        return false;
    }
    // Before any of the copy's code runs on another thread.
    if (!m_codeSource.isEmpty() && kst_shared_code_enabled()) {
        QString why;
        m_codeImage = kst_share_code_pages(m_library->fileName(), m_codeSource, &why);
        if (!m_codeImage)
            qDebug("firmware copy runs on its own code pages: %s", qPrintable(why));
    }
    // The library stays loaded on the failures below; the destructor
    // unloads it.
    auto entry = reinterpret_cast<TFW_GetIFirmware>(m_library->resolve(TFW_ENTRY_NAME));
    if (!entry) {
        m_error = QStringLiteral("firmware library %1 has no usable %2: %3")
                      .arg(m_library->fileName(), QLatin1String(TFW_ENTRY_NAME),
                           m_library->errorString());
        qCritical("failed to resolve lib function %s (%s,%d)",
                  qPrintable(m_library->errorString()), __FILE__, __LINE__);
        return false;
    }
    TFW_IFirmware *fw = entry();
    if (!fw) {
        // A library that exports the entry but has no firmware object would
        // otherwise crash the host at the first call into it.
        m_error = QStringLiteral("firmware library %1 has no usable %2: it returned no firmware")
                      .arg(m_library->fileName(), QLatin1String(TFW_ENTRY_NAME));
        qCritical("lib function returned no firmware %s (%s,%d)",
                  qPrintable(m_library->fileName()), __FILE__, __LINE__);
        return false;
    }
    m_firmware = fw;
    m_firmware->setCallback(m_inbox.get());
    return true;
}

bool KST_PanelFirmware::stop()
{
    if (!m_firmware || !m_library->isLoaded()) {
        qCritical("firmware lib not loaded (%s,%d)", __FILE__, __LINE__);
        return false;
    }
    // The firmware reports the end of its thread itself; the result of the
    // bounded wait adds nothing to that.
    m_firmware->stop();
    qDebug("KST_PanelFirmware::stop()");
    return true;
}

void KST_PanelFirmware::sendCollectorMsg(const collector::CollectorMsg &msg)
{
    if (!m_firmware || !m_library->isLoaded()) {
        qCritical("firmware null (%s,%d)", __FILE__, __LINE__);
        return;
    }
    m_firmware->sendCollectorMsg(msg);
}

void KST_PanelFirmware::firmMsg(const QString &text)
{
    emit firm_msg_signal(text);
}

int KST_PanelFirmware::pendingReports() const
{
    return m_inbox->pending();
}

void KST_PanelFirmware::deliverReports()
{
    // A receiver connected directly may delete this loader.
    QPointer<KST_PanelFirmware> self(this);
    for (KST_FirmwareInbox::Report &r : m_inbox->take()) {
        switch (r.kind) {
        case KST_FirmwareInbox::Report::State:
            emit stateMsg(r.state);
            break;
        case KST_FirmwareInbox::Report::Text:
            emit firm_msg_signal(r.text);
            break;
        case KST_FirmwareInbox::Report::Buttons:
            emit buttondriverMsg(r.batch);
            break;
        }
        if (!self)
            return;
    }
}
