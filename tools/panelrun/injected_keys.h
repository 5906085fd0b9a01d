#ifndef INJECTED_KEYS_H
#define INJECTED_KEYS_H

#include <QByteArray>
#include <QObject>

class KST_PanelFirmware;

// The target of panelrun's injector: every payload a client sends is taken
// as a packed collector message and passed to the firmware, as the host's
// panel does with its injector's messages.
class InjectedKeys : public QObject
{
    Q_OBJECT

public:
    explicit InjectedKeys(KST_PanelFirmware *loader, QObject *parent = nullptr)
        : QObject(parent), m_loader(loader)
    {
    }

public slots:
    void dispatch_msg_buffer(QByteArray &buffer);

private:
    KST_PanelFirmware *m_loader;
};

#endif
