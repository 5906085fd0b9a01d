#ifndef PLAT_H
#define PLAT_H

// The firmware core's view of its platform. The core was written for panel
// hardware; everything it needs from the machine it runs on goes through
// these calls. The Qt platform layer (platform/qt) implements them on top of
// the firmware library's host callbacks; unit tests link a double or the Qt
// layer with a recording host.

#include <cstdint>

enum { PLAT_KEY_COUNT = 128, PLAT_NO_KEY = 255, PLAT_LAMP_COUNT = 256, PLAT_WINDOWS = 10 };

// ---- keys (key_hw) --------------------------------------------------------

// The key state array: one byte per key (index = key number - 1), 1 while
// the key is pressed. The firmware wrapper writes it from the host's key
// events between loop ticks; the key scan reads it in the loop.
uint8_t *plat_key_states();
// Clears every key table (edges, function codes, hold counters).
void plat_keys_clear();
// Turns key state changes into press, repeat and release events (at most one
// of each kind per call) and queues them for the panel logic.
void plat_key_scan();
// Key queries; each refreshes the edge states first. 255 = none.
uint8_t plat_key_first_released();
uint8_t plat_key_first_held();
uint8_t plat_key_first_pressed();
// Non-zero while the key is held (newly pressed or held).
int plat_key_is_held(uint8_t key);
// Non-zero while the key is pressed and the scan has not reported the press
// yet (it reports one press a tick).
int plat_key_press_waiting(uint8_t key);
// Function code (the key's ButtonType for the few kinds that have one) and
// second byte of a key.
void plat_key_set_function(uint8_t key, uint8_t code, uint8_t second);
void plat_key_clear_function(uint8_t key);
void plat_key_set_lamp_capable(uint8_t key);
// A held key with this function code and second byte, or 255.
uint8_t plat_key_find_held(uint8_t code, uint8_t second);

// ---- lamps and buttons (led_hw) ---------------------------------------------

// Starts the button output: nothing is known to be shown on any button or
// lamp yet, so the first colour, legend, picture and lamp state of each is
// sent whatever it is. Returns 0 when the output is ready.
int plat_buttons_start();

// Lamp of key n (0..255): state byte (non-zero = on), attribute byte
// (non-zero = flashing). Only changes are sent.
void plat_led_set(int n, uint8_t state, uint8_t attr);
// Every lamp that is not off goes off.
void plat_led_all_off();
// Extra indicator lamp index (shown mixed into lamp index + 1).
void plat_led_set_extra(int index, int on);
// Forces lamp + 1 on (models with overrides only).
void plat_led_set_override(int lamp, int on);
// Button colour from the 256-entry palette.
void plat_button_colour(int button, uint8_t palette_index);
// Built-in or uploaded picture on a button.
void plat_button_image(int button, int image);
// Legend of up to three lines of five characters (line3 may be null) with a
// style attribute; sent only when text or attribute changed.
void plat_button_legend(int button, const char *line1, const char *line2, const char *line3,
                        uint32_t attr);
// Palette entry as red, green, blue.
void plat_palette(uint8_t index, uint8_t rgb[3]);

// ---- display windows (led_display) -------------------------------------------

// Text on display window 0..9 (255: every window). Repeats are not sent.
void plat_display_text(int window, const char *text);
void plat_display_clear(int window);

// ---- host, buzzer, network settings ------------------------------------------

// Sounds (on) or silences the panel's buzzer.
void plat_buzzer(int on);
// Reports a status code (TFW_IFirmwareCallback::StateMsg) to the host.
void plat_state_msg(int state);
// The panel's serial link address (low byte of settings word 24) and link
// mode (0 = Ethernet, the only link this platform has).
uint8_t plat_link_address();
int plat_link_mode();

// The network settings the setup menu shows and edits.
struct PlatNetSettings {
    uint8_t ip[4];             // most significant byte first
    uint8_t mask[4];
    uint8_t gateway[4];
    uint8_t link_address;      // 0..64
    uint8_t link_mode;         // 0 Ethernet, 1 serial
};
// The settings in force: the panel's own address (the host's, or the one
// saved from the setup menu), and the saved mask and gateway (the buffers
// stay as they are while nothing was saved: the host owns the machine's
// routing).
void plat_net_get_ip(uint8_t ip[4]);
void plat_net_get_mask(uint8_t mask[4]);
void plat_net_get_gateway(uint8_t gw[4]);
// Stores the settings in the panel's directory, next to its configuration
// file; the panel comes up with them at its next start. Returns 1 when
// stored, 0 when the file could not be written (logged).
int plat_net_store(const PlatNetSettings *s);
// Loop initialisation, after the start block became the settings record:
// a saved settings file replaces the host's address and link address in
// it. A file that is damaged, or names an address this machine does not
// have, is refused with a message and the host's values stay.
void plat_net_start(uint8_t ip[4], uint32_t *link_address);
// Panel reset requested by holding the reset keys: nothing on this platform.
void plat_panel_reset();
// The panel's key test, started from the setup menu: every key shows its
// number and runs through red, green, blue and white, one phase at a time.
// plat_test_mode_running moves it on by the millisecond clock and is
// non-zero while it runs; plat_test_mode_stop ends it early. Once it has
// ended, the platform has forgotten what every button shows, so that what
// is drawn next is sent whole.
void plat_test_mode();
int plat_test_mode_running();
void plat_test_mode_stop();

// ---- UDP sockets (udp_sock) ---------------------------------------------------

// Receives one datagram: handler argument, data, length, sender's IPv4
// address (most significant byte first). Returns non-zero when the datagram
// was taken, zero when it was dropped for its sender.
typedef int (*plat_udp_handler)(int arg, const uint8_t *data, int len, const uint8_t addr[4]);

enum { PLAT_UDP_SOCKETS = 10, PLAT_UDP_ROUTER_ID = 2001, PLAT_UDP_BUDGET = 64 };

// Opens the router-link socket (only logical id 2001 opens anything; other
// ids return 0): binds the panel's own address and UDP port from the
// settings. Returns the socket entry, or -1 when no entry is free or the
// bind fails (then "COULD NOT BIND" is logged and ST_UDP_BIND_ERROR reported).
int plat_udp_open(int logical_id, int arg, plat_udp_handler handler);
// Reads the datagrams pending on every open socket into its handler, at
// most PLAT_UDP_BUDGET per socket and call, so that one pass of the loop
// stays bounded however many arrive, and a flood cannot make the router's
// datagrams wait behind it for longer than a pass or two. Reports
// ST_UDP_RECEIVED once per call that took a datagram.
void plat_udp_receive();
// The UDP port of the sender of the datagram being handled (0 outside a
// receive handler).
int plat_udp_sender_port();
// Sends a datagram through the most recently opened socket. Returns 1 when
// sent, 0 otherwise.
int plat_udp_send(const uint8_t *data, int len, const uint8_t *addr, int port);
// Closes every socket.
void plat_udp_close_all();

// ---- allowed routers (router_allow_file) ---------------------------------------

// Reads the file "allowed_routers" of the panel's directory (the one its
// configuration file is in) into buf, at most cap bytes. Returns the bytes
// read, -1 when there is no such file, 0 when it cannot be read (logged).
int plat_allowed_routers_read(char *buf, int cap);

// ---- configuration file (config_file_platform) ------------------------------

// The configuration file read whole, or null (length 0) when it does not
// exist or cannot be opened. The data stays valid until the next call.
const uint8_t *plat_config_read(uint32_t *len);
// Writes a received configuration (starting with its "CONFIG" header) to the
// configuration file: the total length goes big-endian into bytes 6 to 9,
// the file is replaced as a whole (the old one stays when the new one cannot
// be written whole), *len becomes 0, and a reload is requested whether or
// not the write succeeded. Returns 1 when the new file is in place, 0 when
// it could not be written (logged). Callable from the firmware thread (a
// router-link download) and the FTP thread (an upload); each caller passes
// a buffer of its own (config/config_asm.h), never one the other writes.
int plat_config_write(uint8_t *buf, uint32_t *len);

// An FTP upload is written in two steps, so that its client can be told
// whether it was stored while the data connection is still being answered:
// plat_config_stage writes it (header length filled in as above) to a
// temporary file beside the configuration file and syncs it, *len becomes
// 0; plat_config_place puts that file in place of the configuration file
// and requests a reload (keep non-zero, returns 1 when placed), or drops it
// (keep 0). FTP thread only.
enum { PLAT_STORE_OK = 0, PLAT_STORE_NO_SPACE = 1, PLAT_STORE_FAILED = 2 };
int plat_config_stage(uint8_t *buf, uint32_t *len);
int plat_config_place(int keep);

// ---- FTP server (ftp_sock) ----------------------------------------------------

struct FtpdPlatform;
// What the FTP server runs on: TCP sockets, the configuration write above,
// locate flashing, all lamps off and the host's panel log.
const FtpdPlatform *plat_ftpd();

// ---- protocol trace (trace_file) ---------------------------------------------

// The panel's directory is the one its configuration file is in.
// Non-zero while the marker file "TRACE" is there.
int plat_trace_marker();
// Appends whole lines to "trace.txt" there, opening it when needed. When
// the file would grow beyond 10 MiB it becomes "trace.txt.1" (replacing
// the one before) and a new "trace.txt" starts.
void plat_trace_write(const char *text, int len);
// Closes the file (trace switched off, panel stopping).
void plat_trace_close();

// printf-style text to the host's panel log. Output longer than 1023
// characters is cut. Dropped while no firmware object exists.
void format_msg(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

#endif
