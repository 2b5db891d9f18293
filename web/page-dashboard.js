// The dashboard: the fleet's counts, the server's state, alerts and what was done.
import { pages, state } from './app.js';
import { $, esc } from './ui.js';

pages.dashboard = {
  build: () => `<h1>Dashboard</h1>
    <div class="cards" id="cards"></div>
    <div class="columns even">
      <section><h2>Alerts</h2><ul class="plain" id="alerts"></ul></section>
      <section><h2>Commands and files</h2><ul class="plain" id="recent"></ul></section>
    </div>`,
  update(what) {
    const cards = $('#cards');
    if (!cards) return;
    let online = 0;
    for (const p of state.players) if (p.online) online += 1;
    const offline = state.players.length - online;
    const r = state.ready;
    const serving = r ? (r.serving_files ? `Serving ${esc(state.folder)} on port 5003`
      : state.folder ? 'Not serving files: port 5003 could not be opened (see the server log)'
        : 'Not serving files: no content folder is chosen') : '…';
    const feedback = r ? (r.feedback_socket ? 'Hearing players on port 5001' : 'Not hearing players: port 5001 is taken') : '';
    const scan = state.scan?.scanning ? `<p>Scanning the content folder: ${state.scan.done} of ${state.scan.total}
        <progress max="${state.scan.total || 1}" value="${state.scan.done}" aria-label="scan progress"></progress></p>` : '';
    const uploads = [...state.uploads.values()].filter((u) => !u.done);
    const copying = (uploads.length ? `<p>Uploading ${uploads.length} file(s) from this browser</p>` : '')
      + (state.copy?.copying ? `<p>Copying ${state.copy.transfers} file(s) into the folder
        <progress max="100" value="${state.copy.progress}" aria-label="copy progress"></progress></p>` : '');
    cards.innerHTML = `
      <div class="card good"><div class="big" id="online-count">${online}</div>players online</div>
      <div class="card${offline ? ' bad' : ''}"><div class="big" id="offline-count">${offline}</div>players offline</div>
      <div class="card ${r?.serving_files && r?.feedback_socket ? 'good' : 'bad'}"><strong>Server</strong>
        <p id="server-state">${serving}</p><p>${feedback}</p>${scan}${copying}</div>`;
    if (what === 'all' || what === 'notes') {
      const list = (entries, none) => entries.length ? entries.slice(0, 15).map((e) =>
        `<li><span class="muted">${new Date(e.at).toLocaleTimeString()}</span> ${esc(e.text)}${e.times ? ` <span class="muted">(${e.times} times)</span>` : ''}</li>`).join('')
        : `<li class="muted">${none}</li>`;
      $('#alerts').innerHTML = list(state.alerts, 'No open alerts.');
      $('#recent').innerHTML = list(state.recent, 'Nothing since this page opened.');
    }
  },
};
