// The platform's link to the host: button-driver records, status codes, the
// buzzer, and the network settings that on this platform belong to the host.

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

int plat_link_mode()
{
    return 0; // Ethernet
}

// The panel takes its address from the host (start block), so the setup
// menu's network page reads nothing back and cannot change it.
void plat_net_get_ip(uint8_t[4]) {}
void plat_net_get_mask(uint8_t[4]) {}
void plat_net_get_gateway(uint8_t[4]) {}
void plat_net_set_ip(const uint8_t[4]) {}
void plat_net_set_mask(const uint8_t[4]) {}
void plat_net_set_gateway(const uint8_t[4]) {}
void plat_net_set_link(uint8_t, int) {}

void plat_panel_reset() {}

void plat_test_mode() {}
