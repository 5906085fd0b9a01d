// The event stream of the remote API as the pages use it: a WebSocket that
// reconnects by itself, asks for the whole state in the stream once
// connected (so that no change slips between the state and the events),
// checks now and then that replies still come, and carries presses.
'use strict';
window.Tess = window.Tess || {};

Tess.Stream = class {
  // options: panel (uid or undefined: every panel), view (true: only view),
  // uids (panels whose state to ask for on connecting; default [panel]),
  // handlers: onConnected(bool), onPanels(list), onDetail(detail, presses),
  // onItem(uid, item), onPanel(summary), onBuzzer(uid, on), onReply(reply),
  // onPanelsChanged().
  constructor(options, handlers) {
    this.options = options;
    this.h = handlers;
    this.ws = null;
    this.connected = false;
    this.nextId = 1;
    this.pending = new Map(); // id -> callback
    this.retryMs = 250;
    this.lastHeard = 0;
    this.timer = setInterval(() => this.check(), 2000);
    this.open();
  }

  url() {
    const q = [];
    if (this.options.panel !== undefined) q.push('panel=' + this.options.panel);
    if (this.options.view) q.push('view=1');
    return (location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host
      + '/api/v1/events' + (q.length ? '?' + q.join('&') : '');
  }

  open() {
    let ws;
    try {
      ws = new WebSocket(this.url());
    } catch (e) {
      this.retry();
      return;
    }
    this.ws = ws;
    ws.onopen = () => {
      if (ws !== this.ws) return;
      this.retryMs = 250;
      this.lastHeard = Date.now();
      // The state is asked for in the stream: it comes after every event
      // sent before it and before every later one.
      const uids = this.options.uids || (this.options.panel !== undefined ? [this.options.panel] : []);
      if (this.options.wantsList)
        this.send({action: 'get'}, r => { if (r.status === 200 && this.h.onPanels) this.h.onPanels(r.panels); });
      for (const uid of uids)
        this.requestDetail(uid);
      this.setConnected(true);
    };
    ws.onmessage = ev => {
      if (ws !== this.ws) return;
      this.lastHeard = Date.now();
      ++Tess.Stream.received;
      let m;
      try { m = JSON.parse(ev.data); } catch (e) { return; }
      switch (m.type) {
      case 'reply': {
        const cb = this.pending.get(m.id);
        this.pending.delete(m.id);
        if (cb) cb(m);
        if (this.h.onReply) this.h.onReply(m);
        break;
      }
      case 'item': if (this.h.onItem) this.h.onItem(m.uid, m.item); break;
      case 'panel': if (this.h.onPanel) this.h.onPanel(m.panel); break;
      case 'buzzer': if (this.h.onBuzzer) this.h.onBuzzer(m.uid, m.on); break;
      case 'panels': if (this.h.onPanelsChanged) this.h.onPanelsChanged(); break;
      }
    };
    ws.onclose = () => {
      if (ws !== this.ws) return;
      this.ws = null;
      this.setConnected(false);
      this.retry();
    };
    ws.onerror = () => { /* a close follows */ };
  }

  requestDetail(uid) {
    this.send({action: 'get', uid: uid}, r => {
      if (r.status === 200 && this.h.onDetail) this.h.onDetail(r.panel, r.presses);
    });
  }

  retry() {
    clearTimeout(this.retryTimer);
    this.retryTimer = setTimeout(() => this.open(), this.retryMs);
    this.retryMs = Math.min(this.retryMs * 2, 3000);
    // A host that asks for a token again (it was restarted with a new one)
    // answers the plain API with 401: say so rather than retry in silence.
    fetch('/api/v1/panels', {cache: 'no-store'}).then(r => {
      if (r.status === 401 && this.h.onUnauthorised) this.h.onUnauthorised();
    }).catch(() => {});
  }

  // A connection that no longer carries replies (a cable pulled, a host
  // frozen) is given up and opened again.
  check() {
    if (!this.ws || this.ws.readyState !== WebSocket.OPEN) return;
    if (Date.now() - this.lastHeard > 6000) {
      const ws = this.ws;
      this.ws = null;
      ws.close();
      this.setConnected(false);
      this.retry();
      return;
    }
    this.send({action: 'ping'});
  }

  setConnected(on) {
    if (on === this.connected) return;
    this.connected = on;
    if (!on) {
      for (const cb of this.pending.values()) cb({status: 0, error: 'disconnected'});
      this.pending.clear();
    }
    if (this.h.onConnected) this.h.onConnected(on);
  }

  // False when not connected (nothing sent).
  send(message, callback) {
    if (!this.ws || this.ws.readyState !== WebSocket.OPEN) return false;
    message.id = this.nextId++;
    if (callback) this.pending.set(message.id, callback);
    this.ws.send(JSON.stringify(message));
    return true;
  }
};

// Messages the page's streams received (for measurements).
Tess.Stream.received = 0;

// The connection mark of a page's bar.
Tess.showConnection = function (el, on) {
  el.textContent = on ? 'connected' : 'disconnected: reconnecting';
  el.className = 'conn ' + (on ? 'up' : 'down');
};
