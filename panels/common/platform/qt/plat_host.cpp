// The platform's link to the host: button-driver records, status codes, the
// buzzer and the link address of the settings.

#include "plat.h"
#include "plat_firmware.h"
#include "plat_host.h"
#include "panels_main.h"

#include <vector>

void plat_send_record(const QByteArray &record)
{
    if (PlatFirmware *fw = plat_firmware())
        fw->buttondriverMsg(std::vector<QByteArray>{record});
}

void plat_state_msg(int state)
{
    if (PlatFirmware *fw = plat_firmware())
        fw->stateMsg(TFW_IFirmwareCallback::StateMsg(state));
}

void plat_buzzer(int on)
{
    plat_state_msg(on ? TFW_IFirmwareCallback::ST_BUZZER_ON : TFW_IFirmwareCallback::ST_BUZZER_OFF);
}

uint8_t plat_link_address()
{
    return uint8_t(panels_settings()->link_address & 0xff);
}

// The only link this platform has is Ethernet, whatever mode was saved.
int plat_link_mode()
{
    return 0;
}

void plat_panel_reset() {}
