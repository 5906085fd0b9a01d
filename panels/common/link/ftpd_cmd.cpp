// FTP server: the control connection's side. Command lines are assembled
// from received bytes, matched against the command table and answered
// with fixed replies; only PORT and STOR lead anywhere (an upload), SITE
// switches locate flashing.

#include "link/ftpd_int.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

static const char HELP_TEXT[] =
    "214-The following commands are recognized:\r\n"
    "   ALLO  CDUP  HELP  LIST  MODE  NLST  NOOP  PASS  PORT\r\n"
    "   QUIT  STOR  STRU  SYST  TYPE  USER\r\n"
    "   Only mode S (stream) is supported.\r\n"
    "214 Type QUOTE HELP SITE for additional information.\r\n";

static const char HELP_SITE_TEXT[] =
    "214-No SITE commands are recognized.\r\n"
    "214 Type QUOTE HELP for additional information.\r\n";

static const char NOT_IMPLEMENTED[] = "Command not implemented.";
static const char BAD_PARAMETER[] = "Command not implemented for that parameter.";
static const char NOT_TAKEN[] = "Requested action not taken.";
static const char NO_DATA_CONNECTION[] = "Can't open data connection.";
static const char ROOT_TEXT[] = "Current working directory is now \\";
static const char DIR_OK[] = "Directory change ok.";
static const char DIR_BAD[] = "Invalid directory.";

typedef void (*ftpd_handler)(const char *arg);

static void cmd_not_implemented(const char *) { ftpd_reply(502, "%s", NOT_IMPLEMENTED); }
static void cmd_acct(const char *) { ftpd_reply(202, "Command not implemented, superfluous at this site."); }
static void cmd_allo(const char *) { ftpd_reply(200, "File space allocated."); }
static void cmd_list(const char *) { ftpd_reply(226, "Transfer complete."); }
static void cmd_not_taken(const char *) { ftpd_reply(550, "%s", NOT_TAKEN); }
static void cmd_noop(const char *) { ftpd_reply(200, "Command okay."); }
static void cmd_pass(const char *) { ftpd_reply(230, "User logged in, proceed."); }
static void cmd_rnto(const char *) { ftpd_reply(503, "Bad sequence of commands."); }
static void cmd_syst(const char *) { ftpd_reply(215, "UNIX Type: L8"); }
static void cmd_user(const char *) { ftpd_reply(331, "User name okay, need password."); }

static int starts_with_nocase(const char *s, const char *prefix)
{
    for (; *prefix; ++s, ++prefix) {
        char c = *s;
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if (c != *prefix)
            return 0;
    }
    return 1;
}

static int equals_nocase(const char *s, const char *word)
{
    return starts_with_nocase(s, word) && s[strlen(word)] == '\0';
}

static void cmd_cdup(const char *)
{
    g_ftpd.at_root = 1;
    ftpd_reply(150, "%s", ROOT_TEXT);
}

// The file system has a root and one directory, "config". From the root
// "config" and "/config" lead into it; inside it only "/config" names it.
static void cmd_cwd(const char *arg)
{
    if (arg[0] == '\0' || strcmp(arg, ".") == 0) {
        ftpd_reply(250, "%s", DIR_OK);
        return;
    }
    if (strcmp(arg, "..") == 0) {
        g_ftpd.at_root = 1;
        ftpd_reply(150, "%s", ROOT_TEXT);
        return;
    }
    if (g_ftpd.at_root) {
        if (arg[0] == '/')
            ++arg;
    } else {
        if (arg[0] != '/') {
            ftpd_reply(550, "%s", DIR_BAD);
            return;
        }
        ++arg;
    }
    if (equals_nocase(arg, "CONFIG")) {
        g_ftpd.at_root = 0;
        ftpd_reply(250, "%s", DIR_OK);
    } else {
        ftpd_reply(550, "%s", DIR_BAD);
    }
}

static void cmd_help(const char *arg)
{
    ftpd_reply_extended(starts_with_nocase(arg, "SITE") ? HELP_SITE_TEXT : HELP_TEXT);
}

// MODE, STRU and TYPE accept one letter each (TYPE two): the argument's
// first letter, in either case.
static int first_letter_is(const char *arg, char letter)
{
    char c = arg[0];
    if (c >= 'a' && c <= 'z')
        c = char(c - 'a' + 'A');
    return c == letter;
}

static void cmd_mode(const char *arg)
{
    if (first_letter_is(arg, 'S'))
        ftpd_reply(200, "Mode set to %s.", "S");
    else
        ftpd_reply(504, "%s", BAD_PARAMETER);
}

static void cmd_stru(const char *arg)
{
    if (first_letter_is(arg, 'F'))
        ftpd_reply(200, "STRU set to %s.", "F");
    else
        ftpd_reply(504, "%s", BAD_PARAMETER);
}

static void cmd_type(const char *arg)
{
    if (first_letter_is(arg, 'A'))
        ftpd_reply(200, "TYPE set to %s.", "A");
    else if (first_letter_is(arg, 'I'))
        ftpd_reply(200, "TYPE set to %s.", "I");
    else
        ftpd_reply(504, "%s", BAD_PARAMETER);
}

// The data connection goes only to the client itself, at a port a user
// program may listen on: a PORT naming another host (or a service port of
// the client's) would make the panel connect wherever the client likes
// and store what answers there. Such a PORT is refused and leaves nothing
// for the next transfer.
static void cmd_port(const char *arg)
{
    uint8_t ip[4];
    uint16_t port;
    if (ftpd_parse_port(arg, ip, &port) != 0) {
        ftpd_reply(501, "Syntax error in parameters or arguments.");
        return;
    }
    if (memcmp(ip, g_ftpd.peer, 4) != 0 || port < 1024) {
        printf("data address refused: %u.%u.%u.%u %u (client %u.%u.%u.%u)\n", ip[0], ip[1], ip[2], ip[3],
               unsigned(port), g_ftpd.peer[0], g_ftpd.peer[1], g_ftpd.peer[2], g_ftpd.peer[3]);
        ftpd_reply(504, "%s", BAD_PARAMETER);
        return;
    }
    memcpy(g_ftpd.port_ip, ip, 4);
    g_ftpd.port_port = port;
    printf("data address: %u.%u.%u.%u %u\n", ip[0], ip[1], ip[2], ip[3], unsigned(port));
    ftpd_reply(200, "PORT command successful.");
}

static void cmd_quit(const char *)
{
    ftpd_reply(221, "Goodbye.");
    g_ftpd.session_end = 1;
}

static void cmd_site(const char *arg)
{
    if (starts_with_nocase(arg, "LOCATEON")) {
        g_ftpd.plat->locate(1);
        ftpd_reply(200, "Panel is now flashing.\r\n");
    } else {
        g_ftpd.plat->locate(0);
        g_ftpd.plat->leds_off();
        ftpd_reply(200, "Panel is no longer flashing.\r\n");
    }
}

static void cmd_stor(const char *)
{
    const uint8_t *a = g_ftpd.port_ip;
    if ((a[0] | a[1] | a[2] | a[3]) == 0) {
        printf("no port cmd rxd before stor\n");
        ftpd_reply(425, "%s", NO_DATA_CONNECTION);
        return;
    }
    g_ftpd.state = FTPD_ST_DATA_SOCKET;
}

struct FtpdCommand {
    const char *name;
    ftpd_handler handler;
};

// Searched in this order; the first name the line starts with wins.
static const FtpdCommand COMMANDS[] = {
    {"ABOR", cmd_not_implemented}, {"ACCT", cmd_acct},  {"ALLO", cmd_allo},
    {"CDUP", cmd_cdup},            {"CWD", cmd_cwd},    {"DELE", cmd_not_implemented},
    {"HELP", cmd_help},            {"LIST", cmd_list},  {"MKD", cmd_not_taken},
    {"MODE", cmd_mode},            {"NLST", cmd_list},  {"NOOP", cmd_noop},
    {"PASS", cmd_pass},            {"PASV", cmd_not_implemented}, {"PORT", cmd_port},
    {"PWD", cmd_not_implemented},  {"QUIT", cmd_quit},  {"RETR", cmd_not_implemented},
    {"RMD", cmd_not_taken},        {"RNFR", cmd_not_taken}, {"RNTO", cmd_rnto},
    {"SITE", cmd_site},            {"STAT", cmd_not_implemented}, {"STOR", cmd_stor},
    {"STRU", cmd_stru},            {"SYST", cmd_syst},  {"TYPE", cmd_type},
    {"USER", cmd_user}};

void ftpd_execute(const char *line)
{
    printf("netftpd_command: %s\n", line);
    const int count = int(sizeof COMMANDS / sizeof COMMANDS[0]);
    for (int i = 0; i < count; ++i) {
        const char *name = COMMANDS[i].name;
        if (!starts_with_nocase(line, name))
            continue;
        const char *rest = line + strlen(name);
        // "USERS" is not USER: a name ends at the end of the line or a blank.
        if (*rest != '\0' && *rest != ' ')
            continue;
        if (*rest == ' ')
            ++rest;
        printf("matches %s (%d)\n", name, i);
        COMMANDS[i].handler(rest);
        return;
    }
    ftpd_reply(502, "%s", NOT_IMPLEMENTED);
}

// Six decimal numbers separated by commas; an empty position counts as 0.
// Each number is clamped while read so that a long run of digits cannot
// overflow; anything above 255 is refused anyway.
int ftpd_parse_port(const char *arg, uint8_t ip[4], uint16_t *port)
{
    unsigned v[6];
    for (int i = 0; i < 6; ++i) {
        unsigned n = 0;
        while (*arg >= '0' && *arg <= '9') {
            if (n <= 255)
                n = n * 10 + unsigned(*arg - '0');
            ++arg;
        }
        printf("param[%d] = %u\n", i, n);
        if (n > 255)
            return -1;
        v[i] = n;
        if (i < 5) {
            if (*arg != ',')
                return -1;
            ++arg;
        }
    }
    for (int i = 0; i < 4; ++i)
        ip[i] = uint8_t(v[i]);
    *port = uint16_t((v[4] << 8) | v[5]);
    return 0;
}

// A reply the client does not take within the send time-out (it does not
// read, or has gone) ends the session: the control connection is of no use
// any more, and every later reply would wait as long again.
static void send_reply(const uint8_t *buf, int n)
{
    if (g_ftpd.ctrl_sock < 0 || g_ftpd.session_end)
        return;
    const int err = g_ftpd.plat->sock_send(g_ftpd.ctrl_sock, buf, n);
    if (err) {
        printf("netftpd_reply: send error %d, session closed\n", err);
        g_ftpd.session_end = 1;
    }
}

void ftpd_reply(int code, const char *fmt, ...)
{
    char buf[FTPD_REPLY_MAX];
    // Room for the line end after the text, however long the text.
    const int room = FTPD_REPLY_MAX - 2;
    int n = snprintf(buf, size_t(room), "%03d ", code);
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf + n, size_t(room - n), fmt, ap);
    va_end(ap);
    // A text that ends in its own line end (the SITE replies) still makes
    // one reply line: an empty line after it would be read by the client as
    // the reply to its next command.
    n = int(strlen(buf));
    while (n > 4 && (buf[n - 1] == '\r' || buf[n - 1] == '\n'))
        buf[--n] = '\0';
    printf("netftpd_reply: %s\n", buf);
    buf[n++] = '\r';
    buf[n++] = '\n';
    send_reply(reinterpret_cast<const uint8_t *>(buf), n);
}

void ftpd_reply_extended(const char *text)
{
    printf("netftpd_extended_reply: %s\n", text);
    send_reply(reinterpret_cast<const uint8_t *>(text), int(strlen(text)));
}

// One more control byte for the command line. A CR LF pair ends the line;
// a line that grows past FTPD_LINE_MAX characters is refused and dropped
// (a CR that may still be the start of CR LF is not counted).
static void ftpd_line_byte(uint8_t c)
{
    FtpdState &s = g_ftpd;
    if (c == '\n' && s.line_len > 0 && s.line[s.line_len - 1] == '\r') {
        s.line[s.line_len - 1] = '\0';
        s.line_len = 0;
        ftpd_execute(s.line);
        return;
    }
    s.line[s.line_len++] = char(c);
    const int chars = s.line[s.line_len - 1] == '\r' ? s.line_len - 1 : s.line_len;
    if (chars > FTPD_LINE_MAX) {
        printf("netftpd_rxcmd: command too long\n");
        ftpd_reply(500, "Command line too long.");
        s.line_len = 0;
    }
}

int ftpd_feed(const uint8_t *data, int len)
{
    int used = 0;
    while (used < len && g_ftpd.state == FTPD_ST_COMMAND && !g_ftpd.session_end)
        ftpd_line_byte(data[used++]);
    return used;
}

void ftpd_session_reset(void)
{
    FtpdState &s = g_ftpd;
    s.at_root = 1;
    s.line_len = 0;
    s.rx_len = 0;
    s.rx_pos = 0;
    s.session_end = 0;
    memset(s.peer, 0, sizeof s.peer);
    memset(s.port_ip, 0, sizeof s.port_ip);
    s.port_port = 0;
    s.transfer_complete = 0;
    s.upload_in_config = 0;
    s.upload_len = 0;
}
