// The panel's network settings as the setup menu saves them: a small file
// "netsettings" in the panel's directory, next to its configuration file,
// read at every start. Without one the panel runs on what the host gave it
// (its address, link address 0, no mask or gateway).
//
// File layout (28 bytes, numbers big-endian):
//   0  6  "NETSET"
//   6  4  total length (28)
//  10  1  layout version (1)
//  11  4  IP address, most significant byte first
//  15  4  subnet mask
//  19  4  gateway
//  23  1  link address (0..64)
//  24  1  link mode (0 Ethernet, 1 serial)
//  25  1  0
//  26  2  CRC-16/XMODEM of bytes 0..25
// A file that is not exactly this (cut short, damaged, another version) is
// refused whole: a half-read address would take the panel off the network.

#include "crc16.h"
#include "panels_main.h"
#include "plat.h"
#include "plat_host.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtDebug>

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

enum {
    NS_SIZE = 28,
    NS_VERSION = 1,
    NS_LENGTH_AT = 6,
    NS_VERSION_AT = 10,
    NS_IP_AT = 11,
    NS_MASK_AT = 15,
    NS_GATEWAY_AT = 19,
    NS_ADDRESS_AT = 23,
    NS_MODE_AT = 24,
    NS_CRC_AT = 26,
    NS_ADDRESS_MAX = 64
};

static const char NS_MAGIC[6] = {'N', 'E', 'T', 'S', 'E', 'T'};

// The saved settings this run started with (valid once a file was accepted).
static PlatNetSettings s_saved;
static bool s_have_saved;

static QString settings_path()
{
    const QFileInfo config(QString::fromLocal8Bit(panels_config_path()));
    return config.dir().filePath(QStringLiteral("netsettings"));
}

static void encode(const PlatNetSettings *s, uint8_t out[NS_SIZE])
{
    memset(out, 0, NS_SIZE);
    memcpy(out, NS_MAGIC, sizeof NS_MAGIC);
    out[NS_LENGTH_AT + 3] = NS_SIZE;
    out[NS_VERSION_AT] = NS_VERSION;
    memcpy(out + NS_IP_AT, s->ip, 4);
    memcpy(out + NS_MASK_AT, s->mask, 4);
    memcpy(out + NS_GATEWAY_AT, s->gateway, 4);
    out[NS_ADDRESS_AT] = s->link_address;
    out[NS_MODE_AT] = s->link_mode;
    const uint16_t crc = crc16_xmodem(out, NS_CRC_AT);
    out[NS_CRC_AT] = uint8_t(crc >> 8);
    out[NS_CRC_AT + 1] = uint8_t(crc);
}

// Checks every field; on success fills *s and returns null, otherwise
// returns why the data is refused.
static const char *decode(const QByteArray &data, PlatNetSettings *s)
{
    if (data.size() != NS_SIZE)
        return data.size() < NS_SIZE ? "too short" : "too long";
    const uint8_t *b = reinterpret_cast<const uint8_t *>(data.constData());
    if (memcmp(b, NS_MAGIC, sizeof NS_MAGIC) != 0)
        return "not a network settings file";
    const uint32_t length = uint32_t(b[6]) << 24 | uint32_t(b[7]) << 16 | uint32_t(b[8]) << 8 | b[9];
    if (length != NS_SIZE)
        return "wrong length field";
    if (b[NS_VERSION_AT] != NS_VERSION)
        return "unknown layout version";
    const uint16_t crc = uint16_t(b[NS_CRC_AT] << 8 | b[NS_CRC_AT + 1]);
    if (crc != crc16_xmodem(b, NS_CRC_AT))
        return "checksum mismatch";
    if (b[NS_ADDRESS_AT] > NS_ADDRESS_MAX || b[NS_MODE_AT] > 1)
        return "link address or mode out of range";
    memcpy(s->ip, b + NS_IP_AT, 4);
    memcpy(s->mask, b + NS_MASK_AT, 4);
    memcpy(s->gateway, b + NS_GATEWAY_AT, 4);
    s->link_address = b[NS_ADDRESS_AT];
    s->link_mode = b[NS_MODE_AT];
    return nullptr;
}

// Whether this machine has the address (0.0.0.0, any address, always
// does): a bind to it on a port of the system's choosing succeeds.
static bool address_is_local(const uint8_t ip[4])
{
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    memcpy(&a.sin_addr.s_addr, ip, 4);
    a.sin_port = 0;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok = bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

static void refuse(const QString &path, const char *why)
{
    qWarning("network settings file %s refused (%s): the panel keeps the host's settings",
             qPrintable(path), why);
    format_msg("network settings file refused (%s): the panel keeps the host's settings", why);
}

void plat_net_start(uint8_t ip[4], uint32_t *link_address)
{
    s_have_saved = false;
    memset(&s_saved, 0, sizeof s_saved);
    if (!panels_config_path()[0])
        return; // no panel directory
    const QString path = settings_path();
    QFile f(path);
    if (!f.exists())
        return;
    if (!f.open(QIODevice::ReadOnly)) {
        refuse(path, qPrintable(f.errorString()));
        return;
    }
    // One byte more than a valid file: a longer one is refused, not cut.
    const QByteArray data = f.read(NS_SIZE + 1);
    PlatNetSettings s;
    if (const char *why = decode(data, &s)) {
        refuse(path, why);
        return;
    }
    if (!address_is_local(s.ip)) {
        char text[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, s.ip, text, sizeof text);
        char why[64];
        snprintf(why, sizeof why, "address %s is not one of this machine's", text);
        refuse(path, why);
        return;
    }
    s_saved = s;
    s_have_saved = true;
    memcpy(ip, s.ip, 4);
    *link_address = s.link_address;
    if (s.link_mode != 0)
        printf("network settings: serial link saved, this panel has Ethernet only\n");
    printf("network settings from %s: ip %d.%d.%d.%d address %02X\n", qPrintable(path), s.ip[0], s.ip[1],
           s.ip[2], s.ip[3], s.link_address);
}

void plat_net_get_ip(uint8_t ip[4])
{
    memcpy(ip, panels_settings()->ip_address, 4);
}

void plat_net_get_mask(uint8_t mask[4])
{
    if (s_have_saved)
        memcpy(mask, s_saved.mask, 4);
}

void plat_net_get_gateway(uint8_t gw[4])
{
    if (s_have_saved)
        memcpy(gw, s_saved.gateway, 4);
}

int plat_net_store(const PlatNetSettings *s)
{
    if (!panels_config_path()[0]) {
        qCritical("could not store the network settings: the panel has no directory (%s,%d)", __FILE__,
                  __LINE__);
        return 0;
    }
    uint8_t file[NS_SIZE];
    encode(s, file);
    const QString path = settings_path();
    if (!plat_store_file(path, "network settings file", reinterpret_cast<const char *>(file), NS_SIZE))
        return 0;
    // What is in force (and what the menu and the comms display show)
    // stays until the next start.
    format_msg("network settings saved to %s: in force from the panel's next start", qPrintable(path));
    return 1;
}
