// A panel face drawn in the browser from what each item shows (the remote
// API's item state), with the host's own pictures and legend fonts, the way
// the host composes each item: the face colour, the colour cover, the
// legend or picture in the legend window, all cut to the display mask,
// then the key's frame. Every item is drawn at the device's pixel size, so
// the face is sharp at any width. Keys take mouse and touch presses (several
// fingers at once), animate as the host's keys do, and are elements a
// screen reader or a test finds by the legend they show.
'use strict';
window.Tess = window.Tess || {};

// ---- Pictures, fonts and sound, shared by every face of a page ----------

Tess.assets = {
  pictures: new Map(), // name -> Promise<HTMLImageElement|null>
  scaled: new Map(),   // name/w/h -> canvas
  windows: new Map(),  // mask/w/h -> opaque rectangle
  fonts: null,

  picture(url) {
    if (!this.pictures.has(url)) {
      this.pictures.set(url, new Promise(resolve => {
        const img = new Image();
        img.onload = () => resolve(img);
        img.onerror = () => resolve(null);
        img.src = url;
      }));
    }
    return this.pictures.get(url);
  },

  loadFonts() {
    if (!this.fontsPromise)
      this.fontsPromise = fetch('/web/fonts.json').then(r => r.json()).then(f => { this.fonts = f; });
    return this.fontsPromise;
  },

  // A picture scaled to exactly w x h, smoothly, made once per size.
  scaledPicture(name, img, w, h) {
    const key = name + '/' + w + '/' + h;
    let c = this.scaled.get(key);
    if (!c) {
      c = Tess.resample(img, w, h);
      if (this.scaled.size > 4000) this.scaled.clear();
      this.scaled.set(key, c);
    }
    return c;
  },

  // The opaque bounding box (alpha 128 and above) of a scaled mask: the
  // key's legend window.
  opaqueRect(name, canvas) {
    const key = name + '/' + canvas.width + '/' + canvas.height;
    let r = this.windows.get(key);
    if (!r) {
      const d = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      let left = canvas.width, top = canvas.height, right = -1, bottom = -1;
      for (let y = 0; y < canvas.height; ++y)
        for (let x = 0; x < canvas.width; ++x)
          if (d[(y * canvas.width + x) * 4 + 3] >= 128) {
            if (x < left) left = x;
            if (x > right) right = x;
            if (y < top) top = y;
            if (y > bottom) bottom = y;
          }
      r = right < 0 ? null : {x: left, y: top, w: right - left + 1, h: bottom - top + 1};
      this.windows.set(key, r);
    }
    return r;
  },

  // The display window's glass for a size: nested outlines growing more
  // opaque towards the inside around a nearly black interior.
  displayBackground(w, h) {
    const key = 'vacuum_bk.png/' + w + '/' + h;
    let c = this.scaled.get(key);
    if (c) return c;
    c = Tess.canvas(w, h);
    const g = c.getContext('2d');
    const outlines = Math.min(Math.max(Math.trunc(w / 40), 2), Math.max(2, Math.trunc(Math.min(w, h) / 4)));
    g.lineWidth = 1;
    for (let i = 0; i < outlines; ++i) {
      const alpha = Math.min(40 + Math.trunc(180 * (i + 1) / outlines), 255);
      g.strokeStyle = 'rgba(8,10,9,' + (alpha / 255) + ')';
      g.strokeRect(i + 0.5, i + 0.5, w - 1 - 2 * i, h - 1 - 2 * i);
    }
    const iw = w - 2 * outlines, ih = h - 2 * outlines;
    if (iw > 0 && ih > 0) {
      const grad = g.createLinearGradient(0, outlines, 0, outlines + ih - 1);
      grad.addColorStop(0, 'rgb(26,32,30)');
      grad.addColorStop(0.45, 'rgb(10,13,12)');
      grad.addColorStop(1, 'rgb(6,8,7)');
      g.fillStyle = grad;
      g.fillRect(outlines, outlines, iw, ih);
    }
    this.scaled.set(key, c);
    return c;
  },

  audio: null,
  sound: null,
  // Web Audio may only start after the user touched the page.
  unlockAudio() {
    if (this.audio) {
      if (this.audio.state === 'suspended') this.audio.resume();
      return;
    }
    const Ctx = window.AudioContext || window.webkitAudioContext;
    if (!Ctx) return;
    this.audio = new Ctx();
    fetch('/web/sound.wav').then(r => r.arrayBuffer())
      .then(b => this.audio.decodeAudioData(b))
      .then(buf => { this.sound = buf; }).catch(() => {});
  },
  buzzers: new Map(), // uid -> playing source
  buzz(uid, on) {
    const playing = this.buzzers.get(uid);
    if (playing) { try { playing.stop(); } catch (e) { /* ended */ } this.buzzers.delete(uid); }
    if (!on || !this.audio || !this.sound || this.audio.state !== 'running') return;
    const src = this.audio.createBufferSource();
    src.buffer = this.sound;
    src.loop = true;
    src.connect(this.audio.destination);
    src.start();
    this.buzzers.set(uid, src);
  },
};

Tess.canvas = function (w, h) {
  const c = document.createElement('canvas');
  c.width = Math.max(1, w);
  c.height = Math.max(1, h);
  return c;
};

// A picture scaled as the host scales its pictures: each axis averaged
// over the area a new pixel covers when it shrinks, interpolated linearly
// when it grows; colours weighted by their opacity.
Tess.resample = function (img, w, h) {
  const sw = img.naturalWidth || img.width, sh = img.naturalHeight || img.height;
  const out = Tess.canvas(w, h);
  if (!sw || !sh || w <= 0 || h <= 0) return out;
  if (sw === w && sh === h) {
    out.getContext('2d').drawImage(img, 0, 0);
    return out;
  }
  const src = Tess.canvas(sw, sh);
  const sg = src.getContext('2d');
  sg.drawImage(img, 0, 0);
  const d = sg.getImageData(0, 0, sw, sh).data;
  // Premultiplied, as floats.
  let a = new Float32Array(sw * sh * 4);
  for (let i = 0; i < sw * sh; ++i) {
    const al = d[i * 4 + 3] / 255;
    a[i * 4] = d[i * 4] * al; a[i * 4 + 1] = d[i * 4 + 1] * al; a[i * 4 + 2] = d[i * 4 + 2] * al;
    a[i * 4 + 3] = d[i * 4 + 3];
  }
  // Weights of the source pixels of each new pixel along one axis.
  const weights = (n, m) => {
    const list = [];
    if (m < n) {
      const step = n / m;
      for (let i = 0; i < m; ++i) {
        const s0 = i * step, s1 = s0 + step, ws = [];
        for (let k = Math.floor(s0); k < Math.min(n, Math.ceil(s1)); ++k) {
          const cover = Math.min(s1, k + 1) - Math.max(s0, k);
          if (cover > 0) ws.push([k, cover / step]);
        }
        list.push(ws);
      }
    } else {
      for (let i = 0; i < m; ++i) {
        let pos = (i + 0.5) * n / m - 0.5;
        pos = Math.max(0, Math.min(n - 1, pos));
        const k = Math.floor(pos), f = pos - k;
        list.push(k + 1 < n && f > 0 ? [[k, 1 - f], [k + 1, f]] : [[k, 1]]);
      }
    }
    return list;
  };
  const wx = weights(sw, w), wy = weights(sh, h);
  const mid = new Float32Array(w * sh * 4);
  for (let y = 0; y < sh; ++y)
    for (let x = 0; x < w; ++x) {
      let r = 0, g = 0, b = 0, al = 0;
      for (const [k, f] of wx[x]) {
        const p = (y * sw + k) * 4;
        r += a[p] * f; g += a[p + 1] * f; b += a[p + 2] * f; al += a[p + 3] * f;
      }
      const q = (y * w + x) * 4;
      mid[q] = r; mid[q + 1] = g; mid[q + 2] = b; mid[q + 3] = al;
    }
  a = null;
  const res = new ImageData(w, h);
  const o = res.data;
  for (let y = 0; y < h; ++y)
    for (let x = 0; x < w; ++x) {
      let r = 0, g = 0, b = 0, al = 0;
      for (const [k, f] of wy[y]) {
        const p = (k * w + x) * 4;
        r += mid[p] * f; g += mid[p + 1] * f; b += mid[p + 2] * f; al += mid[p + 3] * f;
      }
      const q = (y * w + x) * 4;
      const A = al / 255;
      o[q] = A > 0 ? Math.round(r / A) : 0;
      o[q + 1] = A > 0 ? Math.round(g / A) : 0;
      o[q + 2] = A > 0 ? Math.round(b / A) : 0;
      o[q + 3] = Math.round(al);
    }
  out.getContext('2d').putImageData(res, 0, 0);
  return out;
};

// Smooth scaling of small pictures drawn into a face (legends, display
// text): area-averaging when shrinking (mipmapped), bilinear when growing.
Tess.smoothDraw = function (ctx, src, x, y, w, h) {
  if (w <= 0 || h <= 0) return;
  ctx.imageSmoothingEnabled = true;
  const sw = src.naturalWidth || src.width, sh = src.naturalHeight || src.height;
  ctx.imageSmoothingQuality = (w < sw || h < sh) ? 'medium' : 'low';
  ctx.drawImage(src, x, y, w, h);
};

// A rectangle of size (pw, ph) scaled into r keeping its proportions, centred.
Tess.fitted = function (pw, ph, r) {
  if (!pw || !ph || !r || r.w <= 0 || r.h <= 0) return null;
  // As the host fits them: the full height when the width then fits.
  let w = Math.trunc(r.h * pw / ph), h = r.h;
  if (w > r.w) { w = r.w; h = Math.trunc(r.w * ph / pw); }
  if (w <= 0 || h <= 0) return null;
  return {x: r.x + Math.trunc((r.w - w) / 2), y: r.y + Math.trunc((r.h - h) / 2), w: w, h: h};
};

// ---- Key pictures: 36 x 24 pixels, one bit a pixel ------------------------

Tess.FACE_WIDTH = 36;
Tess.ROWS = 24;

Tess.Bits = class {
  constructor(chars) {
    this.width = chars * 7 > 36 ? chars * 7 : 36;
    this.bpl = (this.width + 7) >> 3;
    this.data = new Uint8Array(this.bpl * 24);
  }
  static fromBase64(text) {
    const raw = atob(text);
    const b = new Tess.Bits(5);
    if (raw.length !== b.data.length) return null;
    for (let i = 0; i < raw.length; ++i) b.data[i] = raw.charCodeAt(i);
    return b;
  }
  pixel(x, y) { return (this.data[y * this.bpl + (x >> 3)] >> (7 - (x & 7))) & 1; }
  setPixels(x, row, bits) {
    if (row < 0 || row >= 24) return;
    for (let k = 0; k < 8; ++k) {
      const col = x + k;
      if (col < 0) continue;
      if (col >= this.width) break;
      if (bits & (0x80 >> k)) this.data[row * this.bpl + (col >> 3)] |= 0x80 >> (col & 7);
    }
  }
  invert() { for (let i = 0; i < this.data.length; ++i) this.data[i] ^= 0xff; }
  window(offset) {
    const out = new Tess.Bits(5);
    if (offset + 36 > this.width) return out;
    for (let y = 0; y < 24; ++y)
      for (let x = 0; x < 36; ++x)
        if (this.pixel(offset + x, y)) out.setPixels(x, y, 0x80);
    return out;
  }
  // The key's legend as the face shows it: lit pixels black on clear, with
  // a 2-pixel margin; null when nothing is lit.
  toCanvas(reuse) {
    const w = this.width + 4, h = 28;
    const img = new ImageData(w, h);
    let any = false;
    for (let y = 0; y < 24; ++y)
      for (let x = 0; x < this.width; ++x)
        if (this.pixel(x, y)) {
          img.data[((y + 2) * w + x + 2) * 4 + 3] = 255;
          any = true;
        }
    if (!any) return null;
    const c = reuse && reuse.width === w && reuse.height === h ? reuse : Tess.canvas(w, h);
    c.getContext('2d').putImageData(img, 0, 0);
    return c;
  }
};

// A legend drawn as keys draw it: one line in the large font at row 6, two
// in the large font at rows 0 and 12, three in the small font at rows 0, 8
// and 16, each centred on the 36-pixel face; flags 0x02/0x04/0x08 invert a
// line, 0x01 the whole picture.
Tess.renderLegend = function (bits, text, flags) {
  const f = Tess.assets.fonts;
  if (!f) return;
  const lines = text.split('\n');
  const draw = (i, row, large, flag) => {
    const line = lines[i];
    const start = Math.trunc((36 - 7 * line.length) / 2);
    let col = start < 1 ? 0 : start;
    const font = large ? f.large : f.small;
    for (let c = 0; c < line.length; ++c, col += f.pitch) {
      if (col >= bits.width) break;
      const glyph = font[line.charCodeAt(c)];
      if (!glyph) continue;
      for (let k = 0; k < glyph.length; ++k)
        bits.setPixels(col, row + k, (flags & flag) ? (~glyph[k]) & 0xff : glyph[k]);
    }
  };
  if (lines.length === 1) draw(0, 6, true, 0x02);
  else if (lines.length === 2) { draw(0, 0, true, 0x02); draw(1, 12, true, 0x04); }
  else if (lines.length === 3) { draw(0, 0, false, 0x02); draw(1, 8, false, 0x04); draw(2, 16, false, 0x08); }
  if (flags & 0x01) bits.invert();
};

// A display window's text: each line padded to the window's characters,
// 8 pixels a character from the small font, green on the glass, doubled.
Tess.displayPicture = function (text, lines, chars) {
  const ok = chars >= 1 && chars <= 256 && (lines === 1 || (lines === 2 && chars === 20));
  if (!ok) {
    const c = Tess.canvas(100, 100);
    const g = c.getContext('2d');
    g.fillStyle = 'rgb(255,0,255)';
    g.fillRect(0, 0, 100, 100);
    return c;
  }
  const f = Tess.assets.fonts;
  const all = text.split('\n');
  const w = chars * 8, h = lines * 8;
  const img = new ImageData(w, h);
  for (let i = 0; i < w * h; ++i) {
    img.data[i * 4] = 10; img.data[i * 4 + 1] = 16; img.data[i * 4 + 2] = 12; img.data[i * 4 + 3] = 255;
  }
  for (let l = 0; l < lines; ++l) {
    const line = (all[l] || '').substring(0, chars);
    for (let c = 0; c < line.length && f; ++c) {
      const glyph = f.small[line.charCodeAt(c)];
      if (!glyph) continue;
      for (let r = 0; r < 8; ++r)
        for (let k = 0; k < 8; ++k)
          if (glyph[r] & (0x80 >> k)) {
            const p = ((l * 8 + r) * w + c * 8 + k) * 4;
            img.data[p] = 150; img.data[p + 1] = 255; img.data[p + 2] = 50;
          }
    }
  }
  const one = Tess.canvas(w, h);
  one.getContext('2d').putImageData(img, 0, 0);
  const two = Tess.canvas(w * 2, h * 2);
  const g = two.getContext('2d');
  g.imageSmoothingEnabled = false;
  g.drawImage(one, 0, 0, w * 2, h * 2);
  return two;
};

// ---- Colours ---------------------------------------------------------------

Tess.parseColor = function (text) {
  if (typeof text !== 'string' || !/^#[0-9a-fA-F]{6}$/.test(text)) return null;
  return [parseInt(text.substr(1, 2), 16), parseInt(text.substr(3, 2), 16), parseInt(text.substr(5, 2), 16)];
};
// Dark face colours are drawn lighter, so that an unlit key still shows.
Tess.lifted = function (c) {
  if (!c) c = [0, 0, 0];
  if (c[0] * c[0] + c[1] * c[1] + c[2] * c[2] >= 4800) return c;
  return [Math.min(255, c[0] + 40), Math.min(255, c[1] + 40), Math.min(255, c[2] + 40)];
};
Tess.css = c => 'rgb(' + c[0] + ',' + c[1] + ',' + c[2] + ')';

// ---- One item of a face ----------------------------------------------------

const StateHeld = 0, StateIdle = 1, StatePressing = 2, StateReleasing = 3;

Tess.Item = class {
  constructor(face, d) {
    this.face = face;
    this.d = d;
    this.kind = d.kind;
    this.isKey = (d.kind === 'lcd' || d.kind === 'led') && d.pushable && d.id >= 1 && d.id <= 127;
    this.el = document.createElement('div');
    this.el.className = 'item';
    // The item's picture; the face copies it into its one canvas.
    this.canvas = Tess.canvas(1, 1);
    if (this.isKey) {
      this.el.setAttribute('role', 'button');
      this.el.tabIndex = 0;
    } else if (d.kind === 'display') {
      this.el.setAttribute('role', 'img');
    } else {
      this.el.setAttribute('aria-hidden', 'true');
    }
    this.el.dataset.id = d.id;
    this.el.dataset.kind = d.kind;
    // What the button driver set.
    this.color = null;      // [r, g, b] or null (never set)
    this.flash = null;      // {c1, c2, t1, t2, counter}
    this.legend = null;     // Tess.Bits shown (LCD keys)
    this.legendCanvas = null;
    this.anim = null;       // picture sequence or scrolling legend
    this.text = null;       // display text
    this.ownPicture = null; // an LED's picture of its own
    this.lines = [];
    // Presses.
    this.state = StateIdle;
    this.progress = 0;
    this.clockStart = 0;
    this.frameIndex = -1;
    this.maskIndex = -1;
    this.coverIndex = -1;
    this.pointers = new Set();
    this.updateIndices();
    this.describe();
  }

  // The element's name is what the key shows.
  describe() {
    const shown = this.lines.filter(l => l.trim() !== '').join(' ');
    if (this.isKey) {
      this.attr('aria-label', shown || ('key ' + this.d.id));
      this.attr('aria-pressed', this.pointers.size ? 'true' : 'false');
    } else if (this.kind === 'display') {
      this.attr('aria-label', 'display ' + (this.d.id - 999) + ': ' + shown);
    }
  }

  // Only what changed touches the page's elements.
  attr(name, value) {
    if (this.el.getAttribute(name) !== value) this.el.setAttribute(name, value);
  }

  // Lays the item out for the face's scale, in device pixels.
  layout(sx, sy) {
    const d = this.d;
    const w = Math.max(0, Math.min(8192, Math.trunc(d.w * sx)));
    const h = Math.max(0, Math.min(8192, Math.trunc(d.h * sy)));
    this.x = Math.round(d.x * sx);
    this.y = Math.round(d.y * sy);
    this.w = w; this.h = h;
    const dpr = this.face.dpr;
    this.el.style.left = (this.x / dpr) + 'px';
    this.el.style.top = (this.y / dpr) + 'px';
    this.el.style.width = (w / dpr) + 'px';
    this.el.style.height = (h / dpr) + 'px';
    this.fetchPictures();
    this.dirty = true;
  }

  fetchPictures() {
    const s = this.d.sequence, A = Tess.assets, pics = this.face.pictures;
    this.area = {x: 0, y: 0, w: this.w, h: this.h};
    this.frames = []; this.masks = []; this.covers = []; this.bg = null; this.window = null;
    if (this.w <= 0 || this.h <= 0) return;
    if (this.d.keepAspect) {
      const first = s.frames[0] || s.masks[0];
      const img = first && pics.get(first);
      if (img) {
        const fit = Tess.fitted(img.naturalWidth, img.naturalHeight, {x: 0, y: 0, w: this.w, h: this.h});
        if (fit) this.area = fit;
      }
    }
    const aw = this.area.w, ah = this.area.h;
    const get = name => {
      if (name === 'vacuum_bk.png') return A.displayBackground(aw, ah);
      const img = pics.get(name);
      return img ? A.scaledPicture(name, img, aw, ah) : null;
    };
    this.frames = s.frames.map(get);
    this.masks = s.masks.map(get);
    this.covers = s.covers.map(get);
    if (s.background) this.bg = get(s.background);
    if (this.masks.length && this.masks[0]) this.window = A.opaqueRect(s.masks[0], this.masks[0]);
    if (!this.window) this.window = {x: 0, y: 0, w: aw, h: ah};
  }

  updateIndices() {
    const s = this.d.sequence;
    const index = n => n <= 0 ? -1 : Math.max(0, Math.floor((n - 1) * this.progress));
    const f = index(s.frames.length), m = index(s.masks.length), c = index(s.covers.length);
    const differs = f !== this.frameIndex || m !== this.maskIndex || c !== this.coverIndex;
    this.frameIndex = f; this.maskIndex = m; this.coverIndex = c;
    return differs;
  }

  // What the remote API says the item shows: taken in at the next frame,
  // so that of several changes between two frames only the last is worked.
  apply(j) {
    this.pendingJson = j;
    this.face.changed(this);
  }

  commit() {
    const j = this.pendingJson;
    this.pendingJson = null;
    if (!j) return;
    if (this.kind === 'display') {
      this.text = typeof j.text === 'string' ? j.text : null;
      this.lines = j.lines || [];
      this.displayCanvas = this.text === null ? null
        : Tess.displayPicture(this.text, this.d.lines, this.d.chars);
    } else if (this.kind === 'lcd' || this.kind === 'led') {
      this.color = Tess.parseColor(j.color);
      if (j.flash) {
        const c2 = Tess.parseColor(j.flash.color2);
        const t1 = Math.max(1, Math.trunc(j.flash.ms1 / 20)), t2 = Math.max(1, Math.trunc(j.flash.ms2 / 20));
        this.flash = {c1: this.color, c2: c2, t1: t1, t2: t2, counter: j.flash.phase ? t1 : 0};
        this.shownColor = j.flash.phase ? c2 : this.color;
        this.face.wantTicks();
      } else {
        this.flash = null;
        this.shownColor = this.color;
      }
      if (this.kind === 'lcd') {
        this.lines = j.lines || [];
        this.anim = null;
        let bits = j.bitmap ? Tess.Bits.fromBase64(j.bitmap) : null;
        if (j.scroll && typeof j.text === 'string')
          this.startScroll(j.text, j.flags || 0);
        else if (j.sequence && j.sequence.ids && j.sequence.ids.length)
          this.startSequence(j.sequence);
        this.setLegend(bits);
      }
    }
    this.describe();
    this.attr('data-lamp', j.lamp || '');
    this.attr('data-color', j.color || '');
  }

  setLegend(bits) {
    this.legend = bits;
    const c = bits ? bits.toCanvas(this.spareLegend) : null;
    if (this.legendCanvas && this.legendCanvas !== c) this.spareLegend = this.legendCanvas;
    this.legendCanvas = c;
  }

  startScroll(text, flags) {
    const lines = text.split('\n');
    let L = 5;
    for (let i = 0; i < lines.length && i < 3; ++i) L = Math.max(L, lines[i].length);
    L = Math.min(L, 256);
    const steps = Math.max(1, (L - 5) * 7);
    if (steps <= 1 || !Tess.assets.fonts) return;
    const wide = new Tess.Bits(L);
    Tess.renderLegend(wide, text, flags);
    const short = text.length < 8;
    this.anim = {scroll: true, wide: wide, steps: steps, lead: short ? 80 : 40, tail: short ? 20 : 10,
      rate: 60, repeat: 0, done: 0, tick: 0, last: -1};
    this.face.wantTicks();
  }

  startSequence(seq) {
    const ids = seq.ids.slice(0, 256);
    this.anim = {scroll: false, ids: ids, rate: seq.rate, repeat: seq.repeat, done: 0, tick: 0, last: -1};
    this.face.needImages(ids);
    this.face.wantTicks();
  }

  // One 20 ms step of flashing and animation, as the host's button driver
  // runs them; true while there is more to do.
  tick() {
    let more = false;
    if (this.flash) {
      const f = this.flash;
      if (f.counter === -1 || f.counter >= f.t1 + f.t2) f.counter = 0;
      if (f.counter === 0) { this.shownColor = f.c1; this.face.changed(this); }
      else if (f.counter === f.t1) { this.shownColor = f.c2; this.face.changed(this); }
      ++f.counter;
      more = true;
    }
    const a = this.anim;
    if (a) {
      const count = a.scroll ? a.lead + a.steps + a.tail : a.ids.length;
      let frame = Math.trunc(a.rate * a.tick * 20 / 1000);
      let finished = false;
      if (frame >= count) {
        a.tick = 0;
        frame = 0;
        a.last = -1;
        if (a.repeat !== 0 && ++a.done >= a.repeat) finished = true;
      }
      if (!finished && frame < count && frame !== a.last) {
        a.last = frame;
        this.showFrame(frame);
      }
      ++a.tick;
      if (finished) this.anim = null;
      else more = true;
    }
    return more;
  }

  showFrame(frame) {
    const a = this.anim;
    if (a.scroll) {
      const off = frame < a.lead ? 0 : frame >= a.lead + a.steps ? a.steps - 1 : frame - a.lead;
      this.setLegend(a.wide.window(off));
    } else {
      const data = this.face.images.get(a.ids[frame]);
      if (!data) return;
      this.setLegend(Tess.Bits.fromBase64(data));
    }
    this.face.changed(this);
  }

  // ---- Presses: as the host's keys, down after the press animation ------

  elapsed() { return performance.now() - this.clockStart; }
  setClockFor(state) {
    const s = this.d.sequence;
    const ms = state === StatePressing ? this.progress * s.fw : (1 - this.progress) * s.rv;
    this.clockStart = performance.now() - (ms > 0 ? ms : 0);
  }
  pressVisual() {
    this.setClockFor(StatePressing);
    this.state = StatePressing;
    this.face.animate(this);
  }
  releaseVisual() {
    if (this.state !== StatePressing && this.state !== StateHeld) return;
    this.setClockFor(StateReleasing);
    this.state = StateReleasing;
    this.face.animate(this);
  }
  // One animation frame; true while the key still moves.
  step() {
    const fw = this.d.sequence.fw, rv = this.d.sequence.rv;
    let moving = true;
    if (this.state === StatePressing) {
      this.progress = fw > 0 ? Math.min(1, this.elapsed() / fw) : 1;
      if (this.progress >= 1) { this.state = StateHeld; moving = false; }
    } else if (this.state === StateReleasing) {
      this.progress = rv > 0 ? Math.max(0, 1 - Math.min(1, this.elapsed() / rv)) : 0;
      if (this.progress <= 0) { this.state = StateIdle; moving = false; }
    } else {
      moving = false;
    }
    if (this.updateIndices()) this.dirty = true;
    return moving;
  }

  // ---- Drawing: the host's composition, bottom to top -------------------

  // What the item's picture is made of: items that show the same (a
  // legend back on a key under a tally storm) share one picture.
  signature() {
    const legend = this.legend ? String.fromCharCode.apply(null, this.legend.data) : '';
    return [this.face.layoutSerial, this.d.sequence.frames.join(), this.d.sequence.masks.join(),
      this.d.sequence.covers.join(), this.d.sequence.background, this.w, this.h, this.d.keepAspect,
      this.d.upDown, this.kind, this.frameIndex, this.maskIndex, this.coverIndex,
      this.shownColor ? this.shownColor.join() : '', legend, this.legend ? this.legend.width : 0,
      this.kind === 'led' && this.ownPicture ? this.d.id : '',
      this.kind === 'display' ? this.text + '/' + this.d.lines + '/' + this.d.chars : ''].join('|');
  }

  draw() {
    this.dirty = false;
    if (this.w <= 0 || this.h <= 0) return;
    const sig = this.signature();
    const cache = this.face.pictureCache;
    let c = cache.get(sig);
    if (!c) {
      c = Tess.canvas(this.w, this.h);
      this.paint(c.getContext('2d'));
      if (cache.size >= 3000) cache.clear();
      cache.set(sig, c);
    }
    this.canvas = c;
  }

  paint(g) {
    const a = this.area;
    if (this.bg) g.drawImage(this.bg, a.x, a.y);
    const display = this.kind === 'display';
    if (display) { this.drawFrame(g); this.drawDisplay(g); }
    else if (this.maskIndex >= 0) this.drawFace(g);
    if (!display) this.drawFrame(g);
  }

  drawFrame(g) {
    const f = this.frames[this.frameIndex];
    if (f) g.drawImage(f, this.area.x, this.area.y);
  }

  drawFace(g) {
    const a = this.area;
    const s = this.face.scratch(a.w, a.h);
    const f = s.getContext('2d');
    f.globalCompositeOperation = 'source-over';
    f.clearRect(0, 0, a.w, a.h);
    const c = Tess.lifted(this.shownColor);
    if (this.d.upDown && (this.kind === 'lcd' || this.kind === 'led')) {
      const half = Math.trunc(a.h / 2);
      f.fillStyle = Tess.css([c[0] & 0xf0, c[1] & 0xf0, c[2] & 0xf0]);
      f.fillRect(0, 0, a.w, half);
      f.fillStyle = Tess.css([(c[0] * 16) & 0xff, (c[1] * 16) & 0xff, (c[2] * 16) & 0xff]);
      f.fillRect(0, half, a.w, a.h - half);
    } else {
      f.fillStyle = Tess.css(c);
      f.fillRect(0, 0, a.w, a.h);
    }
    const cover = this.covers[this.coverIndex];
    if (cover) f.drawImage(cover, 0, 0);
    const pic = this.legendCanvas || (this.kind === 'led' ? this.ownPicture : null);
    if (pic) {
      const to = Tess.fitted(pic.naturalWidth || pic.width, pic.naturalHeight || pic.height, this.window);
      if (to) Tess.smoothDraw(f, pic, to.x, to.y, to.w, to.h);
    }
    const mask = this.masks[this.maskIndex];
    if (mask) {
      f.globalCompositeOperation = 'destination-in';
      f.drawImage(mask, 0, 0);
      f.globalCompositeOperation = 'source-over';
    }
    g.drawImage(s, 0, 0, a.w, a.h, a.x, a.y, a.w, a.h);
  }

  drawDisplay(g) {
    if (!this.displayCanvas) return;
    const to = Tess.fitted(this.displayCanvas.width, this.displayCanvas.height, this.area);
    if (to) Tess.smoothDraw(g, this.displayCanvas, to.x, to.y, to.w, to.h);
  }
};

// ---- A face ----------------------------------------------------------------

// desc: the face's layout (/web/face/UID.json); options: press(item, down)
// sends a press, width (CSS pixels, else the container's).
Tess.Face = class {
  constructor(container, desc, options) {
    this.desc = desc;
    this.uid = desc.uid;
    this.options = options || {};
    this.el = document.createElement('div');
    this.el.className = 'face offline';
    this.bgCanvas = document.createElement('canvas');
    this.el.appendChild(this.bgCanvas);
    this.cover = document.createElement('div');
    this.cover.className = 'cover';
    this.cover.textContent = 'Disconnected';
    container.appendChild(this.el);
    this.pictures = new Map();
    this.pictureCache = new Map(); // item pictures by what they are made of
    this.layoutSerial = 0;
    this.images = new Map(); // stored key pictures by id (base64)
    this.items = [];
    this.byId = new Map();
    this.dirtyItems = new Set();
    this.moving = new Set();
    this.frames = 0;
    this.since = performance.now();
    this.canPress = false;
    this.held = new Map(); // pointerId -> item
    for (const d of desc.items) {
      const it = new Tess.Item(this, d);
      this.items.push(it);
      // Two items of one id: the later one is the driver's.
      if (d.id >= 0) this.byId.set(d.id, it);
      this.el.appendChild(it.el);
      if (it.isKey) this.bindPresses(it);
    }
    this.el.appendChild(this.cover);
    Tess.faces.push(this);
  }

  // Loads every picture the face is made of; then lays it out.
  async load() {
    const names = new Set();
    if (this.desc.background) names.add(this.desc.background);
    for (const d of this.desc.items) {
      const s = d.sequence;
      for (const n of [...s.frames, ...s.masks, ...s.covers, s.background])
        if (n && n !== 'vacuum_bk.png') names.add(n);
    }
    await Tess.assets.loadFonts();
    const loads = [...names].map(n => Tess.assets.picture('/web/images/' + encodeURIComponent(n))
      .then(img => { if (img) this.pictures.set(n, img); }));
    for (const it of this.items)
      if (it.d.picture)
        loads.push(Tess.assets.picture(it.d.picture).then(img => { it.ownPicture = img; }));
    await Promise.all(loads);
    this.resize();
  }

  // Scales the face to its width: device pixels = CSS pixels x the device's
  // pixel ratio, the height keeping the layout's proportions.
  resize() {
    this.dpr = window.devicePixelRatio || 1;
    const cssW = this.options.width || this.el.parentNode.clientWidth || 600;
    const W = Math.max(1, Math.round(cssW * this.dpr));
    const pw = this.desc.width || 1, ph = this.desc.height || 1;
    const H = Math.max(1, Math.trunc(W * ph / pw));
    if (W === this.W && H === this.H) return;
    this.W = W; this.H = H;
    this.el.style.width = (W / this.dpr) + 'px';
    this.el.style.height = (H / this.dpr) + 'px';
    const b = this.bgCanvas;
    b.width = W; b.height = H;
    b.style.width = (W / this.dpr) + 'px';
    b.style.height = (H / this.dpr) + 'px';
    // The background: the layout's colour under its picture.
    this.bgLayer = Tess.canvas(W, H);
    const g = this.bgLayer.getContext('2d');
    g.fillStyle = this.desc.backgroundColor || '#000';
    g.fillRect(0, 0, W, H);
    const bg = this.desc.background && this.pictures.get(this.desc.background);
    if (bg) g.drawImage(Tess.assets.scaledPicture(this.desc.background, bg, W, H), 0, 0);
    const sx = W / pw, sy = H / ph;
    ++this.layoutSerial;
    this.pictureCache.clear();
    for (const it of this.items) it.layout(sx, sy);
    // The items each item's place shares (a display over its frame).
    for (const it of this.items)
      it.overlaps = this.items.filter(o => o.w > 0 && o.h > 0 && o.x < it.x + it.w && it.x < o.x + o.w
        && o.y < it.y + it.h && it.y < o.y + o.h);
    this.fullRedraw = true;
    for (const it of this.items) this.dirtyItems.add(it);
    this.schedule();
  }

  scratch(w, h) {
    if (!this.scratchCanvas) this.scratchCanvas = Tess.canvas(w, h);
    const s = this.scratchCanvas;
    if (s.width < w || s.height < h) { s.width = Math.max(s.width, w); s.height = Math.max(s.height, h); }
    return s;
  }

  // The panel's whole state (after connecting): what the host does not
  // report (a face not built yet) shows as nothing set.
  applyDetail(detail) {
    const items = (detail.face && detail.face.items) || [];
    const given = new Map(items.map(j => [j.id, j]));
    for (const [id, it] of this.byId)
      if (it.kind === 'lcd' || it.kind === 'led' || it.kind === 'display')
        it.apply(given.get(id) || {id: id, color: null, flash: null, text: null, lines: [], bitmap: null});
  }

  applyItem(j) {
    const it = this.byId.get(j.id);
    if (it) it.apply(j);
  }

  changed(item) {
    this.dirtyItems.add(item);
    this.schedule();
  }

  animate(item) {
    this.moving.add(item);
    this.schedule();
  }

  schedule() {
    if (this.frameRequested || this.W === undefined) return;
    this.frameRequested = true;
    requestAnimationFrame(() => this.frame());
  }

  // One frame: every key that moves steps, every changed item is drawn.
  frame() {
    this.frameRequested = false;
    for (const it of [...this.moving]) {
      if (!it.step()) this.moving.delete(it);
      if (it.dirty) this.dirtyItems.add(it);
    }
    if (this.dirtyItems.size) {
      for (const it of this.dirtyItems) {
        it.commit();
        it.draw();
      }
      this.compose();
      this.dirtyItems.clear();
      ++this.frames;
    }
    if (this.moving.size) this.schedule();
  }

  // The face's canvas: where changed items are, the background and every
  // item there, bottom to top, as the host's scene paints them.
  compose() {
    const g = this.bgCanvas.getContext('2d');
    if (this.fullRedraw) {
      this.fullRedraw = false;
      g.globalCompositeOperation = 'source-over';
      g.drawImage(this.bgLayer, 0, 0);
      for (const it of this.items)
        if (it.w > 0 && it.h > 0) g.drawImage(it.canvas, it.x, it.y);
      return;
    }
    for (const it of this.dirtyItems) {
      if (it.w <= 0 || it.h <= 0) continue;
      g.save();
      g.beginPath();
      g.rect(it.x, it.y, it.w, it.h);
      g.clip();
      g.drawImage(this.bgLayer, it.x, it.y, it.w, it.h, it.x, it.y, it.w, it.h);
      for (const o of it.overlaps) g.drawImage(o.canvas, o.x, o.y);
      g.restore();
    }
  }

  // Flashing and animations run on a 20 ms step while any item needs it.
  wantTicks() {
    if (this.ticker) return;
    this.ticker = setInterval(() => {
      let more = false;
      for (const it of this.items) if ((it.flash || it.anim) && it.tick()) more = true;
      if (!more) { clearInterval(this.ticker); this.ticker = null; }
    }, 20);
  }

  needImages(ids) {
    const missing = ids.filter(id => !this.images.has(id));
    if (!missing.length) return;
    fetch('/web/face/' + this.uid + '/images.json?ids=' + missing.join(','), {cache: 'no-store'})
      .then(r => r.json()).then(o => { for (const k in o) this.images.set(Number(k), o[k]); })
      .catch(() => {});
  }

  // Connected and allowed to press, or not: a face that cannot reach its
  // host takes no presses and lets every held key go.
  setLive(connected, mayPress) {
    this.el.classList.toggle('offline', !connected);
    this.cover.textContent = 'Disconnected';
    const could = this.canPress;
    this.canPress = connected && mayPress;
    if (could && !this.canPress) this.releaseAll(connected);
  }

  releaseAll(send) {
    for (const [pid, it] of [...this.held]) this.pointerUp(it, pid, send);
  }

  bindPresses(it) {
    const el = it.el;
    el.addEventListener('pointerdown', e => {
      Tess.assets.unlockAudio();
      if (e.pointerType === 'mouse' && e.button !== 0) return;
      e.preventDefault();
      if (!this.canPress) return;
      try { el.setPointerCapture(e.pointerId); } catch (err) { /* gone */ }
      this.pointerDown(it, e.pointerId);
    });
    const up = e => { if (this.held.get(e.pointerId) === it) this.pointerUp(it, e.pointerId, true); };
    el.addEventListener('pointerup', up);
    el.addEventListener('pointercancel', up);
    el.addEventListener('lostpointercapture', up);
    // A finger or pointer that slides off the key lets it go.
    el.addEventListener('pointermove', e => {
      if (this.held.get(e.pointerId) !== it) return;
      const r = el.getBoundingClientRect();
      if (e.clientX < r.left || e.clientX >= r.right || e.clientY < r.top || e.clientY >= r.bottom)
        this.pointerUp(it, e.pointerId, true);
    });
    el.addEventListener('contextmenu', e => e.preventDefault());
    el.addEventListener('keydown', e => {
      if ((e.key === ' ' || e.key === 'Enter') && !e.repeat && this.canPress && !this.held.has('key')) {
        e.preventDefault();
        this.pointerDown(it, 'key');
      }
    });
    el.addEventListener('keyup', e => {
      if ((e.key === ' ' || e.key === 'Enter') && this.held.get('key') === it) this.pointerUp(it, 'key', true);
    });
    el.addEventListener('blur', () => { if (this.held.get('key') === it) this.pointerUp(it, 'key', true); });
  }

  pointerDown(it, pid) {
    if (this.held.has(pid)) return;
    this.held.set(pid, it);
    const first = it.pointers.size === 0;
    it.pointers.add(pid);
    if (!first) return;
    it.pressedAt = performance.now();
    clearTimeout(it.releaseTimer);
    it.pressVisual();
    it.describe();
    if (this.options.press) this.options.press(it, true);
  }

  pointerUp(it, pid, send) {
    this.held.delete(pid);
    it.pointers.delete(pid);
    if (it.pointers.size) return;
    it.releaseVisual();
    it.describe();
    if (!send || !this.options.press) return;
    // The firmware scans its keys every 10 ms: a press let go at once is
    // held for the key's press animation, as the host's keys are.
    const min = Math.max(40, it.d.sequence.fw || 0);
    const left = min - (performance.now() - it.pressedAt);
    if (left > 0) it.releaseTimer = setTimeout(() => this.options.press(it, false), left);
    else this.options.press(it, false);
  }

  stats() {
    const now = performance.now();
    const s = {uid: this.uid, frames: this.frames, seconds: (now - this.since) / 1000};
    return s;
  }
};

Tess.faces = [];
// Frames each face drew since the last call (for measurements).
window.tessFaceStats = function (reset) {
  const out = Tess.faces.map(f => f.stats());
  if (reset) for (const f of Tess.faces) { f.frames = 0; f.since = performance.now(); }
  return out;
};

// A face with its stream's presses: what a page shows for one panel.
Tess.fetchFace = function (uid) {
  return fetch('/web/face/' + uid + '.json', {cache: 'no-store'}).then(r => {
    if (!r.ok) throw new Error('no face for panel ' + uid);
    return r.json();
  });
};

// Releases every held key when the page goes to the background: its
// releases could otherwise never come.
document.addEventListener('visibilitychange', () => {
  if (document.hidden) for (const f of Tess.faces) f.releaseAll(true);
});
window.addEventListener('blur', () => { for (const f of Tess.faces) f.releaseAll(true); });
