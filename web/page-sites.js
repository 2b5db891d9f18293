// A hub's sites: each one's health as it tells it through the broker, a
// site's players on click, and the same actions for one, several or all.
import { api } from './api.js';
import { currentPage, pages } from './app.js';
import { $, $$, act, ago, esc, toast } from './ui.js';

const sites = { list: [], chosen: new Set(), open: '', timer: 0 };

const ACTIONS = {
  send: { label: 'send playlist', path: '/api/send', body: (list, players) => ({ playlist: list, players }) },
  play: { label: 'play', path: '/api/commands', body: (_, players) => ({ command: 'PLAY', players }) },
  pause: { label: 'pause', path: '/api/commands', body: (_, players) => ({ command: 'PAUSE', players }) },
};

function players(text) {
  const words = text.split(/[\s,]+/).filter(Boolean);
  return !words.length || (words.length === 1 && words[0] === 'all') ? 'all' : words;
}

function row(s) {
  const p = s.players || {};
  const alerts = (s.alerts || []).length;
  return `<tr data-site="${esc(s.name)}" class="${s.online ? '' : 'offline'}${sites.open === s.name ? ' open' : ''}">
    <td><input type="checkbox" aria-label="choose ${esc(s.name)}" ${sites.chosen.has(s.name) ? 'checked' : ''}></td>
    <td><button type="button" class="link">${esc(s.name)}</button></td>
    <td><span class="${s.online ? 'state-READY' : 'state-OFFLINE'}">${s.online ? 'online' : 'offline'}</span></td>
    <td class="number">${p.online ?? '—'}</td><td class="number">${p.offline ?? '—'}</td>
    <td>${s.last_seen ? esc(ago(s.last_seen)) : '—'}</td>
    <td class="number">${alerts ? `<strong>${alerts}</strong>` : '0'}</td>
    <td>${s.announcement?.running ? 'running' : ''}</td></tr>`;
}

async function load(page) {
  const r = await api('GET', '/api/sites');
  sites.list = r.sites;
  const filter = $('#site-filter', page).value.trim().toLowerCase();
  const shown = sites.list.filter((s) => !filter || s.name.includes(filter));
  const online = sites.list.filter((s) => s.online).length;
  $('#site-count', page).textContent = `${sites.list.length} sites: ${online} online, ${sites.list.length - online} offline`
    + (r.broker ? '' : ' (the hub is not connected to the broker)');
  $('#sites-body', page).innerHTML = shown.map(row).join('') || '<tr><td colspan="8" class="muted">No site has reported.</td></tr>';
  if (sites.open) await openSite(page, sites.open);
}

async function openSite(page, name) {
  sites.open = name;
  const list = await api('GET', `/api/sites/${encodeURIComponent(name)}/players`);
  $('#site-players', page).innerHTML = `<h2>Players of ${esc(name)}: ${list.length}</h2>
    <table class="grid"><thead><tr><th>Id</th><th>Name</th><th>State</th><th>Playback</th><th>List</th></tr></thead>
    <tbody>${list.map((p) => `<tr class="${p.online ? '' : 'offline'}"><td>${esc(p.id)}</td><td>${esc(p.name)}</td>
      <td>${p.online ? esc(p.state) : 'offline'}</td><td>${esc(p.playback)}</td><td>${esc(p.list?.name || '—')}</td></tr>`)
    .join('')}</tbody></table>
    <p class="muted">As the site last told them: it tells a player's changes, at most every 5 s each.</p>`;
  $$('#sites-body tr', page).forEach((tr) => tr.classList.toggle('open', tr.dataset.site === name));
}

async function run(page, all) {
  const action = ACTIONS[$('#site-action', page).value];
  const list = $('#site-list', page).value.trim();
  if (action === ACTIONS.send && !list) return toast('Name the playlist to send.');
  const chosen = all ? 'all' : [...sites.chosen];
  if (!all && !chosen.length) return toast('Choose sites first, or run on all.');
  const body = { sites: chosen, method: 'POST', path: action.path, body: action.body(list, players($('#site-players-to', page).value)) };
  const r = await act(() => api('POST', '/api/sites/requests', body), null, $('#site-form', page));
  if (!r) return;
  const lines = Object.entries(r.replies).map(([name, reply]) =>
    `<li><strong>${esc(name)}</strong>: ${reply.status < 300 ? 'done' : `refused (${reply.status}): ${esc(reply.body?.error || '')}`}</li>`)
    .concat(r.queued.map((name) => `<li><strong>${esc(name)}</strong>: offline, queued at the broker until it returns</li>`))
    .concat(r.missing.map((name) => `<li><strong>${esc(name)}</strong>: no reply yet</li>`));
  $('#site-results', page).innerHTML = `<h2>${esc(action.label)}: ${lines.length} sites</h2><ul>${lines.join('')}</ul>`;
}

pages.sites = {
  build: () => `<h1>Sites</h1>
    <div class="toolbar"><label for="site-filter">Filter</label><input id="site-filter" type="search">
      <span id="site-count" class="muted"></span></div>
    <form id="site-form" class="toolbar">
      <label for="site-action">Action</label>
      <select id="site-action">${Object.entries(ACTIONS).map(([k, a]) => `<option value="${k}">${a.label}</option>`).join('')}</select>
      <label for="site-list">Playlist</label><input id="site-list" placeholder="name">
      <label for="site-players-to">Players</label><input id="site-players-to" value="all" placeholder="all, ids, group:NAME">
      <button type="button" id="site-run">Run on chosen</button><button type="button" id="site-run-all">Run on all sites</button>
    </form>
    <table class="grid" id="sites"><thead><tr><th><input type="checkbox" id="site-every" aria-label="choose every site"></th>
      <th>Site</th><th>State</th><th>Online</th><th>Offline</th><th>Last seen</th><th>Alerts</th><th>Announcement</th></tr></thead>
      <tbody id="sites-body"></tbody></table>
    <section id="site-results"></section>
    <section id="site-players"></section>`,
  bind(page) {
    $('#site-filter', page).addEventListener('input', () => load(page).catch((e) => toast(e.message)));
    $('#site-run', page).addEventListener('click', () => run(page, false));
    $('#site-run-all', page).addEventListener('click', () => run(page, true));
    $('#site-every', page).addEventListener('change', (e) => {
      sites.chosen = e.target.checked ? new Set(sites.list.map((s) => s.name)) : new Set();
      $$('#sites-body input[type=checkbox]', page).forEach((box) => { box.checked = e.target.checked; });
    });
    $('#sites-body', page).addEventListener('click', (e) => {
      const tr = e.target.closest('tr[data-site]');
      if (!tr) return;
      if (e.target.matches('input[type=checkbox]')) {
        if (e.target.checked) sites.chosen.add(tr.dataset.site); else sites.chosen.delete(tr.dataset.site);
      } else if (e.target.closest('button')) {
        openSite(page, tr.dataset.site).catch((error) => toast(error.message));
      }
    });
    // Sites tell the broker, not this page's event stream: looked at every 5 s while shown.
    clearInterval(sites.timer);
    sites.timer = setInterval(() => {
      if (currentPage() !== 'sites' || !page.isConnected) return clearInterval(sites.timer);
      load(page).catch(() => {});
    }, 5000);
    load(page).catch((e) => toast(e.message));
  },
};

// The page is a hub's only: the link shows where the server answers for sites.
export async function offerSites() {
  const link = $('header nav a[data-page="sites"]');
  link.hidden = !(await api('GET', '/api/sites').then(() => true, () => false));
}
