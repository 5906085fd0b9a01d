// /: the racks and their panels with their state, online and configuration
// marks, updating live; each panel and rack a link to its faces.
'use strict';
(function () {
  const $ = id => document.getElementById(id);
  let list = null, stream = null;

  function mark(on, started, title) {
    const img = document.createElement('img');
    img.src = '/web/images/' + (!started ? 'started_no.png' : on ? 'sign_ok.png' : 'sign_notok.png');
    img.alt = title + ': ' + (!started ? 'not started' : on ? 'yes' : 'no');
    img.title = img.alt;
    return img;
  }

  function row(p) {
    const tr = document.createElement('tr');
    tr.dataset.uid = p.uid;
    if (p.state === 'error') tr.className = 'error';
    const cell = (content, cls) => {
      const td = document.createElement('td');
      if (cls) td.className = cls;
      if (content instanceof Node) td.appendChild(content); else td.textContent = content;
      tr.appendChild(td);
      return td;
    };
    const a = document.createElement('a');
    a.href = '/panel/' + p.uid;
    a.textContent = p.name || ('panel ' + p.uid);
    cell(a);
    cell(p.type || '-');
    cell(p.ip + ':' + p.port);
    const started = p.state === 'started';
    const st = document.createElement('img');
    st.src = '/web/images/' + (started ? 'started_yes.png' : p.state === 'error' ? 'sign_notok.png' : 'started_no.png');
    st.alt = st.title = p.state;
    cell(st, 'mark');
    cell(p.state + (p.state === 'error' && p.error ? ': ' + p.error : ''), 'state');
    cell(mark(p.online, started, 'online'), 'mark');
    cell(mark(p.configLoaded, started, 'configuration'), 'mark');
    return tr;
  }

  function render() {
    const main = $('racks');
    main.textContent = '';
    if (!list) return;
    const byUid = new Map(list.panels.map(p => [p.uid, p]));
    for (const rack of list.racks) {
      const h = document.createElement('h2');
      if (rack.name) {
        const a = document.createElement('a');
        a.href = '/rack/' + encodeURIComponent(rack.name);
        a.textContent = rack.name;
        h.appendChild(a);
      } else {
        h.textContent = 'Panels';
      }
      main.appendChild(h);
      const table = document.createElement('table');
      const head = document.createElement('tr');
      for (const t of ['Panel', 'Type', 'Address', 'Started', 'State', 'Online', 'Cfg']) {
        const th = document.createElement('th');
        th.textContent = t;
        head.appendChild(th);
      }
      table.appendChild(head);
      for (const uid of rack.panels) {
        const p = byUid.get(uid);
        if (p) table.appendChild(row(p));
      }
      main.appendChild(table);
    }
  }

  stream = new Tess.Stream({wantsList: true, uids: []}, {
    onConnected(on) { Tess.showConnection($('conn'), on); },
    onPanels(l) { list = l; render(); },
    onPanel(p) {
      if (!list) return;
      const i = list.panels.findIndex(q => q.uid === p.uid);
      if (i < 0) return;
      list.panels[i] = p;
      const old = document.querySelector('tr[data-uid="' + p.uid + '"]');
      if (old) old.replaceWith(row(p));
    },
    onPanelsChanged() { stream.send({action: 'get'}, r => { if (r.status === 200) { list = r.panels; render(); } }); },
    onUnauthorised() { Tess.showConnection($('conn'), false); $('conn').textContent = 'the host asks for a token: open the link it shows'; },
  });
  Tess.showConnection($('conn'), false);
})();
