// /rack/NAME: every face of a rack, one under the other, scaled to the
// window's width as a rack window shows them. ?view=1 only views.
'use strict';
(function () {
  const name = decodeURIComponent(location.pathname.substring('/rack/'.length));
  const params = new URLSearchParams(location.search);
  const view = params.get('view') === '1';
  const fixedWidth = Number(params.get('width')) || 0;
  const $ = id => document.getElementById(id);
  const faces = new Map(); // uid -> {face, presses}
  let stream = null, connected = false, uids = [];

  function notice(text) {
    $('notice').textContent = text || '';
    $('notice').hidden = !text;
  }

  function live() {
    for (const f of faces.values()) f.face.setLive(connected, f.presses && !view);
    $('mode').textContent = view ? 'view only' : '';
  }

  function press(uid) {
    return (item, down) => {
      const ok = stream.send({action: down ? 'press' : 'release', uid: uid, key: item.d.id}, r => {
        if (r.status && r.status !== 200) notice(r.error || ('refused: ' + r.status));
        if (r.status === 403 && down && faces.get(uid)) { faces.get(uid).presses = false; live(); }
      });
      if (!ok && down) faces.get(uid).face.releaseAll(false);
    };
  }

  async function build(list) {
    const rack = list.racks.find(r => r.name === name);
    if (!rack) { notice('There is no rack "' + name + '" any more.'); return; }
    const same = rack.panels.length === uids.length && rack.panels.every((u, i) => u === uids[i]);
    if (same && faces.size) return;
    uids = rack.panels.slice();
    $('faces').textContent = '';
    faces.clear();
    Tess.faces.length = 0;
    const byUid = new Map(list.panels.map(p => [p.uid, p]));
    for (const uid of uids) {
      const block = document.createElement('section');
      block.className = 'faceblock';
      const label = document.createElement('div');
      label.className = 'label';
      const a = document.createElement('a');
      a.href = '/panel/' + uid + (view ? '?view=1' : '');
      a.textContent = (byUid.get(uid) || {}).name || ('panel ' + uid);
      label.appendChild(a);
      block.appendChild(label);
      $('faces').appendChild(block);
      const desc = await Tess.fetchFace(uid);
      const face = new Tess.Face(block, desc, {press: press(uid), width: fixedWidth});
      faces.set(uid, {face: face, presses: false});
      await face.load();
      if (connected) stream.requestDetail(uid);
    }
    live();
  }

  function start() {
    $('name').textContent = 'Rack ' + name;
    document.title = name + ' - Tessaline';
    stream = new Tess.Stream({view: view, wantsList: true, uids: []}, {
      onConnected(on) {
        connected = on;
        Tess.showConnection($('conn'), on);
        if (on) notice('');
        live();
      },
      onPanels(list) {
        build(list).then(() => { for (const uid of uids) stream.requestDetail(uid); })
          .catch(e => notice(e.message));
      },
      onDetail(detail, mayPress) {
        const f = faces.get(detail.uid);
        if (!f) return;
        f.presses = !!mayPress;
        f.face.applyDetail(detail);
        live();
      },
      onItem(uid, item) { const f = faces.get(uid); if (f) f.face.applyItem(item); },
      onPanel(p) { if (faces.has(p.uid)) stream.requestDetail(p.uid); },
      onBuzzer(uid, on) { if (faces.has(uid)) Tess.assets.buzz(uid, on); },
      onPanelsChanged() { stream.send({action: 'get'}, r => { if (r.status === 200) build(r.panels); }); },
      onUnauthorised() { notice('The host asks for a token: open the link it shows.'); },
    });
    window.addEventListener('resize', () => {
      clearTimeout(window.tessResize);
      window.tessResize = setTimeout(() => { for (const f of faces.values()) f.face.resize(); }, 100);
    });
  }
  Tess.showConnection($('conn'), false);
  start();
})();
