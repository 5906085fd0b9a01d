#include "config/config_binary.h"

#include "config/panel_tables.h"

#include <cstring>

// Layout of block 100 (offsets within the block).
enum {
    B100_GROUPS = 0,
    B100_TYPES = B100_GROUPS + PT_KEYS,
    B100_VALUES = B100_TYPES + PT_SLOTS,
    B100_LEGENDS = B100_VALUES + 2 * PT_SLOTS,
    B100_OWNERS = B100_LEGENDS + 60 * PT_LEGEND_LEN,
    B100_COUNTS = B100_OWNERS + 60 * 2,
    B100_COLOURS = B100_COUNTS + 4,
    B100_STRINGS = B100_COLOURS + 40,
    B100_CHARS = B100_STRINGS + PT_STRING_SLOTS * PT_STRING_LEN,
    B100_SIZE = B100_CHARS + PT_STRING_SLOTS,
    B100_IMAGE_LEGENDS = 60
};

enum { NAME_KEEP = 15 };

// Stores byte b at position pos (0 high, 1 low) of a big-endian 16-bit field.
static void put16(uint16_t *field, uint32_t pos, uint8_t b)
{
    if (pos & 1)
        *field = uint16_t((*field & 0xFF00) | b);
    else
        *field = uint16_t((*field & 0x00FF) | (b << 8));
}

static void put32_high16(uint32_t *field, uint32_t pos, uint8_t b)
{
    // Only the first two bytes form the number.
    if (pos < 2) {
        uint16_t v = uint16_t(*field);
        put16(&v, pos, b);
        *field = v;
    }
}

static void keys_byte(CfgBinReader *r, PanelTables *pt, uint32_t off, uint8_t b)
{
    if (off < B100_TYPES) {
        pt->group[off] = b;
    } else if (off < B100_VALUES) {
        pt->type[off - B100_TYPES] = b;
    } else if (off < B100_LEGENDS) {
        put16(&pt->value[(off - B100_VALUES) / 2], off - B100_VALUES, b);
    } else if (off < B100_OWNERS) {
        const uint32_t i = off - B100_LEGENDS;
        pt->legends[i / PT_LEGEND_LEN].text[i % PT_LEGEND_LEN] = char(b);
    } else if (off < B100_COUNTS) {
        // Owner numbers come low byte first.
        const uint32_t i = off - B100_OWNERS;
        uint16_t *o = &pt->legends[i / 2].owner;
        *o = (i & 1) ? uint16_t((*o & 0x00FF) | (b << 8)) : uint16_t((*o & 0xFF00) | b);
    } else if (off < B100_COLOURS) {
        const uint32_t i = off - B100_COUNTS;
        put16(i < 2 ? &pt->menu_legends : &pt->all_menu_legends, i, b);
    } else if (off < B100_STRINGS) {
        r->colours[off - B100_COLOURS] = b;
    } else if (off < B100_CHARS) {
        const uint32_t i = off - B100_STRINGS;
        pt->string[i / PT_STRING_LEN][i % PT_STRING_LEN] = char(b);
    } else if (off < B100_SIZE) {
        pt->character[off - B100_CHARS] = b;
    }
}

static void subpanels_byte(PanelTables *pt, uint32_t off, uint8_t b)
{
    if (off < 32)
        put32_high16(&pt->subpanels[off / 4].def_level, off % 4, b);
    else if (off < 48)
        put16(&pt->subpanels[(off - 32) / 2].def_dest, off - 32, b);
}

static void displays_byte(PanelTables *pt, uint32_t off, uint8_t b)
{
    if (off < 2) {
        put16(&pt->display_count, off, b);
    } else if (off < 42) {
        const uint32_t i = off - 2;
        PtDisplay *d = &pt->displays[i / 4];
        put16((i % 4) < 2 ? &d->type : &d->dest, i % 2, b);
    } else if (off < 62) {
        put16(&pt->displays[(off - 42) / 2].level, off - 42, b);
    }
}

static void take_byte(PanelTables *pt, uint32_t off, uint8_t b)
{
    if (off < 2)
        put16(&pt->take_mode, off, b);
    else if (off < 4)
        put16(&pt->fixed_take_dest, off - 2, b);
}

// Keeps the first bytes of a name of len bytes.
static void name_byte(char *name, uint32_t pos, uint8_t b)
{
    if (pos < NAME_KEEP)
        name[pos] = char(b);
}

// Block 102: count, name length, then the names.
static void levels_byte(PanelTables *pt, const uint8_t *h, uint32_t off, uint8_t b)
{
    PtLevelTable *t = &pt->levels;
    if (off == 2) {
        const uint32_t count = uint32_t((h[0] << 8) | h[1]);
        t->count = count > PT_LEVELS ? uint32_t(PT_LEVELS) : count;
        t->name_len = b;
        return;
    }
    if (off < 3 || h[2] == 0)
        return;
    const uint32_t i = (off - 3) / h[2];
    if (i < PT_LEVELS && i < t->count)
        name_byte(t->name[i], (off - 3) % h[2], b);
}

// Blocks 103 and 104: count, name length, level count, then per entry a
// name and the router numbers.
static void routes_byte(PanelTables *pt, PtRouteTable *t, bool dests, const uint8_t *h,
                        uint32_t off, uint8_t b)
{
    if (off == 3) {
        uint32_t count = uint32_t((h[0] << 8) | h[1]);
        if (count > PT_NAMES)
            count = PT_NAMES;
        t->count = uint16_t(count);
        t->name_len = h[2];
        t->level_count = b;
        const uint16_t last = uint16_t(count ? count - 1 : 0);
        if (dests)
            pt->next_dest = last;
        else
            pt->next_preset = last;
        return;
    }
    const uint32_t size = h[2] + 2u * h[3];
    if (off < 4 || size == 0)
        return;
    const uint32_t i = (off - 4) / size;
    const uint32_t pos = (off - 4) % size;
    if (i >= t->count)
        return;
    if (pos < h[2]) {
        name_byte(t->name[i], pos, b);
    } else {
        const uint32_t j = (pos - h[2]) / 2;
        if (j < PT_LEVELS)
            put16(&t->number[i][j], pos - h[2], b);
    }
}

// Block 105: name length, then entries of number, value and name.
static void names_byte(PanelTables *pt, const uint8_t *h, uint32_t off, uint8_t b)
{
    if (off < 1)
        return;
    const uint32_t size = 3u + h[0];
    const uint32_t i = (off - 1) / size;
    const uint32_t pos = (off - 1) % size;
    if (i >= PT_NAME_LIST)
        return;
    PtNameEntry *e = &pt->names[i];
    if (pos < 2)
        put16(&e->number, pos, b);
    else if (pos == 2)
        e->value = b;
    else
        name_byte(e->name, pos - 3, b);
    if (pos == size - 1)
        e->valid = 1;
}

// The table a variable block fills is emptied when the block starts.
static void clear_table(PanelTables *pt, uint8_t id)
{
    switch (id) {
    case CFGBIN_LEVELS: memset(&pt->levels, 0, sizeof pt->levels); break;
    case CFGBIN_DESTS: memset(&pt->dests, 0, sizeof pt->dests); break;
    case CFGBIN_SOURCES: memset(&pt->sources, 0, sizeof pt->sources); break;
    case CFGBIN_NAMES: memset(pt->names, 0, sizeof pt->names); break;
    default: break;
    }
}

static void block_byte(CfgBinReader *r, uint8_t b)
{
    PanelTables *pt = panel_tables();
    const uint32_t off = r->offset;
    if (off < sizeof r->header)
        r->header[off] = b;
    switch (r->id) {
    case CFGBIN_KEYS:
        keys_byte(r, pt, off, b);
        if (off + 1 > r->keys_got)
            r->keys_got = off + 1;
        break;
    case CFGBIN_SUBPANELS: subpanels_byte(pt, off, b); break;
    case CFGBIN_LEVELS: levels_byte(pt, r->header, off, b); break;
    case CFGBIN_DESTS: routes_byte(pt, &pt->dests, true, r->header, off, b); break;
    case CFGBIN_SOURCES: routes_byte(pt, &pt->sources, false, r->header, off, b); break;
    case CFGBIN_NAMES: names_byte(pt, r->header, off, b); break;
    case CFGBIN_DISPLAYS: displays_byte(pt, off, b); break;
    case CFGBIN_TAKE: take_byte(pt, off, b); break;
    default: break;
    }
}

void cfgbin_begin(CfgBinReader *r)
{
    memset(r, 0, sizeof *r);
}

// Reads the data of the current record; returns the bytes used.
static size_t feed_block(CfgBinReader *r, const uint8_t *data, size_t len)
{
    const bool known = r->id >= CFGBIN_KEYS && r->id <= CFGBIN_TAKE;
    size_t n = r->length - r->offset;
    if (n > len)
        n = len;
    if (known)
        for (size_t i = 0; i < n; ++i) {
            block_byte(r, data[i]);
            ++r->offset;
        }
    else
        r->offset += uint32_t(n);
    if (r->offset >= r->length)
        r->field = 0;
    return n;
}

// A record's header is complete: start its block.
static void start_block(CfgBinReader *r)
{
    r->offset = 0;
    memset(r->header, 0, sizeof r->header);
    if (r->id >= CFGBIN_KEYS && r->id <= CFGBIN_TAKE) {
        r->filled |= uint8_t(1u << (r->id - CFGBIN_KEYS));
        clear_table(panel_tables(), r->id);
    }
    r->field = r->length ? 3 : 0;
}

void cfgbin_feed(CfgBinReader *r, const uint8_t *data, size_t len)
{
    size_t i = 0;
    while (i < len) {
        switch (r->field) {
        case 0: r->id = data[i++]; r->field = 1; break;
        case 1: r->length = uint16_t(data[i++] << 8); r->field = 2; break;
        case 2:
            r->length = uint16_t(r->length | data[i++]);
            start_block(r);
            break;
        default: i += feed_block(r, data + i, len - i); break;
        }
    }
}

// A slot's 16-bit value carries the subpanel index for some types.
static void split_value(PanelTables *pt, int slot)
{
    const uint16_t v = pt->value[slot];
    switch (pt->type[slot]) {
    case 10: case 11: case 17: case 22: case 26: case 43: case 44:
    case 63: case 64: case 66: case 67: case 68: case 69:
        pt->subpanel[slot] = uint16_t(v >> 13);
        pt->value[slot] = uint16_t(v & 0x1FFF);
        break;
    case 12: case 13: case 30: case 47: case 48: case 51: case 52:
        pt->subpanel[slot] = uint16_t(v >> 8);
        pt->value[slot] = uint16_t(v & 0xFF);
        break;
    case 15: case 16: case 18: case 19: case 29: case 31: case 33: case 34: case 35:
    case 36: case 37: case 38: case 49: case 50: case 58: case 59: case 60: case 61:
        pt->subpanel[slot] = uint16_t(v & 0xFF);
        pt->value[slot] = uint16_t(v >> 8);
        break;
    default:
        pt->subpanel[slot] = 0;
        break;
    }
}

// The image's 40 colour bytes in the working layout of the legends.
static void arrange_colours(const CfgBinReader *r, PanelTables *pt)
{
    const uint8_t *c = r->colours;
    static const uint8_t from[17] = {0, 1, 2, 3, 4, 5, 8, 9, 10, 2, 11, 2, 12, 16, 17, 18, 19};
    for (int i = 0; i < 17; ++i)
        pt->colours[i] = c[from[i]];
    for (int i = 17; i < PT_COLOURS; ++i)
        pt->colours[i] = (i & 1) ? c[6] : c[7];
}

void cfgbin_finish(CfgBinReader *r)
{
    PanelTables *pt = panel_tables();
    // Counts that index tables are kept within them: the display code walks
    // display_count entries, the legend code the menu legend counts.
    if ((r->filled & (1u << (CFGBIN_DISPLAYS - CFGBIN_KEYS))) && pt->display_count > PT_DISPLAYS)
        pt->display_count = PT_DISPLAYS;
    if (!(r->filled & 1))
        return;
    pt_number_groups();
    if (pt->menu_legends > PT_LEGENDS)
        pt->menu_legends = PT_LEGENDS;
    if (pt->all_menu_legends > PT_LEGENDS)
        pt->all_menu_legends = PT_LEGENDS;
    // Only the slots whose value arrived whole are split; the others keep
    // what they had.
    const uint32_t got = r->keys_got;
    for (int s = 0; s < PT_SLOTS; ++s)
        if (uint32_t(B100_VALUES + 2 * s + 2) <= got)
            split_value(pt, s);
    if (got >= B100_STRINGS)
        arrange_colours(r, pt);
    if (got > B100_LEGENDS)
        pt->legend_count = B100_IMAGE_LEGENDS;
}

int readBinaryConfig(const uint8_t *data, size_t len)
{
    if (!data || !len)
        return 0;
    CfgBinReader r;
    cfgbin_begin(&r);
    cfgbin_feed(&r, data, len);
    cfgbin_finish(&r);
    return 1;
}
