#include "injected_keys.h"

#include "kst_panel_firmware.h"

void InjectedKeys::dispatch_msg_buffer(QByteArray &buffer)
{
    collector::CollectorMsg msg;
    if (!msg.unpack(buffer))
        return; // the size message is printed; nothing reaches the firmware
    m_loader->sendCollectorMsg(msg);
}
