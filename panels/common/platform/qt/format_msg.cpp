#include "plat.h"
#include "plat_firmware.h"

#include <QString>
#include <cstdarg>
#include <cstdio>

void format_msg(const char *fmt, ...)
{
    PlatFirmware *fw = plat_firmware();
    if (!fw)
        return;
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap); // cuts longer output, always terminates
    va_end(ap);
    fw->firmMsg(QString::fromLatin1(buf));
}
