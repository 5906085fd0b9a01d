#ifndef LEGEND_HARNESS_H
#define LEGEND_HARNESS_H

// A panel for the legend, lamp and display tests, on top of the key
// harness: a configuration with one key of each named ButtonType, a
// working colour table whose codes say which entry they came from, panel
// state set up by a few tokens, and what a key shows read back from the
// legend cache or from the lamp records the host received.

#include "bd_decode.h"
#include "bd_records.h"
#include "config/panel_tables.h"
#include "control/colours.h"
#include "control/key_view.h"
#include "control/lcd_button.h"
#include "control/refresh.h"
#include "key_harness.h"

#include <QByteArray>

namespace legendharness {

using namespace keyharness;

const QByteArray NAMES =
    "obj Configsettings() { numSources=8 numDestinations=6 numLevels=3 }\n"
    "obj KnownLevels() { obj Level(1) { lN=\"Video\" } obj Level(2) { lN=\"Audio1\" }"
    " obj Level(3) { lN=\"Audio2\" } }\n"
    "obj KnownSources() { obj Src(1) { sN=\"CAM 1\" } obj Src(2) { sN=\"CAM 2\" } obj Src(3) { sN=\"VTR 1\" }"
    " obj Src(4) { sN=\"VTR 2\" } obj Src(5) { sN=\"GFX\" } obj Src(6) { sN=\"BARS\" }"
    " obj Src(7) { sN=\"BLACK\" } obj Src(8) { sN=\"SATELLITE1\" } }\n"
    "obj KnownDestinations() { obj Dst(1) { dN=\"MON 1\" } obj Dst(2) { dN=\"MON 2\" }"
    " obj Dst(3) { dN=\"TX\" } obj Dst(4) { dN=\"REC\" } obj Dst(5) { dN=\"EDIT\" } obj Dst(6) { dN=\"QC\" } }\n"
    "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n";

// One key of each ButtonType that has a configuration name (Locks twice:
// a lock and a held lock); keys 47 and 48 are left free for the types
// only binary configurations give.
const QByteArray EVERY_TYPE =
    NAMES +
    "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
    " obj Btn(1) { bL=\"FREE KEY\" }\n"
    " obj Btn(2) { bT=\"Panel Lock\" } obj Btn(3) { bT=\"Last Menu\" bL=\"BACK\" }\n"
    " obj Btn(4) { bT=\"Secondary Menu\" bV=2 } obj Btn(5) { bT=\"Menu\" bV=1 }\n"
    " obj Btn(6) { bT=\"Source\" bV=2 } obj Btn(7) { bT=\"Destination\" bV=2 }\n"
    " obj Btn(8) { bT=\"Level\" bV=2 } obj Btn(9) { bT=\"Locks\" bV=1 } obj Btn(10) { bT=\"Locks\" bV=5 }\n"
    " obj Btn(11) { bT=\"Src Scroll Up\" } obj Btn(12) { bT=\"Dst Scroll Down\" }\n"
    " obj Btn(13) { bT=\"Current Source Display\" bV=3 } obj Btn(14) { bT=\"Current Dst Src Display\" }\n"
    " obj Btn(15) { bT=\"Current Destination Display\" } obj Btn(16) { bT=\"System Salvo\" bV=1 }\n"
    " obj Btn(17) { bT=\"Enable\" } obj Btn(18) { bT=\"Src Shift\" bV=4 }\n"
    " obj Btn(19) { bT=\"Source Preset\" bV=3 } obj Btn(20) { bT=\"Take\" }\n"
    " obj Btn(21) { bT=\"Take Level Preset\" bV=2 } obj Btn(22) { bT=\"Source Preset Display\" }\n"
    " obj Btn(23) { bT=\"Add String\" bV=\"CAMERA12\" } obj Btn(24) { bT=\"Add String/Character\" bV=\"VTR\" bL=\"1\" }\n"
    " obj Btn(25) { bT=\"Preset Clear\" } obj Btn(26) { bT=\"Append String\" bV=\"X\" }\n"
    " obj Btn(27) { bT=\"Delete Last Character\" } obj Btn(28) { bT=\"Destination Take\" }\n"
    " obj Btn(29) { bT=\"Src Scroll Down\" } obj Btn(30) { bT=\"Dst Scroll Up\" }\n"
    " obj Btn(31) { bT=\"Previous Destination\" bV=1 } obj Btn(32) { bT=\"Next Destination\" bV=6 }\n"
    " obj Btn(33) { bT=\"Prev Source Preset\" bV=1 } obj Btn(34) { bT=\"Next Source Preset\" bV=8 }\n"
    " obj Btn(35) { bT=\"Take Clear\" } obj Btn(36) { bT=\"Destination Mode\" }\n"
    " obj Btn(37) { bT=\"Clear + Add Category String\" bV=\"CAT\" }\n"
    " obj Btn(38) { bT=\"Source Toggle\" bV=1 bV2=2 } obj Btn(39) { bT=\"Source Chop\" bV=3 bV2=4 }\n"
    " obj Btn(40) { bT=\"Setup\" } obj Btn(41) { bT=\"Dest Src Take\" bV=2 }\n"
    " obj Btn(42) { bT=\"Dest Src Display\" bV=1 } obj Btn(43) { bT=\"Source Preset Toggle\" }\n"
    " obj Btn(44) { bT=\"Source Preset Chop\" } obj Btn(45) { bT=\"Dst Shift\" bV=2 }\n"
    " obj Btn(46) { bT=\"Clear + Add Category String or Add Character\" bV=\"C\" bL=\"C\" }\n"
    " } } }\n";

// The colour table's entries get codes 100 + entry, so a key's colour
// names the entry it shows.
inline void numberColours()
{
    PanelTables *pt = panel_tables();
    for (int i = 0; i < PT_COLOURS; ++i)
        pt->colours[i] = uint8_t(100 + i);
    clr_copy();
}

// What the cache says key (1-based) shows, as the platform would send it:
// the trimmed lines joined by "\n" (an empty second line only before a
// third), "#n" for picture n, "" for a blank key.
inline QByteArray shown(int key, int *colour = nullptr)
{
    LcdShown s;
    if (!lcd_shown(key, &s))
        return "?";
    if (colour)
        *colour = s.colour;
    if (s.kind == LCD_KIND_GRAPHIC)
        return "#" + QByteArray::number(s.graphic);
    if (s.kind != LCD_KIND_LEGEND)
        return "";
    QByteArray l[3];
    for (int i = 0; i < 3; ++i)
        l[i] = QByteArray(s.line[i]).trimmed();
    if (!s.third_line)
        l[2].clear();
    QByteArray out = l[0];
    if (!l[1].isEmpty() || !l[2].isEmpty())
        out += "\n" + l[1];
    if (!l[2].isEmpty())
        out += "\n" + l[2];
    return out;
}

// A lamp as the last colour record for it says: "on", "off" (grey),
// "flash", or "-" when none was sent.
inline QByteArray lampOf(const std::vector<QByteArray> &records, int lamp)
{
    QByteArray state = "-";
    for (const QByteArray &r : records) {
        buttondriver::Record rec;
        if (buttondriver::parseRecord(r, &rec) != buttondriver::ParseResult::Ok || rec.id != lamp)
            continue;
        if (rec.type == buttondriver::TYPE_COLOR2)
            state = "flash";
        else if (rec.type == buttondriver::TYPE_COLOR)
            state = rec.rgb1[0] == 200 && rec.rgb1[1] == 200 && rec.rgb1[2] == 200 ? "off" : "on";
    }
    return state;
}

// Panel state for a row, tokens separated by blanks (numbers as the
// configuration writes them, 1-based):
//   mask=N dest=N preset=N        subpanel 1's levels, destination, preset
//   xpt=LEVELS:DEST:SRC           a tally from the router
//   lock=DEST:VALUE               a lock state from the router (255, 1, 0)
//   local=DEST                    locked by this panel
//   panellock sublock numbers destmode takeerror desterror
//   togglepreset choppreset takedest=N category=KEY
//   held=KEY released=KEY         a key held, or pressed and released now
//   down=KEY                      a key down in the key state array
//   list=LEVEL:SOURCE             the destination list of that source (0-based)
//   inpreset indest               a preset / destination name being typed
//   wait=MS                       the clock moves on
//   type=KEY:TYPE:VALUE           a key's definition as a binary image gives it
//   routerkey=KEY:COLOUR:LAMP     what the router set for a report key
//   page=P                        the primary menu page (0 = first)
//   srcoffset=N dstoffset=N       the group-1 page offsets of subpanel 1
//   text=NAME destext=NAME        the typed preset / destination text ('_' a blank)
//   locate
inline bool setState(const QByteArray &tokens)
{
    SubpanelState *s = ctl_subpanel(0);
    PanelFlags *f = ctl_flags();
    PanelTables *pt = panel_tables();
    for (const QByteArray &tok : tokens.split(' ')) {
        if (tok.isEmpty())
            continue;
        const int eq = tok.indexOf('=');
        const QByteArray name = eq < 0 ? tok : tok.left(eq);
        const QByteArray arg = eq < 0 ? QByteArray() : tok.mid(eq + 1);
        const QList<QByteArray> parts = arg.split(':');
        const int n = arg.toInt();
        char text[64];
        if (name == "mask") {
            s->level_mask = uint32_t(n);
        } else if (name == "dest") {
            s->dest = uint16_t(n - 1);
        } else if (name == "preset") {
            s->preset = uint16_t(n - 1);
        } else if (name == "xpt" && parts.size() == 3) {
            snprintf(text, sizeof text, ".U%s%03d,%03d\r", parts[0].constData(), parts[1].toInt(), parts[2].toInt());
            fromRouter(text);
        } else if (name == "lock" && parts.size() == 2) {
            snprintf(text, sizeof text, ".BA%03d,%d\r", parts[0].toInt(), parts[1].toInt());
            fromRouter(text);
        } else if (name == "local") {
            ds_set_local_lock(n - 1, 1);
        } else if (name == "panellock") {
            f->panel_lock = 1;
        } else if (name == "sublock") {
            s->locked = 1;
        } else if (name == "numbers") {
            f->number_mode = 1;
        } else if (name == "destmode") {
            f->dest_mode = 1;
        } else if (name == "takeerror") {
            f->take_error = 1;
        } else if (name == "desterror") {
            f->dest_error = 1;
        } else if (name == "togglepreset") {
            s->toggle_preset = 1;
        } else if (name == "choppreset") {
            s->chop_preset = 1;
        } else if (name == "takedest") {
            s->take_dest = uint16_t(n - 1);
        } else if (name == "category") {
            s->category_key = int16_t(n - 1);
        } else if (name == "held") {
            kv_note_key(KEY_PRESS, n - 1);
        } else if (name == "released") {
            kv_note_key(KEY_PRESS, n - 1);
            kv_note_key(KEY_RELEASE, n - 1);
        } else if (name == "down") {
            plat_key_states()[n - 1] = 1;
        } else if (name == "list" && parts.size() == 2) {
            ds_list_build(parts[0].toInt(), parts[1].toInt());
        } else if (name == "inpreset") {
            s->preset_entry.in_progress = 1;
        } else if (name == "indest") {
            s->dest_entry.in_progress = 1;
        } else if (name == "wait") {
            now() += uint32_t(n);
        } else if (name == "type" && parts.size() == 3) {
            const int slot = parts[0].toInt() - 1;
            pt->type[slot] = uint8_t(parts[1].toInt());
            pt->value[slot] = uint16_t(parts[2].toInt());
        } else if (name == "routerkey" && parts.size() == 3) {
            kv_set_router_key(parts[0].toInt() - 1, "ROUTERKEY1", uint8_t(parts[1].toInt()), parts[2].toInt(), 0);
        } else if (name == "page") {
            ctl_pages()->primary = uint8_t(n);
        } else if (name == "srcoffset") {
            s->pages[0].src_offset = uint16_t(n);
        } else if (name == "dstoffset") {
            s->pages[0].dst_offset = uint16_t(n);
        } else if (name == "text") {
            snprintf(s->preset_entry.text, sizeof s->preset_entry.text, "%s", QByteArray(arg).replace('_', ' ').constData());
        } else if (name == "destext") {
            snprintf(s->dest_entry.text, sizeof s->dest_entry.text, "%s", QByteArray(arg).replace('_', ' ').constData());
        } else if (name == "locate") {
            panels_set_locate(1);
        } else {
            return false;
        }
    }
    return true;
}

// Redraws key (1-based) once, in a full refresh or not.
inline void redraw(int key, bool full)
{
    rf_set_redraw_all(full ? 1 : 0);
    rf_redraw_button(key - 1);
    rf_set_redraw_all(0);
}

} // namespace legendharness

#endif
