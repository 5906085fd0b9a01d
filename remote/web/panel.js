// /panel/UID: one panel's face, live. ?view=1 only views (the server
// refuses the connection's presses); ?width=N draws the face N CSS pixels
// wide instead of the window's width.
'use strict';
(function () {
  const uid = Number(location.pathname.split('/')[2]);
  const params = new URLSearchParams(location.search);
  const view = params.get('view') === '1';
  const fixedWidth = Number(params.get('width')) || 0;
  const $ = id => document.getElementById(id);
  let face = null, stream = null, connected = false, presses = false, type = null;

  function notice(text) {
    $('notice').textContent = text || '';
    $('notice').hidden = !text;
  }

  let lastSummary = null;
  function showSummary(p) {
    lastSummary = p;
    $('name').textContent = p.name || ('panel ' + p.uid);
    document.title = (p.name || ('panel ' + p.uid)) + ' - Tessaline';
    let s = (p.type || 'no type') + ' ' + p.ip + ':' + p.port + ', ' + p.state;
    // Until the host is reached again, only as it was last seen.
    if (!connected) s += ' (when last connected)';
    if (p.state === 'error' && p.error) s += ' (' + p.error + ')';
    else if (p.state === 'started') s += p.online ? ', online' : ', offline';
    $('summary').textContent = s;
    // A panel given another type has another face.
    if (type !== null && p.type !== type) location.reload();
    type = p.type;
  }

  function showMode() {
    $('mode').textContent = view ? 'view only' : (presses ? '' : 'presses refused by the host');
    if (face) face.setLive(connected, presses && !view);
  }

  function press(item, down) {
    const ok = stream.send({action: down ? 'press' : 'release', uid: uid, key: item.d.id}, r => {
      if (r.status && r.status !== 200) notice(r.error || ('refused: ' + r.status));
      if (r.status === 403 && down) { presses = false; showMode(); }
    });
    if (!ok && down) face.releaseAll(false);
  }

  async function start() {
    let desc;
    try {
      desc = await Tess.fetchFace(uid);
    } catch (e) {
      notice('This panel cannot be shown: ' + e.message);
      setTimeout(start, 2000);
      return;
    }
    face = new Tess.Face($('faces'), desc, {press: press, width: fixedWidth});
    await face.load();
    stream = new Tess.Stream({panel: uid, view: view}, {
      onConnected(on) {
        connected = on;
        Tess.showConnection($('conn'), on);
        if (!on && lastSummary) showSummary(lastSummary);
        if (on) notice('');
        showMode();
      },
      onDetail(detail, mayPress) {
        presses = !!mayPress;
        showSummary(detail);
        face.applyDetail(detail);
        showMode();
      },
      onItem(u, item) { if (u === uid) face.applyItem(item); },
      onPanel(p) {
        if (p.uid !== uid) return;
        showSummary(p);
        // Switches (presses allowed) come with the panel's summary.
        stream.requestDetail(uid);
      },
      onBuzzer(u, on) { if (u === uid) Tess.assets.buzz(uid, on); },
      onPanelsChanged() { stream.requestDetail(uid); },
      onUnauthorised() { notice('The host asks for a token: open the link it shows.'); },
    });
    window.addEventListener('resize', () => {
      clearTimeout(window.tessResize);
      window.tessResize = setTimeout(() => face.resize(), 100);
    });
  }
  Tess.showConnection($('conn'), false);
  start();
})();
